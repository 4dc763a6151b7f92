#!/usr/bin/env bash
# Benchmarks kirlatin on trees of real Russian words and prints the table of measured ratios:
#   bash bench/run.sh                 # trees of 100k and 1M entries
#   bash bench/run.sh 20000           # a quick run on one smaller size
# The trees live in a temporary directory (under $TMPDIR when set) and are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++ gcc hunspell-ru python3 time

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
cmake --build build-bench --parallel 2 >/dev/null
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT
gcc -O2 -Wall -Wextra -Werror -o "$work/floor" bench/floor.c
gcc -O2 -Wall -Wextra -Werror -o "$work/limit" bench/limit.c
python3 bench/bench.py "$PWD/build-bench/kirlatin" "$work/floor" "$work/limit" "$work" "$@"
