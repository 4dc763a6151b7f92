#!/usr/bin/env bash
# Cross-builds kirlatin.exe for 64-bit Windows with Debian's mingw-w64 and for Windows on Arm
# with zig, each linked statically, and leaves kirlatin-VERSION-win64.zip and
# kirlatin-VERSION-win-arm64.zip in OUTDIR, with the program, README and LICENSE. Exits 3 after
# the first where zig cannot be installed (no npm registry).
#   package-windows.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake make file g++-mingw-w64-x86-64-posix
out=$(realpath -m "$1")
mkdir -p "$out"
package() {
    cmake -S . -B "$1" "${@:3}" -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
    cmake --build "$1" --parallel 2
    file "$1/kirlatin.exe" | grep -q "PE32+ executable (console) $2" ||
        { echo "$1/kirlatin.exe is no console program for $2" >&2; exit 1; }
    (cd "$1" && cpack -B "$out" >/dev/null)
}
package build-windows-package x86-64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
zig=$(bash scripts/install-zig.sh build-tools) || exit $?
package build-windows-arm64 Aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
    -DKIRLATIN_ZIG="$zig" -DKIRLATIN_ZIG_TARGET=aarch64-windows-gnu
rm -rf "$out/_CPack_Packages"
ls "$out"/kirlatin-*-win*.zip
