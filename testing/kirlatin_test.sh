#!/usr/bin/env bash
# The tool as a user runs it, on trees made in a temporary directory:
#   kirlatin_test.sh CASE|filesystems|race|stop VERSION SHIM COMMAND...
# CASE: one of the functions named like a test below, which states a tree before, where and how
#   the tool runs, its arguments, the lines it prints after the header (in order where `ordered`),
#   its exit status, and the tree it leaves, every file with its content, or `unchanged`. A case
#   for one platform only prints a skip line. COMMAND is the native kirlatin, kirlatin for another
#   machine through qemu-user, or kirlatin.exe through wine-run.sh, whose paths take backslashes.
#   SHIM is the stand-in for older file systems, preloaded into the native program, or "none"
#   where the program is emulated: the cases that need it then print a skip line.
# filesystems: the cases that tell file systems apart, two runs at once, kills and the race, on
#   kernel file systems, FUSE file systems and network shares served on 127.0.0.1, each made and
#   mounted under the working directory: only as root where loop devices and FUSE work, with a
#   skip line elsewhere.
# race: a rival process changes the tree, and takes the names the tool moves to, while it walks.
# stop: a stop signal in mid-walk, once with a reader that has stalled; on Windows, Ctrl+C.
set -uo pipefail
export LC_ALL=C.UTF-8 UBSAN_OPTIONS=exitcode=99
export ASAN_OPTIONS=exitcode=99:detect_leaks=0:verify_asan_link_order=0
group=$1 version=$2 shim=$3 tool=("${@:4}")
[[ ${tool[*]} == *.exe ]] && platform=windows sep='\' || platform=posix sep=/
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-test-XXXXXX")"
mnt=$work/mnt base=$work name=$group failed=0
trap 'unmount_filesystem 2>/dev/null; cd / && rm -rf "$work"' EXIT
header=("" "kirlatin $version" "Rename all files and subdirectories from cyrillic to translit" "")
fail() { echo "FAIL $name: $*" && failed=1; }
skip() { echo "skip $name: $*" && exit 0; }
# Starts the part named $1 in an empty working directory.
fresh() { name=$1 && rm -rf "$base/tree" && mkdir "$base/tree" && cd "$base/tree" || exit 1; }
repeat() { printf "$1%.0s" $(seq "$2"); }

# Makes each entry in the working directory: "a/b" a file that holds its own path, "a = text" one
# that holds text, "a/" a directory, "a -> b" a symbolic link, "a => b" a hard link (a copy where
# there are none), "a|" a FIFO.
make_tree() {
    local entry path
    for entry; do
        path=${entry%% -> *} && path=${path%% = *} && path=${path%% => *}
        [[ $path != */* || -d ${path%/*} ]] || mkdir -p "${path%/*}"
        case $entry in
        *' -> '*) ln -s "${entry#* -> }" "$path" ;;
        *' => '*) ln "${entry#* => }" "$path" 2>/dev/null || cp "${entry#* => }" "$path" ;;
        *' = '*) printf %s "${entry#* = }" >"$path" ;;
        *'|') mkfifo "${path%|}" ;;
        */) ;;
        *) printf %s "$entry" >"$path" ;;
        esac
    done
}

# The working directory in make_tree's notation, each file with " = " and what it holds, and only
# the directories that hold nothing.
list_tree() {
    {
        find . -mindepth 1 \( -type l -printf '%P -> %l\n' \) -o \
            \( -type d -empty -printf '%P/\n' \) -o \( -type p -printf '%P|\n' \)
        find . -mindepth 1 -type f -printf '%P\0' | xargs -0r perl -e \
            'for (@ARGV) { open my $f, "<", $_ or die; local $/; print "$_ = ", <$f>, "\n" }'
    } | sort
}

