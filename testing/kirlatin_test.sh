#!/usr/bin/env bash
# The tool as a user runs it, on trees made in a temporary directory:
#   kirlatin_test.sh cases|filesystems|race|stop|attack VERSION SHIM COMMAND...
# cases: one table. Each case is a tree before, how the tool is run, its arguments, the lines it
#   prints after the header, its exit status, and the tree it leaves, written out, where that is
#   not the tree before; every file keeps its content. COMMAND is the native kirlatin, or
#   kirlatin.exe through wine-run.sh, whose paths take backslashes; a case marked for one
#   platform runs there only.
# filesystems: the cases that tell file systems apart, and the race, on ext4, xfs, btrfs, NTFS
#   (ntfs-3g), exFAT (exfat-fuse) and tmpfs, each made and mounted under the working directory:
#   only as root where loop devices and FUSE work, with a skip line elsewhere.
# race: a rival process changes the tree, and takes the names the tool moves to, while it walks.
# stop: a stop signal in mid-walk, once with a reader that has stalled; on Windows, Ctrl+C.
# attack: a directory swapped for a link to outside the tree while the walk opens it.
set -uo pipefail
export LC_ALL=C.UTF-8 ASAN_OPTIONS=exitcode=99:detect_leaks=0:verify_asan_link_order=0 UBSAN_OPTIONS=exitcode=99
group=$1 version=$2 shim=$3 tool=("${@:4}")
[[ ${tool[*]} == *.exe ]] && platform=windows sep='\' || platform=posix sep=/
work="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-test-XXXXXX")"
mnt=$work/mnt base=$work
trap 'cd / && umount "$mnt" 2>/dev/null; [ -z "${loop-}" ] || losetup -d "$loop"; rm -rf "$work"' EXIT
header=("" "kirlatin $version" "Rename all files and subdirectories from cyrillic to translit" "")
failed=0
fail() { echo "FAIL $name: $*" && failed=1; }
# Starts the part named $1 in an empty working directory.
fresh() { name=$1 && rm -rf "$base/tree" && mkdir "$base/tree" && cd "$base/tree" || exit 1; }

