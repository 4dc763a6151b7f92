#!/usr/bin/env bash
# Checks what a user installs: the `cmake --install` layout, the Debian package (unpacked into a
# throw-away root and run there), the Windows archive (run under Wine), and the manual page,
# whose table and example must say what the built tool does.
#
#   package_test.sh install|debian|manual|zip BUILD_DIR VERSION [WINE_RUN]
set -euo pipefail
export LC_ALL=C.UTF-8

case_name=$1
build=$2
version=$3
wine_run=${4:-}
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-package-XXXXXX")"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# make_package GENERATOR: runs CPack on the build into $work/out, quietly unless it fails.
make_package() {
    cpack -G "$1" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
        { cat "$work/cpack.log" >&2; fail "cpack -G $1"; }
}

# expect_same LABEL EXPECTED ACTUAL: fails with a diff when the two texts differ.
expect_same() {
    if [ "$2" != "$3" ]; then
        diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
        fail "$1"
    fi
}

# The files and links below a directory, relative to it, sorted.
list_files() {
    (cd "$1" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
}

# The four first lines, blank ones included, joined by |.
header="|kirlatin $version|Rename all files and subdirectories from cyrillic to translit|"

# run_on_sample DIR SEPARATOR COMMAND...: makes a small tree Архив in DIR, runs COMMAND Архив in
# DIR, and checks the printed lines (the renames in any order, the root last) and the tree left.
run_on_sample() {
    local dir=$1 sep=$2
    shift 2
    mkdir -p "$dir/Архив/Фото" "$dir/Архив/music"
    echo sea >"$dir/Архив/Фото/Море.jpg"
    echo song >"$dir/Архив/music/Жёлтое.mp3"
    echo notes >"$dir/Архив/notes.txt"
    local output status=0
    output="$(cd "$dir" && "$@" Архив)" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status"
    expect_same "banner" "$header" "$(head -n 4 <<<"$output" | paste -sd'|')"
    expect_same "renames" "rename directory from Архив${sep}Фото to Архив${sep}Foto
rename file from Архив${sep}Foto${sep}Море.jpg to Архив${sep}Foto${sep}More.jpg
rename file from Архив${sep}music${sep}Жёлтое.mp3 to Архив${sep}music${sep}ZHeltoe.mp3" \
        "$(tail -n +5 <<<"$output" | head -n -1 | LC_ALL=C sort)"
    expect_same "root last" "rename directory from Архив to Arhiv" "$(tail -n 1 <<<"$output")"
    expect_same "tree" "Arhiv/Foto/More.jpg
Arhiv/music/ZHeltoe.mp3
Arhiv/notes.txt" "$(list_files "$dir")"
    expect_same "content" "song" "$(cat "$dir/Arhiv/music/ZHeltoe.mp3")"
}

# The manual page on stdin as a reader sees it, without bold or underline.
render() {
    groff -man -Tutf8 -P-cbou
}

# The lines of the first block of the rendered page after the line matching START, up to the
# next blank line, without their indentation.
block_after() {
    awk -v start="$1" '
        found && /^$/ { if (printed) exit; next }
        found { sub(/^ +/, ""); print; printed = 1 }
        $0 ~ start { found = 1 }'
}

check_install() {
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    expect_same "installed files" "bin/kirlatin
share/doc/kirlatin/LICENSE
share/doc/kirlatin/README.md
share/man/man1/kirlatin.1" "$(list_files "$work/prefix")"
    [ -x "$work/prefix/bin/kirlatin" ] || fail "bin/kirlatin is not executable"
    ! grep -q '@' "$work/prefix/share/man/man1/kirlatin.1" || fail "unsubstituted @VARIABLE@"
}

check_debian() {
    make_package DEB
    local arch deb
    arch="$(dpkg --print-architecture)"
    deb="$work/out/kirlatin_${version}_${arch}.deb"
    [ -f "$deb" ] || fail "no $deb"
    expect_same "package" "kirlatin $version $arch" \
        "$(dpkg-deb -f "$deb" Package Version Architecture | cut -d' ' -f2 | paste -sd' ')"
    dpkg-deb -f "$deb" Depends | grep -q '^libc6 (>= ' || fail "Depends names no libc6 version"
    dpkg-deb -f "$deb" Maintainer Description | grep -q . || fail "no Maintainer or Description"
    expect_same "package contents" "-rw-r--r-- ./usr/share/doc/kirlatin/README.md
-rw-r--r-- ./usr/share/doc/kirlatin/copyright
-rw-r--r-- ./usr/share/man/man1/kirlatin.1.gz
-rwxr-xr-x ./usr/bin/kirlatin" \
        "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | LC_ALL=C sort)"

    dpkg -x "$deb" "$work/root"
    run_on_sample "$work/sample" / "$work/root/usr/bin/kirlatin"
    zcat "$work/root/usr/share/man/man1/kirlatin.1.gz" | render >"$work/page" 2>&1 ||
        fail "the installed manual page does not render"
    grep -q "^kirlatin $version" "$work/page" || fail "the installed manual page has no footer"
}