# How a case runs the tool.
plain() { "$@"; }
from_elsewhere() { (cd "$from" && "$@"); }
old_filesystem() { LD_PRELOAD=$shim "$@"; }
read_only_filesystem() { OLD_FILESYSTEM_READ_ONLY=1 old_filesystem "$@"; }
unprivileged_old_filesystem() { LD_PRELOAD=$shim unprivileged "$@"; }
few_descriptors() { (ulimit -n 5 && exec "$@" 3>&- 4>&-); }
reader_gone() { (exec 3<>"$work/fifo" 4>"$work/fifo" 3<&- && exec "$@" >&4); }
on_terminal() {
    script -qec "$(printf '%q ' "$@")" /dev/null | sed $'s/\e\\[[0-9;?]*[a-zA-Z]//g; s/\r//g'
}
# As an unprivileged user (nobody, when run by root), with the modes in `modes` ("MODE DIR" each)
# set first; a copy of the tool is where that user can run it.
unprivileged() {
    local as=() status mode
    cp "$1" "$work/tool" && chmod -R a+rwX "$work"
    for mode in "${modes[@]}"; do chmod $mode; done
    [ "$(id -u)" != 0 ] || as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    "${as[@]}" "$work/tool" "${@:2}"
    status=$? && chmod -R u+rwX . && return $status
}
# From a batch file that cmd runs, the root typed in quotes with a trailing backslash, which
# reaches the tool as a quote, and the output sent to a file, whose space before ">" cmd hands on.
from_batch() {
    printf '@"%s" "%s\\" >"%s"\r\n' "$("$1" winepath -w "$2")" "${@: -1}" \
        "$("$1" winepath -w "$work/log")" >"$work/run.bat"
    "$1" cmd /c "$("$1" winepath -w "$work/run.bat")"
    local status=$? && cat "$work/log" && return $status
}
# "/" is the tree, where a copy of the tool and what it loads stand while it runs.
chrooted() {
    local files=("$1" $(ldd "$1" | grep -o '/[^ ]*')) status
    cp --parents "${files[@]}" . && chroot . "$@"
    status=$? && for file in "${files[@]}"; do file=${file#/} && rm -rf "${file%%/*}"; done
    return $status
}

# Lines as they come where the case's order is fixed, sorted where it is the file system's.
as_ordered() { [ "$ordered" = 1 ] && cat || sort; }
# The tree before (in list_tree's notation, on standard input) with each rename the lines tell
# made in their order: what a tool that did exactly what it said leaves. Paths are taken from the
# working directory, absolute ones too, with "./", doubled separators and ".." resolved.
renamed_tree() {
    perl -CSA -e 'my ($cwd, @lines) = @ARGV; my @tree = map { chomp; $_ } <STDIN>;
        sub plain { my $p = shift; $p =~ s{^\Q$cwd\E/|^/}{}; $p =~ s{/+}{/}g; $p =~ s{^(\./)+}{};
            1 while $p =~ s{[^/]+/\.\./}{}; $p =~ s{/$}{}r }
        for (@lines) { /^rename (?:file|directory) from (.*) to (.*)$/ or next;
            my ($old, $new) = (plain($1), plain($2));
            s{^\Q$old\E(?=[/ |]|$)}{$new} for @tree }
        print "$_\n" for sort @tree' "$PWD" "${lines[@]}"
}
# Runs the case whose locals its function set: where (posix, windows or both), runner, status,
# args, before, lines, ordered, and after where the tree left is not the tree before with the
# renames of the lines made (renamed_tree).
check() {
    ((++checks))
    [[ $where == both || $where == "$platform" ]] || skip "not for $platform"
    [[ $runner == chrooted && ($(id -u) != 0 || $(ldd "${tool[0]}") == *asan*) ]] &&
        skip "chroot needs root, and AddressSanitizer needs /proc"
    [[ $shim == none && ($runner == *_filesystem || $runner == chrooted) ]] &&
        skip "the stand-in and the chroot take a native program: this one is emulated"
    fresh "$name" && make_tree "${before[@]}" && list_tree >"$work/before"
    "$runner" "${tool[@]}" "${args[@]//\//$sep}" >"$work/out"
    local got=$? && [ "$got" = "$status" ] || fail "exit status $got"
    printf '%s\n' "${header[@]}" >"$work/lines" && printf '%s\n' "${lines[@]//\//$sep}" |
        as_ordered >>"$work/lines"
    [[ $runner == reader_gone ]] ||
        diff <(head -n 4 "$work/out" && tail -n +5 "$work/out" | as_ordered) "$work/lines" ||
        fail "lines"
    if [ -z "${after[*]-}" ]; then
        renamed_tree <"$work/before" >"$work/after"
    else
        printf '%s\n' "${after[@]}" | sort >"$work/after"
    fi
    diff "$work/after" <(list_tree) || fail "tree left"
}

# Of two trailing separators one is trimmed; the paths are composed from what is left.
RenamesDepthFirstAndTheRootLast() {
    where=both runner=plain status=0 args=(./Архив//) ordered=1
    before=(Архив/Фото/.Я/..Две Архив/notes)
    lines=("rename directory from ./Архив//Фото to ./Архив//Foto"
        "rename directory from ./Архив//Foto/.Я to ./Архив//Foto/.YA"
        "rename file from ./Архив//Foto/.YA/..Две to ./Архив//Foto/.YA/..Dve"
        "rename directory from ./Архив/ to ./Arhiv/")
}
# A directory whose move failed is walked under the name it keeps. Where a file system's own
# rename never replaces (rclone's, for directories), that rename is the move.
CollidingNamesAreNeverReplaced() {
    where=both runner=plain status=2 args=(.) ordered=0
    before=(Шар Shar Фото/Море.jpg Foto/Лето Лес/)
    lines=("left as is, name taken: ./Шар" "left as is, name taken: ./Фото"
        "rename file from ./Фото/Море.jpg to ./Фото/More.jpg"
        "rename file from ./Foto/Лето to ./Foto/Leto" "rename directory from ./Лес to ./Les")
    check && where=posix runner=old_filesystem OLD_FILESYSTEM_NEVER_REPLACES=1 check
}
# The root's parent is opened for searching only.
WhatCannotBeRenamedOrListedIsTold() {
    local p=Vhod/Фото
    where=posix runner=unprivileged status=2 args=($p) ordered=0
    modes=("0333 Vhod" "a-w $p/Только" "0 $p/Закрыто") before=($p/Только/Подпапка/Лес $p/Закрыто/Я)
    lines=("rename directory from $p/Только to $p/Tol'ko"
        "left as is, no permission: $p/Tol'ko/Подпапка"
        "rename file from $p/Tol'ko/Подпапка/Лес to $p/Tol'ko/Подпапка/Les"
        "rename directory from $p/Закрыто to $p/Zakryto" "not listed, no permission: $p/Zakryto"
        "rename directory from $p to Vhod/Foto")
}
# A root that cannot be opened is told, and still renamed.
ARootThatCannotBeOpenedIsTold() {
    where=posix runner=unprivileged status=2 args=(Нет) ordered=1 modes=("0 Нет") before=(Нет/Я)
    lines=("not listed, no permission: Нет" "rename directory from Нет to Net")
}
# Errors no file system here gives on demand, from the stand-in for an older file system, each
# told with its reason; a directory left is walked under its name. Where the old name cannot be
# removed ("Упрям…", as in an append-only directory), neither can what the move made: the second
# name of a file, and the claim of a directory with the note that marks it, each with its line;
# where it can ("Упорный"), the second name goes. A directory that cannot be listed is told, and an
# empty entry at a new name is never taken for a claim the walk's own note left.
ErrorsOfAMoveAreToldWithTheirReasons() {
    local reasons=("no space" "in use" "other file system" "too many open files" read-only)
    where=posix runner=old_filesystem status=2 args=(.) ordered=0
    before=(Сбой{0..4} Сбой5/Я Сбой6 Упрямый Упрямая/{Лес,Les}/ Упорный КопияСбой2 Битая/Нечитаемо)
    mapfile -t after < <(printf 'Сбой%s = Сбой%s\n' 0 0 1 1 2 2 3 3 4 4 6 6)
    after+=("КопияСбой2 = КопияСбой2" "Сбой5/YA = Сбой5/Я" "Упрямый = Упрямый"
        "Upryamyj = Упрямый" Упрямая/{Лес,Les}/ Upryamaya/ .kirlatin-moves/ "Упорный = Упорный"
        "Bitaya/Нечитаемо = Битая/Нечитаемо")
    mapfile -t lines < <(for i in {0..6}; do echo "left as is, ${reasons[i]:-failed}: ./Сбой$i"; done)
    lines+=("left as is, other file system: ./КопияСбой2" "rename file from ./Сбой5/Я to ./Сбой5/YA"
        "left as is, no permission: ./Упрямый" "left behind, second name: ./Upryamyj"
        "left as is, no permission: ./Упрямая" "left behind, empty claim: ./Upryamaya"
        "left as is, no permission: ./Упорный" "not listed, failed: ./Bitaya"
        "rename directory from ./Битая to ./Bitaya" "left as is, name taken: ./Упрямая/Лес")
}
# On a file system that makes nothing (squashfuse), every entry is read-only.
AFileSystemThatMakesNothingIsReadOnly() {
    where=posix runner=read_only_filesystem status=2 args=(Архив) ordered=0 before=(Архив/Лес/Я)
    lines=("left as is, read-only: Архив/Лес/Я" "left as is, read-only: Архив/Лес"
        "left as is, read-only: Архив")
}
# Where the root cannot be written to, moves onto claims are noted in their own directory. The
# root's parent, held only to search, is locked for the root's own move, and freed.
MovesBelowARootThatCannotBeWrittenAreNotedBesideThem() {
    where=posix runner=unprivileged_old_filesystem status=2 args=(Корень) ordered=1
    modes=("0555 Корень") before=(Корень/Папка/Я)
    lines=("left as is, no permission: Корень/Папка"
        "rename file from Корень/Папка/Я to Корень/Папка/YA" "rename directory from Корень to Koren'")
}
# Fx/Leto would carry the root into another directory.
TheRootOnlyEverMovesWithinItsParent() {
    where=both runner=plain status=2 args=(Фx/Лето) ordered=1
    before=(Фx/Лето/Июль/ Fx/)
    lines=("rename directory from Фx/Лето/Июль to Фx/Лето/Iyul'" "left as is, failed: Фx/Лето")
}
# Only the root may be a link, and is walked where it points; named by one letter, it is never
# taken for the working directory. Wine moves the target of a Unix link, never the link: links
# keep their names there.
LinksAreRenamedThemselvesAndNeverFollowed() {
    where=both runner=plain status=2 args=(a) ordered=0
    before=(out/Я root/Фото/ "a -> root" "root/Foto -> ../out" "root/Ссылка -> ../out")
    after=("a -> root" "out/Я = out/Я" "root/Foto -> ../out" "root/Ssylka -> ../out"
        root/Фото/)
    lines=("rename file from a/Ссылка to a/Ssylka" "left as is, name taken: a/Фото")
    [ $platform = posix ] || args=(root) after=() lines=("left as is, name taken: root/Фото"
        "left as is, not supported: root/Ссылка")
}
# From any working directory, which Wine resolves names against: from "/", from the root's parent,
# and from inside the target, which is then in use.
ARootThatIsALinkIsWalkedButNeverMovesItsTarget() {
    local root=$base/tree/Ссылка from
    where=windows runner=from_elsewhere status=2 args=("$root") ordered=1
    before=(out/Я "Ссылка -> out") after=("out/YA = out/Я" "Ссылка -> out")
    for from in / "$base/tree" "$base/tree/out"; do
        lines=("rename file from $root/Я to $root/YA")
        [[ $from == */out ]] && lines+=("left as is, in use: $root") ||
            lines+=("left as is, not supported: $root")
        check
    done
}
# A line shows control characters as their pictures (U+2401, U+241B, U+2421); names keep them.
# Names in KOI8-R (пёс.txt) and CP1251 (Рёрих.jpg, Москва.txt), and an overlong form, are no
# UTF-8: kept whole, even where some of their bytes read as UTF-8, and walked into.
HostileNamesAreRenamedAsNamesAndNothingIsOpened() {
    where=posix runner=plain status=2 args=(.) ordered=0
    before=($'\x01\x1b\x7fЖук' $'\xd0\xa3\xd3.txt' $'\xd0\xb8\xf0\xe8\xf5.jpg'
        $'\xcc\xee\xf1\xea\xe2\xe0.txt' $'\xc0\xaf\xd0\xa4/Жук' 'Канал|' $'Ключ\nleft as is')
    after=($'\x01\x1b\x7fZhuk = \x01\x1b\x7fЖук' "${before[1]} = ${before[1]}"
        "${before[2]} = ${before[2]}" "${before[3]} = ${before[3]}"
        "${before[4]%Жук}Zhuk = ${before[4]}" 'Kanal|' $'Klyuch\nleft as is = Ключ\nleft as is')
    mapfile -t lines < <(printf 'left as is, not UTF-8: ./%s\n' "${before[@]:1:3}" "${before[4]%/*}"
        printf 'rename file from ./%s to ./%s\n' ␁␛␡Жук ␁␛␡Zhuk "${before[4]}" \
            "${before[4]%Жук}Zhuk" Канал Kanal "Ключ␊left as is" "Klyuch␊left as is")
}
# Win32 reads "Фото." as "Фото", "Nul" and "Conin$" as devices in any directory, and "ya" as
# "YA": no such name is made. Directories that already bear one are walked all the same.
NamesWin32WouldReadAsOthersAreNeverMade() {
    where=windows runner=plain status=2 args=(.) ordered=0
    before=(Фото. Фото "Лето /Море" Ауx.txt Лпт1.log Нул Прн.txt Цом9 Цон/ Я ya nul/Файл
        aux/Кот/ Com1.backup/Я Цонин$ Цоноут$.txt)
    mapfile -t lines < <(printf '%s\n' "rename file from ./Фото to ./Foto" \
        "left as is, name taken: ./Я" "rename file from ./Лето /Море to ./Лето /More" \
        "rename file from ./nul/Файл to ./nul/Fajl" "rename directory from ./aux/Кот to ./aux/Kot" \
        "rename file from ./Com1.backup/Я to ./Com1.backup/YA"
        printf 'left as is, reserved name: ./%s\n' Ауx.txt "Лето " Лпт1.log Нул Прн.txt Фото. \
            Цом9 Цон Цонин$ Цоноут$.txt)
}
# A line too long is fitted: each path keeps its end, behind "…".
PathsOf259UnitsAreRenamedAndLongerOnesLeftAsIs() {
    local d=./$(repeat d 198) m=$(repeat m 57)
    local p1=$d/${m}М p2=$d/m${m}М p3=$d/${m}Ж p4=$d/${m}mm p5=$d/${m:2}/Я
    where=both runner=plain status=2 args=(.) ordered=0 before=("$p1" "$p2" "$p3" "$p4/Я" "$p5")
    after=("${d#./}/${m}M = $p1" "${p2#./} = $p2" "${p3#./} = $p3" "${p4#./}/Я = $p4/Я"
        "${d#./}/${m:2}/YA = $p5")
    lines=("rename file from …${p1: -117} to …${p1: -118:117}M"
        "rename file from …${p5: -117} to …${p5: -117:116}YA"
        "left as is, path too long: …${p2: -230}" "left as is, path too long: …${p3: -230}"
        "not listed, path too long: …${p4: -230}")
}
ROOT259=$(repeat a 128)/$(repeat b 128)/М
# A root of 259 units is walked and renamed; with a separator more it is refused.
RootsOf259UnitsAreWalkedAndLongerOnesRefused() {
    where=both runner=plain ordered=1 before=("$ROOT259/") status=0 args=("$ROOT259")
    after=("${ROOT259%М}M/")
    lines=("rename directory from …${ROOT259: -115} to …${ROOT259: -115:114}M")
    check
    status=1 args=("$ROOT259/") after=() lines=("…${ROOT259: -246}/ not exist") && check
}
# The root is opened once: the entries renamed are reached through it, not through "Июнь".
ARootThroughDotDotIsWalkedWhole() {
    where=both runner=plain status=0 args=(Море/Июнь/..) ordered=0
    before=(Море/Июнь/ Море/Август/Я Море/Октябрь/)
    lines=("rename directory from Море/Июнь/../Июнь to Море/Июнь/../Iyun'"
        "rename directory from Море/Июнь/../Август to Море/Июнь/../Avgust"
        "rename file from Море/Июнь/../Avgust/Я to Море/Июнь/../Avgust/YA"
        "rename directory from Море/Июнь/../Октябрь to Море/Июнь/../Oktyabr'")
}
# Windows reads a name in any letter case, by its 8.3 short form (as `dir /x` shows it), without
# the dots and spaces Win32 drops from its end, and in the current directory of its drive; exFAT
# reads it in any letter case (the typings given): the root is renamed by the name its parent
# stores.
ARootIsRenamedByTheNameItsParentStores() {
    local typed typings=("$@") short=$work/short to
    where=both runner=plain status=0 ordered=1 before=(Жёлтый/Я) after=("ZHeltyj/YA = Жёлтый/Я")
    [ $# = 0 ] && where=windows && [ $platform = windows ] && mkdir -p "$short/Жёлтый" &&
        typings=(ЖЁЛТЫЙ жёлтый. "жёлтый " "$("${tool[0]}" winepath -w "$base" | cut -c1-2)Жёлтый"
            "$(cd "$short" && "${tool[0]}" cmd /c dir /x 2>/dev/null | grep -o '[^ ]*~[^ ]*')")
    for typed in "${typings[@]}"; do
        [[ $typed == ?:* ]] && to=${typed:0:2}ZHeltyj || to=ZHeltyj
        args=("$typed") lines=("rename file from $typed/Я to $typed/YA"
            "rename directory from $typed to $to") && check
    done
}
AFolderTypedInCmdWithATrailingBackslashIsWalked() {
    where=windows runner=from_batch status=0 args=("My photos") ordered=1
    before=("My photos/Я")
    lines=("rename file from My photos/Я to My photos/YA")
}
# The root is checked before anything is touched; its end is shown, never from within a
# surrogate pair, however long it is. A device, which Windows opens by these names, is no
# directory.
RootsThatAreNoDirectoryAreRefused() {
    local euro=$(repeat € 246)
    where=both runner=plain status=1 ordered=1 before=(Фото/ Море)
    for args in "" Нет Море nul AUX COM1 NUL.txt '\\.\C:'; do
        args=("$args") lines=("$args not exist") && check
    done
    args=("$(repeat ж 300)😀$euro") lines=("…$euro not exist") && check
    args=() lines=("use: kirlatin.exe rootdir") && check
    args=(. .) && check
}
PHOTO=("rename directory from ./Фото to ./Foto" "rename file from ./Foto/Я to ./Foto/YA")
photo() { runner=$1 where=$2 status=0 args=(.) ordered=1 before=(Фото/Я) lines=("${PHOTO[@]}"); }
WritesToATerminal() { photo on_terminal both; }
OutputWhoseReaderHasGoneNeverStopsTheWalk() { photo reader_gone posix; }
TheRootDirectoryIsWalkedAsSlashName() { photo chrooted posix; args=(/) lines=("${PHOTO[@]//./}"); }
# The README's example is what the tool prints and leaves: its second, third and fourth blocks,
# the tree before, the lines and the tree after.
TheReadmesExampleIsWhatTheToolDoes() {
    local readme=${BASH_SOURCE%/*}/../README.md
    block() { awk -v n="$1" '/^```/ { ++fence; next } fence == 2 * n - 1' "$readme"; }
    where=both runner=plain status=0 args=(Архив) ordered=0
    mapfile -t before < <(block 2)
    mapfile -t lines < <(block 3 | tail -n +5)
    check && diff <(block 4) <(list_tree | sed 's/ = .*//') || fail "the README's tree after"
}
# Each listing is closed before the next: three left open would use up the descriptors.
ListingsAreClosed() {
    where=posix runner=few_descriptors status=0 args=(.) ordered=0 before=({a,b,c,d}/Я)
    mapfile -t lines < <(printf 'rename file from ./%s/Я to ./%s/YA\n' a a b b c c d d)
}
# Makes a file system of type $1 and mounts it on $mnt; fails where it cannot.
mount_filesystem() {
    local image=$work/image
    mkdir -p "$mnt" && [ "$(id -u)" = 0 ] || return 1
    case $1 in
    tmpfs) mount -t tmpfs tmpfs "$mnt"; return ;;
    sshfs) serve_over_ssh; return ;;
    smbnetfs) serve_over_smb; return ;;
    # User-space worlds, each from Debian's package of its name.
    rclone | bindfs) mkdir -p "$work/remote" ;;&
    rclone) rclone mount --config /dev/null ":local:$work/remote" "$mnt" --daemon --daemon-wait 10s
        return ;;
    archivemount) tar cf "$work/a.tar" -T /dev/null && touch "$work/a.since" &&
        archivemount "$work/a.tar" "$mnt"; return ;;
    fuse-zip) rm -f "$work/a.zip" && fuse-zip "$work/a.zip" "$mnt"; return ;;
    mergerfs) mkdir -p "$work"/branch{1,2} && mergerfs "$work/branch1:$work/branch2" "$mnt"; return ;;
    bindfs) bindfs "$work/remote" "$mnt"; return ;;
    squashfuse) mkdir -p "$work/squash/tree/Архив/Лес" && touch "$work/squash/tree/Архив/Море" &&
        mksquashfs "$work/squash" "$work/a.sqfs" -quiet -noappend >/dev/null &&
            squashfuse "$work/a.sqfs" "$mnt"; return ;;
    esac
    command -v "$1" >/dev/null || command -v "mkfs.$1" >/dev/null || return 1
    truncate -s 320M "$image" && case $1 in
    ntfs) mkfs.ntfs -QFq "$image" && ntfs-3g "$image" "$mnt" ;;
    exfat) mkfs.exfat "$image" && loop=$(losetup -f --show "$image") &&
        mount.exfat-fuse "$loop" "$mnt" ;;
    fuse2fs) mkfs.ext4 -q -F "$image" && fuse2fs "$image" "$mnt" -o fakeroot ;;
    *) "mkfs.$1" -q "$([ "$1" = ext4 ] && echo -F || echo -f)" "$image" &&
        mount -o loop "$image" "$mnt" ;;
    esac >/dev/null 2>&1
}

