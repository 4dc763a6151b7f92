#!/bin/sh
# Runs a Windows program under Wine: `wine-run.sh PROGRAM.exe ARGS...`. The prefix is WINEPREFIX
# when set, else one under the system's temporary directory; it is made on first use, once, even
# when several runs start together. Wine's own diagnostics are silenced.
set -eu
: "${WINEPREFIX:=${TMPDIR:-/tmp}/kirlatin-wineprefix-$(id -u)}"
export WINEPREFIX
export WINEDEBUG=-all
# No downloads of Mono or Gecko: a console program needs neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot --init >/dev/null 2>&1
        wineserver --wait
    fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
