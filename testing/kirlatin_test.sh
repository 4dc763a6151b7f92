#!/usr/bin/env bash
# The tool as a user runs it, on trees made in a temporary directory:
#   kirlatin_test.sh CASE|filesystems|race|stop|attack VERSION SHIM COMMAND...
# CASE: one of the functions named like a test below, which states a tree before, where and how
#   the tool runs, its arguments, the lines it prints after the header (in order where `ordered`),
#   its exit status, and the tree it leaves, every file with its content, or `unchanged`. A case
#   for one platform only prints a skip line. COMMAND is the native kirlatin, or kirlatin.exe
#   through wine-run.sh, whose paths take backslashes.
# filesystems: the cases that tell file systems apart, and the race, on ext4, xfs, btrfs, NTFS
#   (ntfs-3g), exFAT (exfat-fuse) and tmpfs, each made and mounted under the working directory:
#   only as root where loop devices and FUSE work, with a skip line elsewhere.
# race: a rival process changes the tree, and takes the names the tool moves to, while it walks.
# stop: a stop signal in mid-walk, once with a reader that has stalled; on Windows, Ctrl+C.
# attack: a directory swapped for a link to outside the tree while the walk opens it.
set -uo pipefail
export LC_ALL=C.UTF-8 UBSAN_OPTIONS=exitcode=99
export ASAN_OPTIONS=exitcode=99:detect_leaks=0:verify_asan_link_order=0
group=$1 version=$2 shim=$3 tool=("${@:4}")
[[ ${tool[*]} == *.exe ]] && platform=windows sep='\' || platform=posix sep=/
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-test-XXXXXX")"
mnt=$work/mnt base=$work name=$group failed=0
cleanup() {
    cd / && umount "$mnt" 2>/dev/null
    [ -z "${loop-}" ] || losetup -d "$loop"
    [ ! -e "$work/sshd.pid" ] || kill "$(cat "$work/sshd.pid")"
    [ ! -d "$work/append-only" ] || chattr -a "$work/append-only"
}
trap 'cleanup; rm -rf "$work"' EXIT
header=("" "kirlatin $version" "Rename all files and subdirectories from cyrillic to translit" "")
fail() { echo "FAIL $name: $*" && failed=1; }
skip() { echo "skip $name: $*" && exit 0; }
# Starts the part named $1 in an empty working directory.
fresh() { name=$1 && rm -rf "$base/tree" && mkdir "$base/tree" && cd "$base/tree" || exit 1; }
repeat() { printf "$1%.0s" $(seq "$2"); }