# Serves $work/remote over SFTP from an sshd of its own on 127.0.0.1, with keys made for it, and
# mounts it on $mnt with sshfs.
serve_over_ssh() {
    local port=$((20000 + RANDOM % 20000)) ssh=$work/ssh
    mkdir -p "$ssh" "$work/remote" /run/sshd && ssh-keygen -q -t ed25519 -N "" -f "$ssh/host" &&
        ssh-keygen -q -t ed25519 -N "" -f "$ssh/user" && cp "$ssh/user.pub" "$ssh/authorized" &&
        /usr/sbin/sshd -f /dev/null -o ListenAddress=127.0.0.1 -o Port=$port \
            -o HostKey="$ssh/host" -o AuthorizedKeysFile="$ssh/authorized" -o UsePAM=no \
            -o StrictModes=no -o PidFile="$work/sshd.pid" -o "Subsystem=sftp internal-sftp" &&
        sshfs -p $port -o IdentityFile="$ssh/user",BatchMode=yes,StrictHostKeyChecking=no \
            -o UserKnownHostsFile=/dev/null root@127.0.0.1:"$work/remote" "$mnt"
}

# Serves $work/smb/share over SMB from an smbd of its own on 127.0.0.1, to guests, and mounts
# the network on $mnt with smbnetfs: the share is $mnt/127.0.0.1/share.
serve_over_smb() {
    local smb=$work/smb
    mkdir -p "$smb"/{share,state,.smb} && printf '%s\n' "[global]" "interfaces = 127.0.0.1" \
        "bind interfaces only = yes" "disable netbios = yes" "map to guest = Bad User" \
        "unix extensions = no" "log file = $smb/state/log" "private dir = $smb/state" \
        "pid directory = $smb" "lock directory = $smb/state" "state directory = $smb/state" \
        "cache directory = $smb/state" "[share]" "path = $smb/share" "read only = no" \
        "guest ok = yes" "force user = root" >"$smb/smb.conf" &&
        echo 'auth "127.0.0.1" "guest" ""' >"$smb/.smb/smbnetfs.conf" &&
        chmod 600 "$smb/.smb/smbnetfs.conf" && touch "$smb/.smb/smb.conf" &&
        smbd -D -s "$smb/smb.conf" && HOME=$smb smbnetfs "$mnt" && share=/127.0.0.1/share &&
        for _ in {1..50}; do [ -d "$mnt$share" ] && return; sleep 0.1; done
}

