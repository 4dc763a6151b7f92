#!/usr/bin/env python3
"""Measures kirlatin side by side with the floor program (the least a renamer does), the listing
limit (the least a walk does, bench/limit.c) and find, and prints the table.

    bench.py [--picture SVG] [--shape tree|wide] KIRLATIN FLOOR LIMIT WORKDIR [ENTRIES...]

Makes the trees in WORKDIR (bench/make_tree.py), at each size (10k and 100k unless told) both a
tree of real words and one directory holding that many subdirectories (or only the --shape
named), and with --picture draws the time an entry takes against the size with gnuplot. At each size the commands compared run in turn,
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
sys.path.insert(0, HERE)
from make_tree import latin  # noqa: E402


def make_tree(entries, path, latin, wide):
    if not os.path.isdir(path):
        command = [sys.executable, os.path.join(HERE, "make_tree.py"), str(entries), path]
        command += (["--latin"] if latin else []) + (["--wide"] if wide else [])
        subprocess.run(command, check=True)
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


def plot(points, picture):
    """Draws the time per entry against the number of entries, one panel per shape of tree, as an
    SVG made by gnuplot, from these points and those of earlier runs kept beside it (PICTURE.dat:
    a run of one size or shape adds its points to the others')."""
    data = os.path.splitext(picture)[0] + ".dat"
    if os.path.exists(data):
        with open(data) as kept:
            shape = None
            for line in kept:
                if line.startswith("# "):
                    shape = line[2:].split(":")[0]
                elif line.strip():
                    entries, *per_entry = line.split()
                    points[shape].setdefault(
                        int(entries), [float(t) * int(entries) / 1e6 for t in per_entry])
    with open(data, "w") as out:
        for shape in ("tree", "wide"):
            out.write(f"# {shape}: entries, then microseconds an entry: kirlatin renaming, the "
                      "floor, kirlatin walking, the listing limit, find\n")
            for entries, times in sorted(points[shape].items()):
                out.write(f"{entries} " + " ".join(f"{t * 1e6 / entries:.3f}" for t in times)
                          + "\n")
            out.write("\n\n")
    panels = (("tree", "a tree of real words"), ("wide", "one directory of subdirectories"))
    script = [
        "set terminal svg size 900,420 dynamic font 'sans,12'",
        f"set output '{picture}'",
        "set multiplot layout 1,2",
        "set logscale x", "set logscale y", "set key top left", "set grid",
        "set xlabel 'entries'", "set ylabel 'µs an entry'", "set format x '%.0s%c'",
    ]
    styles = (("kirlatin, renaming every name", 2), ("floor program, renaming", 3),
              ("kirlatin, walking", 4), ("listing limit", 5), ("find", 6))
    for index, (_, title) in enumerate(panels):
        lines = ", ".join(f"'{data}' index {index} using 1:{column} with linespoints "
                          f"title '{name}'" for name, column in styles)
        script += [f"set title '{title}'", f"plot {lines}"]
    script.append("unset multiplot")
    subprocess.run(["gnuplot"], input="\n".join(script) + "\n", text=True, check=True)


def main():
    arguments = sys.argv[1:]
    options = {"--picture": None, "--shape": None}
    for option in options:
        if option in arguments:
            at = arguments.index(option)
            options[option] = arguments[at + 1]
            del arguments[at:at + 2]
    picture = options["--picture"]
    if len(arguments) < 4:
        sys.exit(__doc__)
    kirlatin, floor, limit, work = arguments[:4]
    sizes = [int(n) for n in arguments[4:]] or [10000, 100000]
    rows = []
    points = {"tree": {}, "wide": {}}

    def row(case, other, target, figures):
        rows.append((case, other, target, figures))
        print(f"  {case}, {other}: {figures}", file=sys.stderr, flush=True)

    def ratio(ours, other):
        return (f"{median_ratio(ours, other):.2f}× "
                f"({ms(statistics.median(ours))} vs {ms(statistics.median(other))})")

    rss = {}
    for entries in sizes:
        runs = 10 if entries <= 100000 else 3
        for shape, wide in (("tree", False), ("wide", True)):
            if options["--shape"] not in (None, shape):
                continue
            size = f"{label(entries)}" if not wide else f"{label(entries)} subdirectories"
            tree = make_tree(entries, os.path.join(work, f"latin-{shape}-{entries}"), latin=True,
                             wide=wide)
            tool, bottom, find = side_by_side(
                [[kirlatin, tree], [limit, tree], ["find", tree]], runs)
            row(f"walk, nothing to rename ({size})", "listing limit", "≤ 1.10×",
                ratio(tool[0], bottom[0]))
            if not wide:
                row(f"walk, nothing to rename ({size})", "`find ROOT`", "≤ 0.6×",
                    ratio(tool[0], find[0]))
                rss[f"walk {size}"] = peak_rss_kib([kirlatin, tree])
            walked = [statistics.median(x[0]) for x in (tool, bottom, find)]

            russian = make_tree(entries, os.path.join(work, f"russian-{shape}-{entries}"),
                                latin=False, wide=wide)
            copy = os.path.join(work, "copy")

            back = {latin(name): name for name in os.listdir(russian)} if wide else {}

            def fresh_copy():
                if wide and os.path.isdir(copy):
                    # Its empty subdirectories take their Russian names back: far faster than
                    # removing a million directories and making them anew.
                    for name in os.listdir(copy):
                        if back.get(name, name) != name:
                            os.rename(os.path.join(copy, name), os.path.join(copy, back[name]))
                    return
                subprocess.run(["rm", "-rf", copy], check=True)
                subprocess.run(["cp", "-al", russian, copy], check=True)

            tool, bottom = side_by_side([[kirlatin, copy], [floor, copy]], runs,
                                        output=os.path.join(work, "lines.txt"),
                                        prepare=fresh_copy)
            target = "≤ 1.10×" if wide else "≤ 1.00×"
            row(f"every name renamed, lines into a file ({size})", "floor program", target,
                ratio(tool[0], bottom[0]))
            if not wide:
                tool_user, bottom_user = statistics.mean(tool[1]), statistics.mean(bottom[1])
                row(f"user CPU of that rename ({size})", "floor program", "≤ 2×",
                    f"{tool_user / bottom_user:.2f}× ({ms(tool_user)} vs {ms(bottom_user)})")
            rss[f"rename {size}"] = peak_rss_kib([kirlatin, copy], prepare=fresh_copy)
            points[shape][entries] = [statistics.median(tool[0]), statistics.median(bottom[0]),
                                      walked[0], walked[1], walked[2]]
            # The trees stay to the end (run.sh removes them): they are made by name, so a run
            # given the same WORKDIR again takes them up as they are.
            os.rename(copy, copy + f"-{shape}-{entries}")
    deep = os.path.join(work, "deep")
    level = deep
    for depth in range(120):  # 120 levels of 700 entries: one directory and 699 files each
        level = os.path.join(level, "д")
        os.makedirs(level)
        for i in range(699):
            open(os.path.join(os.path.dirname(level), f"файл{i}"), "w").close()
    rss["deep tree, 120×700"] = peak_rss_kib([kirlatin, deep])
    subprocess.run(["rm", "-rf", deep], check=True)
    row("peak memory (RSS)", "—", "≤ 2 MiB; ≤ 4 MiB renaming 100k subdirectories",
        ", ".join(f"{case}: {kib / 1024:.2f} MiB" for case, kib in rss.items()))
    if picture:
        plot(points, picture)

    print("| case | compared with | target | measured |")
    print("|---|---|---|---|")
    for case, other, target, figures in rows:
        print(f"| {case} | {other} | {target} | {figures} |")


if __name__ == "__main__":
    main()
