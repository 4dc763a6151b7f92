#!/usr/bin/env bash
# Benchmarks kirlatin on trees of real Russian words and on one directory of many subdirectories,
# prints the table of measured ratios and draws doc/scaling.svg:
#   bash bench/run.sh                 # 10k and 100k entries
#   bash bench/run.sh --million       # 10k, 100k and 1M entries (an hour, and 3 GB of disk)
#   bash bench/run.sh 20000           # a quick run on one size
# The trees live in a temporary directory (under $TMPDIR when set) and are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++ gcc hunspell-ru python3 time gnuplot-nox

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
gcc -O2 -Wall -Wextra -Werror -o "$work/floor" bench/floor.c
gcc -O2 -Wall -Wextra -Werror -o "$work/limit" bench/limit.c
sizes=("$@")
if [ "${1-}" = --million ]; then
    sizes=(10000 100000 1000000)
fi
python3 bench/bench.py --picture doc/scaling.svg "$PWD/build-bench/kirlatin" "$work/floor" \
    "$work/limit" "$work" "${sizes[@]}"