# Makes each entry in the working directory: "a/b" a file that holds its own path, "a/" a
# directory, "a -> b" a symbolic link, "a|" a FIFO.
make_tree() {
    local entry path dirs=()
    for entry; do  # the directories first, all in one call
        path=${entry%% -> *}
        [[ $path == */ ]] && dirs+=("$path") || [[ $path != */* ]] || dirs+=("${path%/*}")
    done
    [ ${#dirs[@]} = 0 ] || mkdir -p "${dirs[@]}"
    for entry; do
        path=${entry%% -> *}
        case $entry in
        *' -> '*) ln -s "${entry#* -> }" "$path" ;;
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
        find . -mindepth 1 \( -type l -printf '%P -> %l\n' \) -o \( -type d -empty -printf '%P/\n' \) -o \
            \( -type p -printf '%P|\n' \)
        find . -mindepth 1 -type f -printf '%P\0' |
            xargs -0r perl -e 'for (@ARGV) { open my $f, "<", $_ or die; local $/; print "$_ = ", <$f>, "\n" }'
    } | sort
}

# How a case runs the tool.
plain() { "$@"; }
old_filesystem() { LD_PRELOAD=$shim "$@"; }
few_descriptors() { (ulimit -n 7 && exec "$@" 3>&- 4>&- 5>&- 6>&-); }
reader_gone() { (exec 3<>"$work/fifo" 4>"$work/fifo" 3<&- && exec "$@" >&4); }
on_terminal() { script -qec "$(printf '%q ' "$@")" /dev/null | sed $'s/\e\\[[0-9;?]*[a-zA-Z]//g; s/\r//g'; }
# As an unprivileged user (nobody, when run by root), with the directory "Только" read-only,
# "Закрыто" closed and "Vhod" searchable but not readable, where they stand; a copy of the tool
# is where that user can run it.
unprivileged() {
    local as=() status
    cp "$1" "$work/tool" && chmod -R a+rwX "$work"
    { chmod a-w Только; chmod 0 Закрыто; chmod 0333 Vhod; } 2>/dev/null
    [ "$(id -u)" != 0 ] || as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    "${as[@]}" "$work/tool" "${@:2}"
    status=$? && chmod -R u+rwX . && return $status
}
# From a batch file that cmd runs, the root typed in quotes with a trailing backslash, which
# reaches the tool as a quote.
from_batch() {
    printf '@"%s" "%s\\"\r\n' "$("$1" winepath -w "$2")" "${@: -1}" >"$work/run.bat"
    "$1" cmd /c "$("$1" winepath -w "$work/run.bat")"
}
# Standard output a non-blocking pipe of one page, read only after a second: writes meet EAGAIN.
nonblocking() {
    perl -MFcntl -e 'pipe R, W; fcntl W, 1031, 4096; fcntl W, F_SETFL, O_NONBLOCK;
        if (!fork) { open STDOUT, ">&W"; exec @ARGV } close W; sleep 1; print while <R>; wait;
        exit $? >> 8' "$@"
}
# True where this process may mount: as root, and not in a sandbox that forbids it (Landlock).
can_mount() { mkdir -p "$work/probe" && mount --bind "$work/probe" "$work/probe" 2>/dev/null && umount "$work/probe"; }
# With "Чужое" a bind mount of a directory outside the tree, which must keep its "Файл". Only
# where the tool can mount.
bind_mounted() {
    local status
    mkdir -p "$work/outside" && touch "$work/outside/Файл" && mount --bind "$work/outside" Чужое &&
        "$@"
    status=$? && umount Чужое && [ -e "$work/outside/Файл" ] || echo "outside changed"
    return $status
}
# "/" is the tree, where a copy of the tool and what it loads stand while it runs. Only as root,
# and not with AddressSanitizer, which reads its options from /proc.
chrooted() {
    local files=("$1" $(ldd "$1" | grep -o '/[^ ]*')) status
    cp --parents "${files[@]}" . && chroot . "$@"
    status=$? && for file in "${files[@]}"; do file=${file#/} && rm -rf "${file%%/*}"; done
    return $status
}

# check NAME WHERE RUNNER STATUS ARG... <<LINES runs the tool on the tree in the array `tree`;
# the tree left must be the one in `after` when that is set, in list_tree's notation, and the
# tree before otherwise.
check() {
    local where=$2 runner=$3 status=$4 got
    name=$1 && shift 4 && cat >"$work/lines"
    [[ $where == both || $where == "$platform" ]] || { unset after && return; }
    [[ $runner == chrooted && ($(id -u) != 0 || $(ldd "${tool[0]}") == *libasan*) ]] &&
        echo "skip $name: chroot needs root, and AddressSanitizer needs /proc" && unset after && return
    [[ $runner == bind_mounted ]] && ! can_mount && echo "skip $name: cannot mount here" && unset after && return
    fresh "$name" && make_tree "${tree[@]}" && list_tree >"$work/before"
    "$runner" "${tool[@]}" "${@//\//$sep}" >"$work/out"
    got=$? && [ "$got" = "$status" ] || fail "exit status $got"
    [[ $runner == reader_gone ]] || diff <(head -n 4 "$work/out" && tail -n +5 "$work/out" | sort) <(
        printf '%s\n' "${header[@]}" && while IFS= read -r line; do
            printf '%s\n' "${line//\//$sep}"
        done <"$work/lines" | sort) || fail "lines"
    [ -n "${after+set}" ] && printf '%s\n' "${after[@]}" | sort >"$work/before"
    diff "$work/before" <(list_tree) || fail "tree left"
    unset after
}

cases() {
    local usage="use: kirlatin.exe rootdir" d198 m57 r259 photo zh300 euro246
    d198=$(printf 'd%.0s' {1..198}) m57=$(printf 'm%.0s' {1..57})
    zh300=$(printf 'ж%.0s' {1..300}) euro246=$(printf '€%.0s' {1..246})
    r259=$(printf 'a%.0s' {1..128})/$(printf 'b%.0s' {1..128})/М
    photo=$'rename directory from ./Фото to ./Foto\nrename file from ./Foto/Море.jpg to ./Foto/More.jpg'

    tree=(Архив/Фото/Море.jpg Архив/.Я/..Две Архив/notes)
    after=("Arhiv/.YA/..Dve = Архив/.Я/..Две" "Arhiv/Foto/More.jpg = Архив/Фото/Море.jpg" "Arhiv/notes = Архив/notes")
    # Of two trailing separators one is trimmed; the paths are composed from what is left.
    check RenamesDepthFirstAndTheRootLast both plain 0 ./Архив// <<'END'
rename directory from ./Архив//Фото to ./Архив//Foto
rename file from ./Архив//Foto/Море.jpg to ./Архив//Foto/More.jpg
rename directory from ./Архив//.Я to ./Архив//.YA
rename file from ./Архив//.YA/..Две to ./Архив//.YA/..Dve
rename directory from ./Архив/ to ./Arhiv/
END
    # A directory whose move failed is walked under the name it keeps.
    tree=(Шар Shar Фото/Море.jpg Foto/Лето)
    after=("Foto/Leto = Foto/Лето" "Shar = Shar" "Шар = Шар" "Фото/More.jpg = Фото/Море.jpg")
    check CollidingNamesAreNeverReplaced both plain 2 . <<'END'
left as is, name taken: ./Шар
left as is, name taken: ./Фото
rename file from ./Фото/Море.jpg to ./Фото/More.jpg
rename file from ./Foto/Лето to ./Foto/Leto
END
    tree=(Только/Подпапка/Лес Закрыто/Я)
    after=("Tol'ko/Подпапка/Les = Только/Подпапка/Лес" "Zakryto/Я = Закрыто/Я")
    check WhatCannotBeRenamedOrListedIsTold posix unprivileged 2 . <<'END'
rename directory from ./Только to ./Tol'ko
left as is, no permission: ./Tol'ko/Подпапка
rename file from ./Tol'ko/Подпапка/Лес to ./Tol'ko/Подпапка/Les
rename directory from ./Закрыто to ./Zakryto
not listed, no permission: ./Zakryto
END
    # The root's parent is opened for searching only.
    tree=(Vhod/Фото/Я) after=("Vhod/Foto/YA = Vhod/Фото/Я")
    check ARootInAParentThatCannotBeReadIsRenamed posix unprivileged 0 Vhod/Фото <<'END'
rename file from Vhod/Фото/Я to Vhod/Фото/YA
rename directory from Vhod/Фото to Vhod/Foto
END
    tree=(Чужое/ Я) after=(Чужое/ "YA = Я")
    check AMountPointIsNeverEntered posix bind_mounted 2 . <<'END'
left as is, in use: ./Чужое
not listed, mount point: ./Чужое
rename file from ./Я to ./YA
END
    # Fx/Leto would carry the root into another directory.
    tree=(Фx/Лето/Июль/ Fx/) after=(Fx/ "Фx/Лето/Iyul'/")
    check TheRootOnlyEverMovesWithinItsParent both plain 2 Фx/Лето <<<"rename directory from Фx/Лето/Июль to Фx/Лето/Iyul'
left as is, failed: Фx/Лето"
    # Only the root may be a link, and is walked where it points.
    tree=(out/Я root/Фото/ "alias -> root" "root/Foto -> ../out" "root/Ссылка -> ../out")
    after=("alias -> root" "out/Я = out/Я" "root/Foto -> ../out" "root/Ssylka -> ../out" root/Фото/)
    check LinksAreRenamedThemselvesAndNeverFollowed posix plain 2 alias \
        <<<"rename file from alias/Ссылка to alias/Ssylka
left as is, name taken: alias/Фото"
    # Wine moves the target of a Unix link, never the link: links keep their names there.
    tree=(out/Я root/Фото/ "root/Foto -> ../out" "root/Ссылка -> ../out")
    check NeverEntersALinkedDirectoryOnWindows windows plain 2 root <<'END'
left as is, name taken: root/Фото
left as is, not supported: root/Ссылка
END
    tree=(out/Я "Ссылка -> out") after=("out/YA = out/Я" "Ссылка -> out")
    check ARootThatIsALinkIsWalkedButNeverMovesItsTarget windows plain 2 Ссылка <<<"rename file from Ссылка/Я to Ссылка/YA
left as is, not supported: Ссылка"
    # A line shows control characters as their pictures (U+2401, U+241B, U+2421); names keep them.
    # Names in KOI8-R (пёс.txt) and CP1251 (Рёрих.jpg, Москва.txt), and an overlong form, are no
    # UTF-8: kept whole, even where some of their bytes read as UTF-8, and walked into.
    tree=($'\x01\x1b\x7fЖук' $'\xd0\xa3\xd3.txt' $'\xd0\xb8\xf0\xe8\xf5.jpg' $'\xcc\xee\xf1\xea\xe2\xe0.txt'
        $'\xc0\xaf\xd0\xa4/Жук' 'Канал|' $'Ключ\nleft as is')
    after=($'\x01\x1b\x7fZhuk = \x01\x1b\x7fЖук' "${tree[1]} = ${tree[1]}" "${tree[2]} = ${tree[2]}"
        "${tree[3]} = ${tree[3]}" "${tree[4]%Жук}Zhuk = ${tree[4]}" 'Kanal|' $'Klyuch\nleft as is = Ключ\nleft as is')
    check HostileNamesAreRenamedAsNamesAndNothingIsOpened posix plain 2 . < <(
        printf 'left as is, not UTF-8: ./%s\n' "${tree[@]:1:3}" "${tree[4]%/*}"
        printf 'rename file from ./%s to ./%s\n' ␁␛␡Жук ␁␛␡Zhuk "${tree[4]}" "${tree[4]%Жук}Zhuk" \
            Канал Kanal "Ключ␊left as is" "Klyuch␊left as is")
    # Win32 reads "Фото." as "Фото", "Nul" as a device in any directory, and "ya" as "YA": no
    # such name is made. Directories that already bear one are walked all the same.
    tree=(Фото. Фото "Лето /Море" Ауx.txt Лпт1.log Нул Прн.txt Цом9 Цон/ Я ya nul/Файл aux/Кот/ Com1.backup/Я)
    after=("Foto = Фото" "Фото. = Фото." "Лето /More = Лето /Море" "Ауx.txt = Ауx.txt" "Лпт1.log = Лпт1.log"
        "Нул = Нул" "Прн.txt = Прн.txt" "Цом9 = Цом9" Цон/ "Я = Я" "ya = ya" "nul/Fajl = nul/Файл" aux/Kot/
        "Com1.backup/YA = Com1.backup/Я")
    check NamesWin32WouldReadAsOthersAreNeverMade windows plain 2 . < <(echo "rename file from ./Фото to ./Foto
left as is, name taken: ./Я
rename file from ./Лето /Море to ./Лето /More
rename file from ./nul/Файл to ./nul/Fajl
rename directory from ./aux/Кот to ./aux/Kot
rename file from ./Com1.backup/Я to ./Com1.backup/YA"
        printf 'left as is, reserved name: ./%s\n' Ауx.txt "Лето " Лпт1.log Нул Прн.txt Фото. Цом9 Цон)
    # A line too long is fitted: each path keeps its end, behind "…".
    local p1=./$d198/${m57}М p2=./$d198/m${m57}М p3=./$d198/${m57}Ж p4=./$d198/${m57}mm p5=./$d198/${m57:2}/Я
    tree=("$p1" "$p2" "$p3" "$p4/Я" "$p5")
    after=("$d198/${m57}M = $p1" "${p2#./} = $p2" "${p3#./} = $p3" "${p4#./}/Я = $p4/Я" "$d198/${m57:2}/YA = $p5")
    check PathsOf259UnitsAreRenamedAndLongerOnesLeftAsIs both plain 2 . <<END
rename file from …${p1: -117} to …${p1: -118:117}M
rename file from …${p5: -117} to …${p5: -117:116}YA
left as is, path too long: …${p2: -230}
left as is, path too long: …${p3: -230}
not listed, path too long: …${p4: -230}
END
    tree=("$r259/") after=("${r259%М}M/")
    check RootOf259UnitsIsWalked both plain 0 "$r259" <<<"rename directory from …${r259: -115} to …${r259: -115:114}M"
    unset after
    check RootOf260UnitsIsRefused both plain 1 "$r259/" <<<"…${r259: -246}/ not exist"
    # The root is opened once: the entries renamed are reached through it, not through "Июнь".
    tree=(Море/Июнь/ Море/Август/Я Море/Октябрь/)
    after=("Море/Avgust/YA = Море/Август/Я" "Море/Iyun'/" "Море/Oktyabr'/")
    check ARootThroughDotDotIsWalkedWhole both plain 0 Море/Июнь/.. <<'END'
rename directory from Море/Июнь/../Июнь to Море/Июнь/../Iyun'
rename directory from Море/Июнь/../Август to Море/Июнь/../Avgust
rename file from Море/Июнь/../Avgust/Я to Море/Июнь/../Avgust/YA
rename directory from Море/Июнь/../Октябрь to Море/Июнь/../Oktyabr'
END
    tree=("My photos/Я") after=("My photos/YA = My photos/Я")
    check AFolderTypedInCmdWithATrailingBackslashIsWalked windows from_batch 0 "My photos" \
        <<<"rename file from My photos/Я to My photos/YA"
    if [ $platform = windows ]; then
        local long="\\\\?\\$("${tool[0]}" winepath -w "$base/tree")"
        tree=(Фото/Я) after=("Foto/YA = Фото/Я")
        check ARootInItsLongFormIsWalkedAndRenamed windows plain 0 "$long\\Фото" <<<"rename file from $long\\Фото\\Я to $long\\Фото\\YA
rename directory from $long\\Фото to $long\\Foto"
    fi
    tree=(Фото/ Море)
    check UsageWithoutAnArgument both plain 1 <<<"$usage"
    check UsageWithTwoArguments both plain 1 . . <<<"$usage"
    check EmptyRootDoesNotExist both plain 1 "" <<<" not exist"
    check MissingRootDoesNotExist both plain 1 Нет <<<"Нет not exist"
    check FileRootDoesNotExist both plain 1 Море <<<"Море not exist"
    # Its end is shown, never from within a surrogate pair, however long it is.
    check OverlongRootShowsItsEnd both plain 1 "${zh300}😀$euro246" <<<"…$euro246 not exist"
    tree=(Фото/Море.jpg) photo_after="Foto/More.jpg = Фото/Море.jpg"
    after=$photo_after check WritesToATerminal both on_terminal 0 . <<<"$photo"
    after=$photo_after check OutputWhoseReaderHasGoneNeverStopsTheWalk posix reader_gone 0 . <<<"$photo"
    after=$photo_after check TheRootDirectoryIsWalkedAsSlashName posix chrooted 0 / <<<"${photo//.\//\/}"
    after=$photo_after check ARootUnderSlashIsRenamedLast posix chrooted 0 /Фото <<<"rename file from /Фото/Море.jpg to /Фото/More.jpg
rename directory from /Фото to /Foto"
    tree=(Файл{1..300}) && mapfile -t after < <(printf 'Fajl%s = Файл%s\n' {1..300}{,})
    check EveryLineReachesANonBlockingPipe posix nonblocking 0 . < <(printf 'rename file from ./Файл%s to ./Fajl%s\n' {1..300}{,})
    # Each listing is closed before the next: three left open would use up the descriptors.
    tree=(a/Я b/Я c/Я d/Я) && mapfile -t after < <(printf '%s/YA = %s/Я\n' a a b b c c d d)
    check ListingsAreClosed posix few_descriptors 0 . < <(printf 'rename file from ./%s/Я to ./%s/YA\n' a a b b c c d d)
    # Without RENAME_NOREPLACE a file moves by a hard link, undone when the old name stays;
    # without entry types each entry itself is asked, never the target of a link.
    # A file that cannot be linked, or whose link cannot be told from it, and every directory,
    # moves onto a claim of its new name.
    tree=(Море d/Лес "Ссылка -> d" "link -> d" Упрямый Копия Двойник Дом/)
    after=("More = Море" "d/Les = d/Лес" "Ssylka -> d" "link -> d" "Упрямый = Упрямый" "Kopiya = Копия"
        "Dvojnik = Двойник" Dom/)
    check OnAnOlderFileSystemTheSamePromisesHold posix old_filesystem 2 . < <(echo "left as is, no permission: ./Упрямый"
        echo "rename directory from ./Дом to ./Dom"
        printf 'rename file from ./%s to ./%s\n' Море More d/Лес d/Les Ссылка Ssylka Копия Kopiya Двойник Dvojnik)
}

# Makes a file system of type $1 and mounts it on $mnt; fails where it cannot.
mount_filesystem() {
    local image=$work/image
    mkdir -p "$mnt" && [ "$(id -u)" = 0 ] || return 1
    [ "$1" = tmpfs ] && { mount -t tmpfs tmpfs "$mnt"; return; }
    truncate -s 320M "$image" && case $1 in
    ntfs) mkfs.ntfs -QFq "$image" && ntfs-3g "$image" "$mnt" ;;
    exfat) mkfs.exfat "$image" && loop=$(losetup -f --show "$image") && mount.exfat-fuse "$loop" "$mnt" ;;
    *) "mkfs.$1" -q "$([ "$1" = ext4 ] && echo -F || echo -f)" "$image" && mount -o loop "$image" "$mnt" ;;
    esac >/dev/null 2>&1
}

filesystems() {
    local wide=() wide_after=() wide_lines=() fs i
    for i in {1..1000}; do
        wide+=(Каталог$i/Shar Каталог$i/Шар)
        wide_after+=("Katalog$i/Shar = Каталог$i/Shar" "Katalog$i/Шар = Каталог$i/Шар")
        wide_lines+=("rename directory from ./Каталог$i to ./Katalog$i" "left as is, name taken: ./Katalog$i/Шар")
    done
    for fs in ext4 xfs btrfs ntfs exfat tmpfs; do
        mount_filesystem $fs || { echo "skip $fs: no root, loop device, FUSE or mkfs here" && continue; }
        base=$mnt
        tree=(Архив/Фото/Море.jpg Архив/Shar Архив/Шар)
        after=("Arhiv/Foto/More.jpg = Архив/Фото/Море.jpg" "Arhiv/Shar = Архив/Shar" "Arhiv/Шар = Архив/Шар")
        check "$fs: an archive with a colliding pair" both plain 2 Архив <<'END'
rename directory from Архив/Фото to Архив/Foto
rename file from Архив/Foto/Море.jpg to Архив/Foto/More.jpg
left as is, name taken: Архив/Шар
rename directory from Архив to Arhiv
END
        # exFAT ignores case: "ya" takes "YA".
        tree=(Я.txt ya.txt Юг/)
        [ $fs = exfat ] && after=("Я.txt = Я.txt" "ya.txt = ya.txt" Yug/) status=2 line="left as is, name taken: ./Я.txt" ||
            after=("YA.txt = Я.txt" "ya.txt = ya.txt" Yug/) status=0 line="rename file from ./Я.txt to ./YA.txt"
        check "$fs: a pair that differs in case alone" both plain $status . <<<"$line
rename directory from ./Юг to ./Yug"
        tree=("${wide[@]}") after=("${wide_after[@]}")
        check "$fs: each of a thousand renamed directories is walked once" both plain 2 . < <(printf '%s\n' "${wide_lines[@]}")
        [[ $fs == ext4 || $fs == exfat ]] && race
        cd "$work" && rm -rf "$mnt/tree" && umount "$mnt" && base=$work
        [ -z "${loop-}" ] || { losetup -d "$loop" && unset loop; }
        rm -f "$work/image"
    done
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
        mapfile -t targets < <(printf '%s\n' Fajl{0..999} Katalog{0..9} {Каталог,Katalog}{0..9}/Пусто \
            Katalog{0..9}/{Pusto,Fajl{0..9}} | shuf)
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
# within a second (three are allowed here, for a loaded machine), even when the tool starts with
# every signal it relies on blocked. The tool runs under perl, which tells a signal that ended it
# (as 100 and the signal) from an exit status.
stop() {
    [ $platform = posix ] || { stop_on_windows; return; }
    set -m  # the tool and perl in a job of their own, which the signal reaches
    ulimit -c 0  # SIGQUIT dumps no core
    for round in INT TERM HUP QUIT stalled blocked; do
        # One directory serves every round, its names turned back: a new one fills slowly.
        [ $round = INT ] && fresh stop && touch Файл{0..5999}
        name="stop, $round" && perl -e 'rename $_, s/Fajl/Файл/r for <Fajl*>' && exec 3<>"$work/fifo"
        [[ $round == [a-z]* ]] && out=$work/fifo signal=TERM || out=$work/out signal=$round
        first=$(ls -U | head -n 1) count=0
        BLOCK=$([ $round = blocked ] && echo 1) perl -MPOSIX -e '@stops = qw(INT TERM HUP QUIT);
            $SIG{$_} = "IGNORE" for @stops; if (!($pid = fork)) { $SIG{$_} = "DEFAULT" for @stops;
            sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGALRM, SIGINT, SIGTERM, SIGHUP, SIGQUIT))
                if $ENV{BLOCK}; exec @ARGV }
            waitpid $pid, 0; exit($? & 127 ? 100 + ($? & 127) : $? >> 8)' "${tool[@]}" . >"$out" &
        until [ -e "Fajl${first#Файл}" ] || ! kill -0 $! 2>/dev/null; do :; done  # the walk has begun
        while [ "$out" = "$work/fifo" ] && [ "$(ls | grep -c Fajl)" != $count ]; do
            count=$(ls | grep -c Fajl) && sleep 0.2
        done
        kill -s "$signal" -- -$!
        for _ in {1..30}; do kill -0 $! 2>/dev/null && sleep 0.1; done
        kill -0 $! 2>/dev/null && fail "still running" && kill -s KILL -- -$!
        wait $!; [ $? = $((100 + $(kill -l "$signal"))) ] || fail "not ended by $signal"
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
        fresh "attack, round $round" && make_tree outside/Я{1..20} outside/sub/Я{1..20} "root/.link -> ../outside"
        ((round % 2)) && make_tree root/victim/Я{1..20} || make_tree root/victim/sub/
        list_tree | grep ^outside >"$work/before"
        "${shim%/*}/swap_rival" root/victim root/.link "${tool[@]}" root >/dev/null || fail "exit status $?"
        diff "$work/before" <(list_tree | grep ^outside) || fail "outside changed"
    done
}

mkfifo "$work/fifo"
"$group"
exit $failed
