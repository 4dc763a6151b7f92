#!/usr/bin/env python3
"""Measures kirlatin side by side with the floor program and with find, and prints the table.

    bench.py KIRLATIN FLOOR WORKDIR [ENTRIES...]

Makes the trees in WORKDIR (bench/make_tree.py); at each size runs the commands compared in one
hyperfine run, and reports the median of the run-by-run ratios kirlatin / other, and the ratio
of the mean user CPU of the renaming runs. Every renaming run starts from a fresh copy of its
tree (hard links: the copy's names are its own). Peak memory is the largest resident set of a
single kirlatin run, as GNU time reports it.
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
    """Runs the commands in one hyperfine run; returns, for each command after the first, the
    median of the run-by-run ratios of the first to it, and the results as hyperfine gives them
    (median time, mean user CPU)."""
    report = os.path.join(work, name + ".json")
    command = ["hyperfine", "--shell=none", "--style=none", "--runs", str(runs),
               "--output", output, "--export-json", report]
    if prepare:
        command += ["--prepare", prepare]
    else:
        command += ["--warmup", "2"]
    subprocess.run(command + commands, check=True, stdout=subprocess.DEVNULL)
    with open(report) as data:
        results = json.load(data)["results"]
    ratios = [statistics.median(a / b for a, b in zip(results[0]["times"], other["times"]))
              for other in results[1:]]
    return ratios, results


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


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
    rows = []

    def row(case, other, target, figures):
        rows.append((case, other, target, figures))
        print(f"  {case}, {other}: {figures}", file=sys.stderr, flush=True)

    rss = {}
    for entries in sizes:
        size = label(entries)
        runs = 10 if entries <= 100000 else 5
        tree = make_tree(entries, os.path.join(work, f"latin-{size}"), latin=True)
        (to_floor, to_find), results = side_by_side(
            work, f"walk-{size}", [f"{kirlatin} {tree}", f"{floor} {tree}", f"find {tree}"], runs)
        tool, bottom, find = (result["median"] for result in results)
        row(f"walk, nothing to rename ({size})", "floor program", "≤ 1.10×",
            f"{to_floor:.2f}× ({ms(tool)} vs {ms(bottom)})")
        row(f"walk, nothing to rename ({size})", "`find ROOT`", "≤ 0.8×",
            f"{to_find:.2f}× ({ms(tool)} vs {ms(find)})")
        rss[f"walk {size}"] = peak_rss_kib([kirlatin, tree])

        russian = make_tree(entries, os.path.join(work, f"russian-{size}"), latin=False)
        copy = os.path.join(work, "copy")
        fresh = f"sh -c 'rm -rf {copy} && cp -al {russian} {copy}'"
        (ratio,), results = side_by_side(work, f"rename-{size}",
                                         [f"{kirlatin} {copy}", f"{floor} {copy}"], runs,
                                         output=os.path.join(work, "lines.txt"), prepare=fresh)
        (tool, bottom), (tool_user, bottom_user) = (
            [result[key] for result in results] for key in ("median", "user"))
        row(f"every name renamed, lines into a file ({size})", "floor program", "≤ 1.05×",
            f"{ratio:.2f}× ({ms(tool)} vs {ms(bottom)})")
        row(f"user CPU of that rename ({size})", "floor program", "≤ 2×",
            f"{tool_user / bottom_user:.2f}× ({ms(tool_user)} vs {ms(bottom_user)})")
        rss[f"rename {size}"] = peak_rss_kib([kirlatin, copy], prepare=fresh)
        subprocess.run(["rm", "-rf", russian, copy], check=True)
    row("peak memory (RSS)", "—", "≤ 2 MiB at every size",
        ", ".join(f"{case}: {kib / 1024:.2f} MiB" for case, kib in rss.items()))

    print("| case | compared with | target | measured |")
    print("|---|---|---|---|")
    for case, other, target, figures in rows:
        print(f"| {case} | {other} | {target} | {figures} |")


if __name__ == "__main__":
    main()
