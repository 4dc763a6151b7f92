#!/usr/bin/env python3
# check-docs.py SOURCE_DIR MANUAL_PAGE: each relative link between the documents leads to a file
# and, with "#anchor", to a heading of it (anchors as GitHub makes them); the manual page, as
# CMake configured it, renders without a warning.
import re
import subprocess
import sys
from pathlib import Path

source, manual = Path(sys.argv[1]), sys.argv[2]
faults = []
for doc in [source / "README.md", source / "CHANGELOG.md", *source.glob("doc/*.md")]:
    text = re.sub(r"```.*?```", "", doc.read_text(encoding="utf-8"), flags=re.S)
    for target in re.findall(r"\]\(([^)\s:]+)\)", text):  # no web address: there is no network
        path, _, anchor = target.partition("#")
        linked = doc.parent / path if path else doc
        headings = linked.read_text(encoding="utf-8") if linked.is_file() else ""
        anchors = {re.sub(r"[^\w\- ]", "", h.lower()).replace(" ", "-")
                   for h in re.findall(r"^#+ (.*?)\s*$", headings, flags=re.M)}
        if not linked.exists() or (anchor and anchor not in anchors):
            faults.append(f"{doc}: {target} leads nowhere")
render = subprocess.run(["groff", "-ww", "-man", "-Tutf8", manual], capture_output=True, text=True)
faults += [f"{manual}: {render.stderr.strip()}"] if render.returncode or render.stderr else []
print("\n".join(faults))
sys.exit(1 if faults else 0)