check_manual() {
    local page="$build/kirlatin.1" warnings
    warnings="$(groff -man -Tutf8 -ww -z "$page" 2>&1)"
    expect_same "groff warnings" "" "$warnings"
    warnings="$(MANWIDTH=80 man --warnings=w -l "$page" 2>&1 >"$work/page")"
    expect_same "man warnings" "" "$warnings"
    expect_same "sections" "NAME
SYNOPSIS
DESCRIPTION
TRANSLITERATION
OUTPUT
EXIT STATUS
SAFETY
LIMITS
EXAMPLES
SEE ALSO" "$(grep -E '^[A-Z]' "$work/page" | sed -n '2,$p')"
    grep -q "^kirlatin $version " "$work/page" || fail "no version in the footer"

    # Every row of the table, tried on the built tool: each capital alone and before а, and
    # each small letter, in names made unique by their row.
    local tree="$work/table/root" expected=() row=0
    mkdir -p "$tree"
    while read -r -a cells; do
        [ "${#cells[@]}" -eq 12 ] || fail "table row of ${#cells[@]} cells: ${cells[*]}"
        for group in 0 4 8; do
            local capital=${cells[group]} small=${cells[group + 1]}
            local alone=${cells[group + 2]%%/*} before=${cells[group + 2]#*/} latin=${cells[group + 3]}
            row=$((row + 1))
            touch "$tree/${row}-$capital" "$tree/${row}=$capital"а "$tree/${row}_$small"
            expected+=("${row}-$alone" "${row}=${before}a" "${row}_$latin")
        done
    done < <(render <"$page" | block_after 'apostrophe:$')
    [ "$row" -eq 33 ] || fail "the table has $row letters, not 33"
    "$build/kirlatin" "$tree" >/dev/null
    expect_same "table" "$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)" "$(list_files "$tree")"

    # The example, run on its own tree.
    local example="$work/example"
    while read -r path; do
        mkdir -p "$example/$(dirname "$path")"
        touch "$example/$path"
    done < <(block_after '^ +Before:$' <"$work/page")
    local output
    output="$(cd "$example" && "$build/kirlatin" Архив | tail -n +5)"
    expect_same "example lines" "$(block_after 'the file system lists the entries' <"$work/page" |
        LC_ALL=C sort)" "$(LC_ALL=C sort <<<"$output")"
    expect_same "example tree" "$(block_after '^ +and leaves$' <"$work/page")" \
        "$(list_files "$example")"
}

check_zip() {
    make_package ZIP
    local zip="$work/out/kirlatin-$version-win64.zip"
    [ -f "$zip" ] || fail "no $zip"
    (cd "$work" && cmake -E tar xf "$zip")
    expect_same "archive contents" "kirlatin-$version-win64/LICENSE
kirlatin-$version-win64/README.md
kirlatin-$version-win64/kirlatin.exe" "$(list_files "$work" | grep "^kirlatin-$version-win64/")"
    run_on_sample "$work/sample" '\' "$wine_run" "$work/kirlatin-$version-win64/kirlatin.exe"
}

case "$case_name" in
install) check_install ;;
debian) check_debian ;;
manual) check_manual ;;
zip) check_zip ;;
*) fail "unknown case $case_name" ;;
esac
echo "ok: $case_name"