# Runs the tool once more, to the end, on the root where it now stands: the tree is transliterated
# whole, every file with what it held, and nothing the tool made is left, beside the root either.
run_to_the_end() {
    "${tool[@]}" "$([ -e Корень ] && echo Корень || echo "Koren'")" >"$work/out" ||
        { fail "exit status $?" && cat "$work/out"; }
    diff <({ printf "Koren'/Papka%s/Fajl = Корень/Папка%s/Файл\n" 1 1 2 2 3 3
        printf "Koren'/Fajl%s = Корень/Файл%s\n" $(seq "$files" | sed p)
        echo "Koren'/Pusto/" && echo "Koren'/${LONG//ж/zh} = Корень/$LONG"; } | sort) \
        <(list_tree) || fail "tree left"
}
# A root with a tree of $2 files, three directories, an empty one, and a name of 248 bytes.
LONG=$(repeat ж 124)
new_root() { files=$2 && fresh "$1" && make_tree Корень/{Папка{1..3}/Файл,Пусто/,"$LONG"} \
    $(seq -f Корень/Файл%g "$2"); }

# Two runs at once on one tree, round after round, lose nothing and replace nothing.
two_runs() {
    for round in {1..3}; do
        new_root "$fs: two runs at once, round $round" 60
        "${tool[@]}" . >"$work/run1" & "${tool[@]}" . >"$work/run2" || fail "exit status $?"
        wait $! || fail "exit status $?"
        grep -hv '^rename\|^kirlatin\|^Rename\|^$' "$work"/run? && fail "lines"
        run_to_the_end
    done
}

