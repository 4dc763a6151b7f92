#!/usr/bin/env python3
"""Checks the documents: every relative link between them names a file that exists and, with
"#anchor", a heading of that file (anchors made as GitHub makes them); and the manual page, as
CMake configured it, renders without a warning.

    check_docs.py SOURCE_DIR MANUAL_PAGE
"""
import glob
import os
import re
import subprocess
import sys


def anchors(path):
    found = set()
    with open(path, encoding="utf-8") as text:
        for line in text:
            heading = re.match(r"#+ (.*)", line)
            if heading:
                words = re.sub(r"[^\w\- ]", "", heading.group(1).strip().lower())
                found.add(words.replace(" ", "-"))
    return found


def main():
    source, manual = sys.argv[1:3]
    faults = []
    documents = [os.path.join(source, name) for name in ("README.md", "CHANGELOG.md")]
    for document in documents + glob.glob(os.path.join(source, "doc", "*.md")):
        text = re.sub(r"```.*?```", "", open(document, encoding="utf-8").read(), flags=re.S)
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target):
                continue  # a web address: not checked here, where there is no network
            path, _, anchor = target.partition("#")
            path = os.path.normpath(os.path.join(os.path.dirname(document), path)) if path \
                else document
            if not os.path.exists(path):
                faults.append(f"{document}: no file {target}")
            elif anchor and anchor not in anchors(path):
                faults.append(f"{document}: no heading {target}")
    render = subprocess.run(["groff", "-ww", "-man", "-Tutf8", manual], capture_output=True,
                            text=True)
    if render.returncode != 0 or render.stderr:
        faults.append(f"{manual}: {render.stderr.strip() or render.returncode}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
