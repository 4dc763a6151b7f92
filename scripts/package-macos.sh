#!/usr/bin/env bash
# Cross-builds kirlatin for macOS on Apple silicon and on Intel with zig, and leaves
# kirlatin-VERSION-macos-arm64.tar.gz and kirlatin-VERSION-macos-x86_64.tar.gz in OUTDIR, each
# with the program, its manual page, README and LICENSE. Each program is checked to need nothing
# but libSystem. Exits 3 where zig cannot be installed (no npm registry).
#   package-macos.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "$1")
zig=$(bash scripts/install-zig.sh build-tools) || exit $?
mkdir -p "$out"
for arch in aarch64 x86_64; do
    build=build-macos-$arch
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DKIRLATIN_ZIG="$zig" \
        -DKIRLATIN_ZIG_TARGET=$arch-macos -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
    cmake --build "$build" --parallel 2
    libraries=$(strings -a "$build/kirlatin" | grep '\.dylib$')
    [ "$libraries" = /usr/lib/libSystem.B.dylib ] ||
        { echo "$build/kirlatin needs more than libSystem: $libraries" >&2; exit 1; }
    (cd "$build" && cpack -B "$out" >/dev/null)
done
rm -rf "$out/_CPack_Packages"
ls "$out"/kirlatin-*-macos-*.tar.gz