# The tool killed at calls that change the disk (strace's fault injection), the probe's among
# them: at each in turn ("each"), or at the first three of each kind and one further at random;
# then run to the end.
killed_at_each_step() {
    for call in mkdirat utimensat mknodat openat linkat renameat renameat2 unlinkat; do
        for n in $([ "$1" = each ] && seq 99 || echo 1 2 3 $((RANDOM % 20 + 4))); do
            new_root "$fs: killed at $call $n" 3
            (strace -f -o /dev/null -e inject=$call:signal=KILL:when=$n "${tool[@]}" Корень \
                >/dev/null; exit $?) 2>/dev/null && break
            run_to_the_end
        done
    done
}

filesystems() {
    local where=both runner=plain args=(.) ordered=0 after=() fs
    # KIRLATIN_FILESYSTEMS may name fewer (the sanitizers' build: those whose moves differ).
    for fs in ${KIRLATIN_FILESYSTEMS:-ext4 xfs btrfs ntfs exfat tmpfs sshfs rclone fuse2fs mergerfs \
        bindfs fuse-zip smbnetfs archivemount squashfuse}; do
        # Some FUSE file systems exit 0 where the mount itself is refused.
        mount_filesystem $fs && mountpoint -q "$mnt" || {
            echo "skip $fs: no root, loop device, FUSE, sshd or $fs" && unmount_filesystem 2>/dev/null
            continue
        }
        # Where no step of a move is proven (archivemount), or nothing is written, none is moved.
        if [[ $fs == archivemount || $fs == squashfuse ]]; then
            reason=$([ $fs = squashfuse ] && echo read-only || echo "not supported")
            mkdir -p "$mnt/tree/Архив/Лес" 2>/dev/null && touch "$mnt/tree/Архив/Море" 2>/dev/null
            [[ $(cd "$mnt/tree" && "${tool[@]}" Архив | grep -c "^left as is, $reason") == 3 ]] ||
                fail "$fs: lines"
            unmount_filesystem && continue
        fi
        # What a user made under a Latin name stays, empty as it may be, and so does a user's
        # hard link; a user's ".kirlatin-" names are names like any other. exFAT and an SMB
        # share ignore case: "ya.txt" takes "YA.txt".
        base=$mnt${share-} name="$fs: an archive with colliding pairs" status=2 args=(Архив)
        before=(Архив/Фото/Море.jpg Архив/Shar Архив/Шар "Архив/Pusto = " Архив/Пусто Архив/Les/
            Архив/Лес/ Архив/Я.txt Архив/ya.txt Архив/.kirlatin-cache/ Архив/.kirlatin-Пусто/
            Архив/Отчёт.txt "Архив/Otchet.txt => Архив/Отчёт.txt") ordered=0 after=()
        local folds=$([[ $fs == exfat || $fs == smbnetfs ]] && echo case)  # as Windows does
        [ "$folds" ] && lines=("left as is, name taken: Архив/Я.txt") ||
            lines=("rename file from Архив/Я.txt to Архив/YA.txt")
        lines+=("left as is, name taken: Архив/Отчёт.txt"
            "rename directory from Архив/.kirlatin-Пусто to Архив/.kirlatin-Pusto"
            "rename directory from Архив/Фото to Архив/Foto"
            "rename file from Архив/Foto/Море.jpg to Архив/Foto/More.jpg"
            "left as is, name taken: Архив/Шар" "left as is, name taken: Архив/Пусто"
            "left as is, name taken: Архив/Лес" "rename directory from Архив to Arhiv")
        check
        name="$fs: each of a thousand renamed directories is walked once" args=(.)
        before=(Каталог{1..1000}/{Shar,Шар})
        mapfile -t lines < <(printf 'left as is, name taken: ./Katalog%s/Шар\n' {1..1000}
            printf 'rename directory from ./Каталог%s to ./Katalog%s\n' {1..1000}{,})
        [ $fs = smbnetfs ] || check  # 25 ms an entry there
        [ "$folds" ] && ARootIsRenamedByTheNameItsParentStores жёлтый ЖЁЛТЫЙ
        # A name a rival holds in another branch of a union is taken.
        [ $fs = mergerfs ] && rm -rf "$mnt/tree" && mkdir -p "$work"/branch{1,2}/tree/Архив &&
            touch "$work/branch1/tree/Архив/Дом" "$work/branch2/tree/Архив/Dom" &&
            { [[ $(cd "$mnt/tree" && "${tool[@]}" Архив) == *"name taken: Архив/Дом"* ]] ||
                fail "$fs: a name in another branch"; }
        [[ $fs == exfat || $fs == rclone || $fs == smbnetfs ]] || { name="$fs: a root that is a link" status=0 args=(Ссылка) before=(out/
            "Ссылка -> out") lines=("rename directory from Ссылка to Ssylka") && check; }
        [[ $fs == ext4 || $fs == exfat ]] && race
        [[ $fs == ext4 || $fs == xfs || $fs == btrfs || $fs == tmpfs ]] || two_runs
        [[ $fs == ntfs || $fs == exfat ]] && killed_at_each_step each  # links, claims
        [[ $fs == ext4 || $fs == xfs || $fs == btrfs || $fs == tmpfs || $fs == ntfs || $fs == exfat ]] ||
            killed_at_each_step sampled
        # Its mount point, in the working directory, is never entered from above.
        [[ $("${tool[@]}" "$work") == *"mount point: $work/mnt"* ]] || fail "mount point entered"
        unmount_filesystem
    done
}

