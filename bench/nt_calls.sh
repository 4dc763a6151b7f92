#!/usr/bin/env bash
# Counts the NT calls kirlatin.exe makes per renamed entry under Wine's relay trace, on a tree of
# files and on a tree of empty directories, each of COUNT Russian names:
#   bash bench/nt_calls.sh build-windows/kirlatin.exe [COUNT]
# Only the calls of the tool's own thread after its banner count; its lines go to a pipe.
set -euo pipefail
exe=$(realpath "$1") count=${2:-50}
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-ntcalls.XXXXXX")"
trap 'rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-$work/prefix} WINEDLLOVERRIDES="mscoree,mshtml="
for kind in files dirs; do
    mkdir "$work/$kind"
    for i in $(seq "$count"); do
        if [ $kind = files ]; then touch "$work/$kind/Файл$i"; else mkdir "$work/$kind/Папка$i"; fi
    done
    (cd "$work" && WINEDEBUG=+relay wine "$exe" $kind 2>&1 >/dev/null) | awk -v n="$count" -v kind=$kind '
        /L"\\nkirlatin / && !thread { thread = substr($0, 1, 5) }
        thread && substr($0, 1, 5) == thread && /^[0-9a-f]+:Call ntdll\.Nt/ {
            split($0, call, "[.(]"); calls[call[2]]++; total++ }
        END { printf "%s: %.2f NT calls per entry (", kind, total / n
              for (c in calls) printf " %s %.2f", c, calls[c] / n; print " )" }'
done
