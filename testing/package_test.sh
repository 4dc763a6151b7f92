#!/usr/bin/env bash
# Checks what a user installs, as a user would notice it broken: the package unpacks, the program
# in it runs, and on Linux its manual page renders without a warning and its table is the tool's.
# For Windows the package is the .zip, run under Wine; on Linux, the Debian package.
#   package_test.sh BUILD_DIR VERSION WINE_RUN
set -euo pipefail
build=$1 version=$2 wine_run=$3
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-package-XXXXXX")"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2 && exit 1; }

# The program renames a small tree, the root last, and the file keeps its content.
run_on_sample() {
    mkdir -p "$work/sample/Архив/Фото" && echo sea >"$work/sample/Архив/Фото/Море.jpg"
    [ "$(cd "$work/sample" && "$@" Архив | tail -n 1)" = "rename directory from Архив to Arhiv" ] &&
        [ "$(cat "$work/sample/Arhiv/Foto/More.jpg")" = sea ] || fail "the program in the package"
}

if [ -f "$build/kirlatin.exe" ]; then
    cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
    (cd "$work" && cmake -E tar xf "kirlatin-$version-win64.zip")
    run_on_sample "$wine_run" "$work/kirlatin-$version-win64/kirlatin.exe" && exit 0
fi
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >/dev/null
deb="$work/kirlatin_${version}_$(dpkg --print-architecture).deb"
[[ "$(dpkg-deb -f "$deb" Depends)" == "libc6 ("*")" ]] || fail "it needs more than the C library"
dpkg -x "$deb" "$work/root"
run_on_sample "$work/root/usr/bin/kirlatin"
zcat "$work/root/usr/share/man/man1/kirlatin.1.gz" >"$work/kirlatin.1"
[ -z "$(groff -man -Tutf8 -ww -z "$work/kirlatin.1" 2>&1)" ] || fail "groff warns"

# Every row of the table, tried on the tool: each capital alone and before а, and each small
# letter, in names made unique by their row.
mkdir "$work/table" && cd "$work/table" && row=0
while read -r -a cells; do
    for group in 0 4 8; do
        set -- "${cells[@]:group:4}" $((++row))
        touch "$5-$1" "$5=${1}а" "${5}_$2"
        echo "$5-${3%%/*} $5=${3#*/}a ${5}_$4" >>../expected
    done
done < <(groff -man -Tutf8 -P-cbou ../kirlatin.1 | awk '/apostrophe:$/ { on = 1; next } on && NF { print; n++ } n && !NF { exit }')
[ "$row" = 33 ] && ../root/usr/bin/kirlatin . >/dev/null || fail "the table has $row letters"
[ "$(tr ' ' '\n' <../expected | sort)" = "$(ls | sort)" ] || fail "the table is not the tool's"
