#!/usr/bin/env python3
"""Measures kirlatin side by side with the floor program (the least a renamer does), the listing
limit (the least a walk does, bench/limit.c) and find, and prints the table.

    bench.py KIRLATIN FLOOR LIMIT WORKDIR [ENTRIES...]

Makes the trees in WORKDIR (bench/make_tree.py). At each size the commands compared run in turn,
run after run (the order reversed every other run, after one run of each to warm up), so that
every run of kirlatin has the others right beside it in time: a drift of the machine then
shifts both sides of a ratio alike. Each ratio is the median of the run-by-run ratios
kirlatin / other; the times shown are the medians of each, and user CPU the mean over the runs,
as wait4() reports it. Every renaming run starts from a fresh copy of its tree (hard links: the
copy's names are its own), made before the clock starts. Peak memory is the largest resident set
of a single kirlatin run, at each size and on a tree 120 levels deep with 700 entries a level,
as GNU time reports it (a child of Python would count the Python it
was forked from).
"""
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def make_tree(entries, path, latin):
    if not os.path.isdir(path):
        command = [sys.executable, os.path.join(HERE, "make_tree.py"), str(entries), path]
        subprocess.run(command + (["--latin"] if latin else []), check=True)
    return path


def label(entries):
    return f"{entries // 1000000}M" if entries >= 1000000 else f"{entries // 1000}k"


def run_once(command, output):
    """Runs command with its standard output into the file `output`; returns its wall time and
    user CPU time, in seconds."""
    with open(output, "wb") as out:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=out)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{' '.join(command)} exited with {process.returncode}")
    return wall, usage.ru_utime


def peak_rss_kib(command, prepare=None):
    if prepare:
        prepare()
    result = subprocess.run(["/usr/bin/time", "--format=%M"] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if result.returncode not in (0, 2):  # 2: something left, as below 259 units of path
        sys.exit(f"{command} failed with {result.returncode}")
    return int(result.stderr.strip().splitlines()[-1])


def side_by_side(commands, runs, output=os.devnull, prepare=None):
    """Runs the commands in turn; returns, per command, the wall times and user CPU times of its
    measured runs."""
    results = [([], []) for _ in commands]
    for run in range(runs + 1):
        order = list(range(len(commands)))
        for index in order if run % 2 == 0 else reversed(order):
            if prepare:
                prepare()
            measured = run_once(commands[index], output)
            if run > 0:
                for values, value in zip(results[index], measured):
                    values.append(value)
    return results


def median_ratio(ours, other):
    return statistics.median(a / b for a, b in zip(ours, other))


def ms(seconds):
    return f"{seconds * 1000:.0f} ms"


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    kirlatin, floor, limit, work = sys.argv[1:5]
    sizes = [int(n) for n in sys.argv[5:]] or [100000, 1000000]
    rows = []

    def row(case, other, target, figures):
        rows.append((case, other, target, figures))
        print(f"  {case}, {other}: {figures}", file=sys.stderr, flush=True)

    rss = {}
    for entries in sizes:
        size = label(entries)
        runs = 10 if entries <= 100000 else 5
        tree = make_tree(entries, os.path.join(work, f"latin-{size}"), latin=True)
        tool, bottom, find = side_by_side(
            [[kirlatin, tree], [limit, tree], ["find", tree]], runs)
        for other, name, target in ((bottom, "listing limit", "≤ 1.10×"),
                                    (find, "`find ROOT`", "≤ 0.6×")):
            row(f"walk, nothing to rename ({size})", name, target,
                f"{median_ratio(tool[0], other[0]):.2f}× "
                f"({ms(statistics.median(tool[0]))} vs {ms(statistics.median(other[0]))})")
        rss[f"walk {size}"] = peak_rss_kib([kirlatin, tree])

        russian = make_tree(entries, os.path.join(work, f"russian-{size}"), latin=False)
        copy = os.path.join(work, "copy")

        def fresh_copy():
            subprocess.run(["rm", "-rf", copy], check=True)
            subprocess.run(["cp", "-al", russian, copy], check=True)

        tool, bottom = side_by_side([[kirlatin, copy], [floor, copy]], runs,
                                    output=os.path.join(work, "lines.txt"), prepare=fresh_copy)
        row(f"every name renamed, lines into a file ({size})", "floor program", "≤ 1.00×",
            f"{median_ratio(tool[0], bottom[0]):.2f}× "
            f"({ms(statistics.median(tool[0]))} vs {ms(statistics.median(bottom[0]))})")
        tool_user, bottom_user = statistics.mean(tool[1]), statistics.mean(bottom[1])
        row(f"user CPU of that rename ({size})", "floor program", "≤ 2×",
            f"{tool_user / bottom_user:.2f}× ({ms(tool_user)} vs {ms(bottom_user)})")
        rss[f"rename {size}"] = peak_rss_kib([kirlatin, copy], prepare=fresh_copy)
        subprocess.run(["rm", "-rf", russian, copy], check=True)
    deep = os.path.join(work, "deep")
    level = deep
    for depth in range(120):  # 120 levels of 700 entries: one directory and 699 files each
        level = os.path.join(level, "д")
        os.makedirs(level)
        for i in range(699):
            open(os.path.join(os.path.dirname(level), f"файл{i}"), "w").close()
    rss["deep tree, 120×700"] = peak_rss_kib([kirlatin, deep])
    subprocess.run(["rm", "-rf", deep], check=True)
    row("peak memory (RSS)", "—", "≤ 2 MiB at every size",
        ", ".join(f"{case}: {kib / 1024:.2f} MiB" for case, kib in rss.items()))

    print("| case | compared with | target | measured |")
    print("|---|---|---|---|")
    for case, other, target, figures in rows:
        print(f"| {case} | {other} | {target} | {figures} |")


if __name__ == "__main__":
    main()
