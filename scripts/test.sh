#!/usr/bin/env bash
# Builds kirlatin and runs every test: kirlatin.exe cross-compiled for Windows, with its unit
# tests under Wine; the native build as released, whose table of cases also runs kirlatin.exe
# under Wine on real trees; the native build again under AddressSanitizer and
# UndefinedBehaviorSanitizer. As root, the tests mount file-system images.
# Then the case table and the race on a Linux build that lists and finds mount points as macOS
# does, and the macOS programs and archives, cross-built with zig from the npm registry. Last it
# checks that the sources follow .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++ googletest libgtest-dev clang-format \
    g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev groff-base man-db \
    ntfs-3g exfat-fuse exfatprogs xfsprogs btrfs-progs e2fsprogs util-linux perl \
    openssh-server openssh-client sshfs bindfs file binutils strace \
    rclone archivemount fuse2fs squashfuse squashfs-tools mergerfs fuse-zip samba smbnetfs

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

echo "== macOS builds for Apple silicon and Intel (zig), and their archives"
status=0
bash scripts/package-macos.sh build-macos-packages >/dev/null || status=$?
if [ $status = 3 ]; then
    echo "skip macOS: no npm registry for the cross compiler"
elif [ $status != 0 ]; then
    exit $status
else
    for arch in arm64 x86_64; do
        tar xzf build-macos-packages/kirlatin-*-macos-$arch.tar.gz -C build-macos-packages
        file build-macos-packages/kirlatin-*-macos-$arch/bin/kirlatin |
            grep "Mach-O 64-bit $arch executable"
    done
fi

echo "== Formatting"
find app console latinize platform testing text tree -name '*.cpp' -o -name '*.h' -o -name '*.c' |
    xargs clang-format --dry-run -Werror
echo "formatting: ok"