# Unmounts what mount_filesystem mounted, once the tree on it is removed; also when a test ends.
unmount_filesystem() {
    cd "$work" && rm -rf "$mnt${share-}/tree" 2>/dev/null
    umount "$mnt"
    base=$work && unset share
    # archivemount leaves in /tmp a copy of its own of each entry made through it, removed or not.
    [ ! -e "$work/a.since" ] || find /tmp -maxdepth 1 -name 'archivemount_tree_*' \
        -newer "$work/a.since" -exec rm -rf {} +
    rm -rf "$work"/{remote,branch1,branch2,squash,a.*}
    [ ! -e "$work/smb/smbd.pid" ] || { kill $(cat "$work"/smb/*.pid) 2>/dev/null; rm -rf "$work/smb"; }
    [ -z "${loop-}" ] || { losetup -d "$loop" && unset loop; }
    [ ! -e "$work/sshd.pid" ] || { kill "$(cat "$work/sshd.pid")" && rm -f "$work/sshd.pid"; }
    rm -f "$work/image"
}

# While the tool walks a tree, a rival keeps changing it and taking the names the tool is about to
# move to: it makes a file or a directory at such a name, replaces an empty directory by a file,
# or moves a directory away with all it holds, and it never removes a file. Afterwards every
# file that stood, and every file the rival made, stands with its content. Once as is, and once
# on a file system without RENAME_NOREPLACE.
race() {
    local runners=(plain old_filesystem)
    [[ $shim != none ]] || { runners=(plain) && echo "skip race, old_filesystem: emulated"; }
    for runner in "${runners[@]}"; do
        fresh "race${fs:+ on $fs}, $runner"
        make_tree Каталог{0..9}/Пусто/ Файл{0..999} Каталог{0..9}/Файл{0..9}
        grep -rh '' . >"$work/files"  # what each file holds; the rival adds what it makes
        mapfile -t targets < <(printf '%s\n' Fajl{0..999} Katalog{0..9} \
            {Каталог,Katalog}{0..9}/Пусто Katalog{0..9}/{Pusto,Fajl{0..9}} | shuf)
        (
            set -C  # a file is made only where nothing stands
            while :; do for t in "${targets[@]}"; do
                [ -e "$work/stop" ] && exit
                case $((RANDOM % 8)) in
                1) mkdir "$t" ;;
                2) rmdir "$t" && echo "rival $t" >"$t" && echo "rival $t" >>"$work/files" ;;
                3) mv -n "$t" "$t~" ;;
                *) echo "rival $t" >"$t" && echo "rival $t" >>"$work/files" ;;
                esac 2>/dev/null
            done; done
        ) &
        sleep 0.2  # the rival takes its first names before the walk
        "$runner" "${tool[@]}" . >/dev/null; [[ $? == [02] ]] || fail "exit status $?"
        touch "$work/stop" && wait && rm "$work/stop"
        diff <(sort "$work/files") <(grep -rh '' . | sort) || fail "files"
    done
}

# A stop signal ends the tool by that signal once the lines kept back are written: the files
# renamed and the renames printed are the same. With a reader that holds the pipe and never
# reads, the walk stalls once the pipe and the kept lines are full, and SIGTERM still ends it
# within a second (three are allowed here, for a loaded machine). A SIGHUP ignored from the start
# (nohup) stays ignored: the walk ends as it would have, with status 0. The tool runs under
# perl, which tells a signal that ended it (as 100 and the signal) from an exit status. On
# Windows the stop is Ctrl+C, which Wine makes of SIGINT, and its status 0xC000013A (58 a byte).
stop() {
    local rounds=(INT TERM HUP QUIT TERM-stalled HUP-nohup) group=- run=(perl -e
        '@stops = qw(INT TERM HUP QUIT); $SIG{$_} = "IGNORE" for @stops;
        if (!($pid = fork)) { $SIG{$_} = "DEFAULT" for @stops;
        $SIG{HUP} = "IGNORE" if $ENV{ROUND} eq "HUP-nohup"; exec @ARGV }
        waitpid $pid, 0; exit($? & 127 ? 100 + ($? & 127) : $? >> 8)')
    [ $platform = windows ] && rounds=(INT) group= run=()
    set -m  # the tool and perl in a job of their own, which the signal reaches
    ulimit -c 0  # SIGQUIT dumps no core
    # Each round a signal, and with "-stalled" the output a pipe that is not read.
    for round in "${rounds[@]}"; do
        # One directory serves every round, its names turned back: a new one fills slowly.
        [ $round = INT ] && fresh stop && touch Файл{0..5999}
        name="stop, $round" signal=${round%-*} out=$work/out && exec 3<>"$work/fifo"
        perl -e 'rename $_, s/Fajl/Файл/r for <Fajl*>'
        [[ $round == *-stalled ]] && out=$work/fifo
        [[ $round == *nohup ]] && ended=0 || ended=$((100 + $(kill -l "$signal")))
        [ $platform = windows ] && ended=58
        first=$(ls -U | head -n 1) count=0
        ROUND=$round "${run[@]}" "${tool[@]}" . >"$out" &
        # The walk has begun.
        until [ -e "Fajl${first#Файл}" ] || ! kill -0 $! 2>/dev/null; do :; done
        while [ "$out" = "$work/fifo" ] && [ "$(ls | grep -c Fajl)" != $count ]; do
            count=$(ls | grep -c Fajl) && sleep 0.2
        done
        kill -s "$signal" -- $group$!
        for _ in {1..30}; do kill -0 $! 2>/dev/null && sleep 0.1; done
        kill -0 $! 2>/dev/null && fail "still running" && kill -s KILL -- $group$!
        wait $!; [ $? = "$ended" ] || fail "not ended as it should be by $signal"
        exec 3<&-
        [ "$out" = "$work/fifo" ] ||
            diff <(grep -o 'Fajl[0-9]*$' "$out" | sort) <(ls | grep Fajl | sort) || fail "lines"
    done
}

mkfifo "$work/fifo"
checks=0
"$group"
[[ $group != [A-Z]* || $checks != 0 ]] || check
exit $failed
