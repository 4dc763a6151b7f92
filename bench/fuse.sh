#!/usr/bin/env bash
# On exfat-fuse, which has no rename that never replaces: counts the file-system calls kirlatin
# makes per renamed entry (strace -c: every call on a path or descriptor of the tree; signal
# masks and advisory locks aside, which FUSE leaves to the kernel), and times it against a
# check-then-rename program and a claim-then-rename one (bench/floor.c built so: the least that
# never replaces here), runs interleaved, each on a fresh copy:
#   bash bench/fuse.sh [ENTRIES] [RUNS]        # 3000 entries of real words, 5 runs
# As root: it mounts an image of its own, and unmounts it at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-3000} runs=${2:-5}
bash scripts/install-deps.sh cmake make g++ gcc hunspell-ru python3 exfat-fuse exfatprogs strace
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-fuse-bench.XXXXXX")" loop=
cleanup() {
    cd /
    umount "$work/mnt" 2>/dev/null || true
    [ -z "$loop" ] || losetup -d "$loop"
    rm -rf "$work"
}
trap cleanup EXIT
gcc -O2 -Wall -Wextra -Werror -DCHECK_THEN_RENAME -o "$work/check" bench/floor.c
gcc -O2 -Wall -Wextra -Werror -DCLAIM_THEN_RENAME -o "$work/claim" bench/floor.c
python3 bench/make_tree.py "$entries" "$work/tree" >/dev/null
truncate -s 1G "$work/image" && mkfs.exfat "$work/image" >/dev/null
loop=$(losetup -f --show "$work/image") && mkdir "$work/mnt" && mount.exfat-fuse "$loop" "$work/mnt"
kirlatin=$PWD/build-bench/kirlatin
cd "$work/mnt"

cp -r "$work/tree" t
strace -f -c -o "$work/calls" "$kirlatin" t >"$work/out"
moved=$(grep -c '^rename' "$work/out")
awk -v moved="$moved" '$NF ~ /^(openat2?|getdents64|close|newfstatat|fstat|faccessat2?|mkdirat|mknodat|renameat2?|linkat|unlinkat|utimensat|read)$/ {
        calls += $4; each = each sprintf(" %s %.2f", $NF, $4 / moved) }
    END { printf "file-system calls per renamed entry: %.2f (%d entries;%s)\n", calls / moved, moved, each }' \
    "$work/calls"
rm -rf t

for ((run = 0; run <= runs; run++)); do  # run 0 warms up
    for who in $( ((run % 2)) && echo "kirlatin check claim" || echo "claim check kirlatin"); do
        cp -r "$work/tree" a && sync
        start=$(date +%s.%N)
        if [ $who = kirlatin ]; then "$kirlatin" a >/dev/null; else "$work/$who" a >/dev/null; fi
        end=$(date +%s.%N)
        [ $run = 0 ] || echo "$who $(echo "$end - $start" | bc)"
        rm -rf a
    done >>"$work/times"
done
awk '{ t[$1] = t[$1] " " $2 } END { for (who in t) print who ":" t[who] " s" }' "$work/times"
for other in check claim; do
    paste <(grep kirlatin "$work/times" | cut -d' ' -f2) <(grep $other "$work/times" | cut -d' ' -f2) |
        awk '{ print $1 / $2 }' | sort -n | awk -v other=$other '{ r[NR] = $1 } END {
            printf "kirlatin / %s-then-rename, median of %d runs: %.2fx\n", other, NR, r[int((NR + 1) / 2)] }'
done