# Makes each entry in the working directory: "a/b" a file that holds its own path, "a = text" one
# that holds text, "a/" a directory, "a -> b" a symbolic link, "a|" a FIFO.
make_tree() {
    local entry path dirs=()
    for entry; do  # the directories first, all in one call
        path=${entry%% -> *} && path=${path%% = *}
        [[ $path == */ ]] && dirs+=("$path") || [[ $path != */* ]] || dirs+=("${path%/*}")
    done
    [ ${#dirs[@]} = 0 ] || mkdir -p "${dirs[@]}"
    for entry; do
        path=${entry%% -> *} && path=${path%% = *}
        case $entry in
        *' -> '*) ln -s "${entry#* -> }" "$path" ;;
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
few_descriptors() { (ulimit -n 7 && exec "$@" 3>&- 4>&- 5>&- 6>&-); }
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
# Standard output a non-blocking pipe of one page, read only after a second: writes meet EAGAIN.
nonblocking() {
    perl -MFcntl -e 'pipe R, W; fcntl W, 1031, 4096; fcntl W, F_SETFL, O_NONBLOCK;
        if (!fork) { open STDOUT, ">&W"; exec @ARGV } close W; sleep 1; print while <R>; wait;
        exit $? >> 8' "$@"
}
# True where this process may mount: as root, and not in a sandbox that forbids it (Landlock).
can_mount() {
    mkdir -p "$work/probe" && mount --bind "$work/probe" "$work/probe" 2>/dev/null &&
        umount "$work/probe"
}
# With "Чужое" a bind mount of a directory outside the tree, which must keep its "Файл".
bind_mounted() {
    local status
    mkdir -p "$work/outside" && touch "$work/outside/Файл" &&
        mount --bind "$work/outside" Чужое && "$@"
    status=$? && umount Чужое && [ -e "$work/outside/Файл" ] || echo "outside changed"
    return $status
}
# The tree mounted read-only on itself, and the tool run inside that mount.
read_only_mounted() {
    local status
    mount --bind . . && mount -o remount,bind,ro . && cd "$PWD" && "$@"
    status=$? && cd / && umount "$base/tree" && cd "$base/tree" && return $status
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
    [[ $runner == chrooted && ($(id -u) != 0 || $(ldd "${tool[0]}") == *libasan*) ]] &&
        skip "chroot needs root, and AddressSanitizer needs /proc"
    [[ $runner == *_mounted ]] && ! can_mount && skip "cannot mount here"
    fresh "$name" && make_tree "${before[@]}" && list_tree >"$work/before"
    "$runner" "${tool[@]}" "${args[@]//\//$sep}" >"$work/out"
    local got=$? && [ "$got" = "$status" ] || fail "exit status $got"
    printf '%s\n' "${header[@]}" >"$work/lines" && printf '%s\n' "${lines[@]//\//$sep}" |
        as_ordered >>"$work/lines"
    [[ $runner == reader_gone ]] ||
        diff <(head -n 4 "$work/out" && tail -n +5 "$work/out" | as_ordered) "$work/lines" ||
        fail "lines"
    if [ ${#after[@]} = 0 ]; then
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
# A directory whose move failed is walked under the name it keeps.
CollidingNamesAreNeverReplaced() {
    where=both runner=plain status=2 args=(.) ordered=0
    before=(Шар Shar Фото/Море.jpg Foto/Лето)
    lines=("left as is, name taken: ./Шар" "left as is, name taken: ./Фото"
        "rename file from ./Фото/Море.jpg to ./Фото/More.jpg"
        "rename file from ./Foto/Лето to ./Foto/Leto")
}
WhatCannotBeRenamedOrListedIsTold() {
    where=posix runner=unprivileged status=2 args=(.) ordered=0 modes=("a-w Только" "0 Закрыто")
    before=(Только/Подпапка/Лес Закрыто/Я)
    lines=("rename directory from ./Только to ./Tol'ko"
        "left as is, no permission: ./Tol'ko/Подпапка"
        "rename file from ./Tol'ko/Подпапка/Лес to ./Tol'ko/Подпапка/Les"
        "rename directory from ./Закрыто to ./Zakryto" "not listed, no permission: ./Zakryto")
}
# The root's parent is opened for searching only.
ARootInAParentThatCannotBeReadIsRenamed() {
    where=posix runner=unprivileged status=0 args=(Vhod/Фото) ordered=1 modes=("0333 Vhod")
    before=(Vhod/Фото/Я)
    lines=("rename file from Vhod/Фото/Я to Vhod/Фото/YA"
        "rename directory from Vhod/Фото to Vhod/Foto")
}
AMountPointIsNeverEntered() {
    where=posix runner=bind_mounted status=2 args=(.) ordered=0
    before=(Чужое/ Я)
    lines=("left as is, in use: ./Чужое" "not listed, mount point: ./Чужое"
        "rename file from ./Я to ./YA")
}
AReadOnlyFileSystemIsToldAsSuch() {
    where=posix runner=read_only_mounted status=2 args=(.) ordered=1 before=(Фото/Я)
    lines=("left as is, read-only: ./Фото" "left as is, read-only: ./Фото/Я")
}
# Fx/Leto would carry the root into another directory.
TheRootOnlyEverMovesWithinItsParent() {
    where=both runner=plain status=2 args=(Фx/Лето) ordered=1
    before=(Фx/Лето/Июль/ Fx/)
    lines=("rename directory from Фx/Лето/Июль to Фx/Лето/Iyul'" "left as is, failed: Фx/Лето")
}
# Only the root may be a link, and is walked where it points.
LinksAreRenamedThemselvesAndNeverFollowed() {
    where=posix runner=plain status=2 args=(alias) ordered=0
    before=(out/Я root/Фото/ "alias -> root" "root/Foto -> ../out" "root/Ссылка -> ../out")
    after=("alias -> root" "out/Я = out/Я" "root/Foto -> ../out" "root/Ssylka -> ../out"
        root/Фото/)
    lines=("rename file from alias/Ссылка to alias/Ssylka" "left as is, name taken: alias/Фото")
}
# Wine moves the target of a Unix link, never the link: links keep their names there.
NeverEntersALinkedDirectoryOnWindows() {
    where=windows runner=plain status=2 args=(root) ordered=0
    before=(out/Я root/Фото/ "root/Foto -> ../out" "root/Ссылка -> ../out")
    lines=("left as is, name taken: root/Фото" "left as is, not supported: root/Ссылка")
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
RootOf259UnitsIsWalked() {
    where=both runner=plain status=0 args=("$ROOT259") ordered=1
    before=("$ROOT259/") after=("${ROOT259%М}M/")
    lines=("rename directory from …${ROOT259: -115} to …${ROOT259: -115:114}M")
}
RootOf260UnitsIsRefused() {
    where=both runner=plain status=1 args=("$ROOT259/") ordered=1 before=("$ROOT259/")
    lines=("…${ROOT259: -246}/ not exist")
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
# Windows reads a name in any letter case, by its 8.3 short form (as `dir /x` shows it), and
# without the dots Win32 drops from its end: the root is renamed by the name its parent stores.
ARootIsRenamedByTheNameItsParentStores() {
    local short=
    [ $platform = windows ] && short=$(mkdir -p "$work/short/Жёлтый" && cd "$work/short" &&
        "${tool[0]}" cmd /c dir /x 2>/dev/null | grep -o '[^ ]*~[^ ]*')
    where=windows runner=plain status=0 ordered=1 before=(Жёлтый/Я) after=("ZHeltyj/YA = Жёлтый/Я")
    for typed in ЖЁЛТЫЙ жёлтый. "$short"; do
        args=("$typed") lines=("rename file from $typed/Я to $typed/YA"
            "rename directory from $typed to ZHeltyj") && check
    done
}
AFolderTypedInCmdWithATrailingBackslashIsWalked() {
    where=windows runner=from_batch status=0 args=("My photos") ordered=1
    before=("My photos/Я")
    lines=("rename file from My photos/Я to My photos/YA")
}
ARootInItsLongFormIsWalkedAndRenamed() {
    local long=
    [ $platform = windows ] && long="\\\\?\\$("${tool[0]}" winepath -w "$base/tree")"
    where=windows runner=plain status=0 args=("$long\\Фото") ordered=1
    before=(Фото/Я) after=("Foto/YA = Фото/Я")
    lines=("rename file from $long\\Фото\\Я to $long\\Фото\\YA"
        "rename directory from $long\\Фото to $long\\Foto")
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
PHOTO=("rename directory from ./Фото to ./Foto"
    "rename file from ./Foto/Море.jpg to ./Foto/More.jpg")
photo() {
    runner=$1 where=$2 status=0 args=(.) ordered=1 before=(Фото/Море.jpg)
    lines=("${PHOTO[@]}")
}
WritesToATerminal() { photo on_terminal both; }
OutputWhoseReaderHasGoneNeverStopsTheWalk() { photo reader_gone posix; }
TheRootDirectoryIsWalkedAsSlashName() {
    photo chrooted posix && args=(/) lines=("${PHOTO[@]//.\//\/}")
}
ARootUnderSlashIsRenamedLast() {
    photo chrooted posix && args=(/Фото)
    lines=("rename file from /Фото/Море.jpg to /Фото/More.jpg"
        "rename directory from /Фото to /Foto")
}
EveryLineReachesANonBlockingPipe() {
    where=posix runner=nonblocking status=0 args=(.) ordered=0 before=(Файл{1..300})
    mapfile -t lines < <(printf 'rename file from ./Файл%s to ./Fajl%s\n' {1..300}{,})
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
    append-only) mkdir "$work/append-only" && chattr +a "$work/append-only" &&
        bindfs "$work/append-only" "$mnt"; return ;;
    esac
    truncate -s 320M "$image" && case $1 in
    ntfs) mkfs.ntfs -QFq "$image" && ntfs-3g "$image" "$mnt" ;;
    exfat) mkfs.exfat "$image" && loop=$(losetup -f --show "$image") &&
        mount.exfat-fuse "$loop" "$mnt" ;;
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

# Kills the tool at random moments of its walk, then runs it to the end, which finishes every
# move cut short: the tree is transliterated whole, every file with what it held, and nothing the
# tool made is left.
cut_short() {
    local i round before=() after=()
    fresh "$fs: killed at random moments, then run to the end"
    for i in {1..40}; do
        before+=(Папка$i/Файл Файл$i) after+=("Papka$i/Fajl = Папка$i/Файл" "Fajl$i = Файл$i")
    done
    make_tree "${before[@]}"
    for round in {1..12}; do
        "${tool[@]}" . >/dev/null & sleep "0.0$((RANDOM % 10))$((RANDOM % 10))"
        kill -s KILL $! 2>/dev/null; wait $!
    done
    "${tool[@]}" . >"$work/out" || { fail "exit status $?" && cat "$work/out"; }
    diff <(printf '%s\n' "${after[@]}" | sort) <(list_tree) || fail "tree left"
}

# A file that grew on the server since the mount cached its size and time is one file still.
stale_attributes() {
    fresh "sshfs: a file changed behind the mount's cache"
    printf 1 >Файл && stat Файл >/dev/null && printf 2 >>"$work/remote/tree/Файл"
    "${tool[@]}" . >/dev/null || fail "exit status $?"
    diff <(echo "Fajl = 12") <(list_tree) || fail "tree left"
}

filesystems() {
    local where=both runner=plain args=(.) ordered=0 after=() fs i
    for fs in ext4 xfs btrfs ntfs exfat tmpfs sshfs append-only; do
        mount_filesystem $fs ||
            { echo "skip $fs: no root, loop device, FUSE, sshd or mkfs" && continue; }
        [ $fs = append-only ] && { append_only; continue; }
        # What a user made under a Latin name stays, empty as it may be.
        base=$mnt name="$fs: an archive with a colliding pair" status=2 args=(Архив)
        before=(Архив/Фото/Море.jpg Архив/Shar Архив/Шар "Архив/Pusto = " Архив/Пусто Архив/Les/
            Архив/Лес/)
        lines=("rename directory from Архив/Фото to Архив/Foto"
            "rename file from Архив/Foto/Море.jpg to Архив/Foto/More.jpg"
            "left as is, name taken: Архив/Шар" "left as is, name taken: Архив/Пусто"
            "left as is, name taken: Архив/Лес" "rename directory from Архив to Arhiv")
        check
        # exFAT ignores case: "ya" takes "YA".
        name="$fs: a pair that differs in case alone" args=(.)
        before=(Я.txt ya.txt Юг/)
        [ $fs = exfat ] && status=2 lines=("left as is, name taken: ./Я.txt") ||
            status=0 lines=("rename file from ./Я.txt to ./YA.txt")
        lines+=("rename directory from ./Юг to ./Yug") && check
        name="$fs: each of a thousand renamed directories is walked once" status=2
        before=() lines=()
        for i in {1..1000}; do
            before+=(Каталог$i/Shar Каталог$i/Шар)
            lines+=("rename directory from ./Каталог$i to ./Katalog$i"
                "left as is, name taken: ./Katalog$i/Шар")
        done
        check
        [[ $fs == ext4 || $fs == exfat ]] && race
        [[ $fs == ntfs || $fs == exfat || $fs == sshfs ]] && cut_short
        [ $fs = sshfs ] && stale_attributes
        unmount_filesystem
    done
}

unmount_filesystem() {
    cd "$work" && rm -rf "$mnt/tree" && umount "$mnt" && base=$work
    [ -z "${loop-}" ] || { losetup -d "$loop" && unset loop; }
    [ ! -e "$work/sshd.pid" ] || { kill "$(cat "$work/sshd.pid")" && rm -f "$work/sshd.pid"; }
    rm -f "$work/image"
}

# bindfs over a directory where nothing can be removed (chattr +a): a rename cannot remove the
# old name, so the second name a file was given and the claim a directory was given (with the
# note that marks it) stay, each with its line, and a second run tells them again.
append_only() {
    local round after lines
    cd "$mnt" || return
    for round in 1 2; do
        name="append-only, run $round"
        after=("Fajl = Файл" "Файл = Файл" Papka/ Папка/ .kirlatin-Папка/)
        lines=("left as is, no permission: ./Файл" "left behind, second name: ./Fajl"
            "left as is, no permission: ./Папка" "left behind, empty claim: ./Papka")
        [ $round = 1 ] && make_tree Файл Папка/
        "${tool[@]}" . >"$work/out"; [ $? = 2 ] || fail "exit status"
        diff <(tail -n +5 "$work/out" | sort) <(printf '%s\n' "${lines[@]}" | sort) || fail lines
        diff <(printf '%s\n' "${after[@]}" | sort) <(list_tree) || fail "tree left"
    done
    cd "$work" && umount "$mnt" && chattr -a "$work/append-only"
}

# While the tool walks a tree, a rival keeps changing it and taking the names the tool is about to
# move to: it makes a file or a directory at such a name, replaces an empty directory by a file,
# or moves a directory away with all it holds, and it never removes a file. Afterwards every
# file that stood, and every file the rival made, stands with its content. Once as is, and once
# on a file system without RENAME_NOREPLACE.
race() {
    for runner in plain old_filesystem; do
        fresh "race${fs:+ on $fs}, $runner"
        mkdir -p Каталог{0..9}/Пусто
        for file in Файл{0..999} Каталог{0..9}/Файл{0..9}; do printf %s "$file" >"$file"; done
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

# On Windows Ctrl+C, which Wine makes of SIGINT, mid-walk: the files renamed and the lines kept
# back are the same set, and the tool ends with the status Ctrl+C gives (0xC000013A; 58 a byte).
stop_on_windows() {
    fresh "stop, Ctrl+C" && touch Файл{0..5999}
    "${tool[@]}" . >"$work/out" &
    until ls | grep -q Fajl || ! kill -0 $! 2>/dev/null; do :; done
    kill -s INT $!
    for _ in {1..30}; do kill -0 $! 2>/dev/null && sleep 0.1; done
    kill -0 $! 2>/dev/null && fail "still running" && kill -s KILL $!
    wait $!; [ $? = 58 ] || fail "not ended by Ctrl+C"
    diff <(grep -o 'Fajl[0-9]*$' "$work/out" | sort) <(ls | grep Fajl | sort) || fail "lines"
}

# A stop signal ends the tool by that signal once the lines kept back are written: the files
# renamed and the renames printed are the same. With a reader that holds the pipe and never
# reads, the walk stalls once the pipe and the kept lines are full, and SIGTERM still ends it
# within a second (three are allowed here, for a loaded machine), and so does SIGHUP when the
# tool starts with every signal it relies on blocked. A SIGHUP ignored from the start (nohup)
# stays ignored: the walk ends as it would have, with status 0. The tool runs under perl, which
# tells a signal that ended it (as 100 and the signal) from an exit status.
stop() {
    [ $platform = posix ] || { stop_on_windows; return; }
    set -m  # the tool and perl in a job of their own, which the signal reaches
    ulimit -c 0  # SIGQUIT dumps no core
    for round in INT TERM HUP QUIT stalled blocked nohup; do
        # One directory serves every round, its names turned back: a new one fills slowly.
        [ $round = INT ] && fresh stop && touch Файл{0..5999}
        name="stop, $round" && exec 3<>"$work/fifo"
        perl -e 'rename $_, s/Fajl/Файл/r for <Fajl*>'
        case $round in
        stalled) out=$work/fifo signal=TERM ;;
        blocked) out=$work/fifo signal=HUP ;;
        nohup) out=$work/out signal=HUP ;;
        *) out=$work/out signal=$round ;;
        esac
        ended=$([ $round = nohup ] && echo 0 || echo $((100 + $(kill -l "$signal"))))
        first=$(ls -U | head -n 1) count=0
        ROUND=$round perl -MPOSIX -e '@stops = qw(INT TERM HUP QUIT);
            $SIG{$_} = "IGNORE" for @stops;
            if (!($pid = fork)) { $SIG{$_} = "DEFAULT" for @stops;
            $SIG{HUP} = "IGNORE" if $ENV{ROUND} eq "nohup";
            sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM, SIGINT, SIGTERM, SIGHUP, SIGQUIT))
                if $ENV{ROUND} eq "blocked"; exec @ARGV }
            waitpid $pid, 0; exit($? & 127 ? 100 + ($? & 127) : $? >> 8)' "${tool[@]}" . >"$out" &
        # The walk has begun.
        until [ -e "Fajl${first#Файл}" ] || ! kill -0 $! 2>/dev/null; do :; done
        while [ "$out" = "$work/fifo" ] && [ "$(ls | grep -c Fajl)" != $count ]; do
            count=$(ls | grep -c Fajl) && sleep 0.2
        done
        kill -s "$signal" -- -$!
        for _ in {1..30}; do kill -0 $! 2>/dev/null && sleep 0.1; done
        kill -0 $! 2>/dev/null && fail "still running" && kill -s KILL -- -$!
        wait $!; [ $? = "$ended" ] || fail "not ended as it should be by $signal"
        exec 3<&-
        [ "$out" = "$work/fifo" ] ||
            diff <(grep -o 'Fajl[0-9]*$' "$out" | sort) <(ls | grep Fajl | sort) || fail "lines"
    done
}

# A rival who owns one directory of the tree swaps it for a link to a directory outside the
# moment the walk opens it: in odd rounds while the walk renames its files, in even ones while
# the walk is about to descend into its subdirectory, which the outside directory holds too,
# full of Cyrillic names. Nothing outside ever changes.
attack() {
    for round in {1..20}; do
        fresh "attack, round $round"
        make_tree outside/Я{1..20} outside/sub/Я{1..20} "root/.link -> ../outside"
        ((round % 2)) && make_tree root/victim/Я{1..20} || make_tree root/victim/sub/
        list_tree | grep ^outside >"$work/before"
        "${shim%/*}/swap_rival" root/victim root/.link "${tool[@]}" root >/dev/null ||
            fail "exit status $?"
        diff "$work/before" <(list_tree | grep ^outside) || fail "outside changed"
    done
}

mkfifo "$work/fifo"
checks=0
"$group"
[[ $group != [A-Z]* || $checks != 0 ]] || check
exit $failed
