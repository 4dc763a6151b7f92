#!/usr/bin/env python3
"""Measures kirlatin side by side with find and with the floor program, and prints the table.

    bench.py KIRLATIN FLOOR WORKDIR [ENTRIES...]

Makes the trees in WORKDIR (bench/make_tree.py), runs every pair of commands in one hyperfine
run, and reports for each pair the median of the run-by-run ratios kirlatin / other. Every
renaming run starts from a fresh copy of its tree (hard links: the copy's names are its own).
Peak memory is the largest resident set of a single kirlatin run, as GNU time reports it.
"""
import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def make_tree(entries, path, latin):
    if not os.path.isdir(path):
        command = [sys.executable, os.path.join(HERE, "make_tree.py"), str(entries), path]
        subprocess.run(command + (["--latin"] if latin else []), check=True)
    return path


def label(entries):
    return f"{entries // 1000000}M" if entries >= 1000000 else f"{entries // 1000}k"


def side_by_side(work, name, commands, runs, output="null", prepare=None):
    """Runs the commands in one hyperfine run; returns the median of each and the median ratio
    of the first to the second, run by run."""
    report = os.path.join(work, name + ".json")
    command = ["hyperfine", "--shell=none", "--style=none", "--runs", str(runs),
               "--output", output, "--export-json", report]
    if prepare:
        command += ["--prepare", prepare]
    else:
        command += ["--warmup", "2"]
    subprocess.run(command + commands, check=True, stdout=subprocess.DEVNULL)
    with open(report) as data:
        times = [result["times"] for result in json.load(data)["results"]]
    ratio = statistics.median(a / b for a, b in zip(times[0], times[1]))
    return [statistics.median(t) for t in times], ratio


def peak_rss_kib(command, prepare=None):
    if prepare:
        subprocess.run(prepare, shell=True, check=True)
    result = subprocess.run(["/usr/bin/time", "--format=%M"] + command, check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    kirlatin, floor, work = sys.argv[1:4]
    sizes = [int(n) for n in sys.argv[4:]] or [100000, 1000000]
    small = min(sizes)
    rows = []

    def row(case, other, target, figures):
        rows.append((case, other, target, figures))
        print(f"  {case}: {figures}", file=sys.stderr, flush=True)

    rss = {}
    for entries in sizes:
        tree = make_tree(entries, os.path.join(work, f"latin-{label(entries)}"), latin=True)
        (tool, find), ratio = side_by_side(work, f"walk-{label(entries)}",
                                           [f"{kirlatin} {tree}", f"find {tree}"],
                                           runs=10 if entries <= 100000 else 5)
        row(f"walk, nothing to rename ({label(entries)})", "`find ROOT`", "≤ 0.9×",
            f"{ratio:.2f}× ({tool * 1000:.0f} ms vs {find * 1000:.0f} ms)")
        rss[f"walk {label(entries)}"] = peak_rss_kib([kirlatin, tree])

    russian = make_tree(small, os.path.join(work, f"russian-{label(small)}"), latin=False)
    copy = os.path.join(work, "copy")
    fresh = f"sh -c 'rm -rf {copy} && cp -al {russian} {copy}'"
    for output, name, target in ((os.path.join(work, "lines.txt"), "a file", "≤ 1.05×"),
                                 ("pipe", "a pipe", "≤ 1.10×")):
        (tool, bottom), ratio = side_by_side(work, f"rename-{name[2:]}",
                                             [f"{kirlatin} {copy}", f"{floor} {copy}"],
                                             runs=10, output=output, prepare=fresh)
        row(f"every name renamed, lines into {name} ({label(small)})", "floor program", target,
            f"{ratio:.2f}× ({tool * 1000:.0f} ms vs {bottom * 1000:.0f} ms)")
    rss[f"rename {label(small)}"] = peak_rss_kib([kirlatin, copy], prepare=fresh)
    row("peak memory (RSS)", "—", "≤ 2 MiB, the same at both sizes",
        ", ".join(f"{case}: {kib / 1024:.2f} MiB" for case, kib in rss.items()))

    print("| case | compared with | target | measured |")
    print("|---|---|---|---|")
    for case, other, target, figures in rows:
        print(f"| {case} | {other} | {target} | {figures} |")


if __name__ == "__main__":
    main()
