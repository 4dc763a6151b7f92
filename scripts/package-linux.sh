#!/usr/bin/env bash
# Cross-builds kirlatin for Linux on x86_64, aarch64 and armv7 (hard float) with zig, each linked
# statically with musl so that it runs on any Linux of that machine (a NAS, a router, a
# single-board computer), and leaves kirlatin-VERSION-linux-ARCH.tar.gz in OUTDIR for each, with
# the program, its manual page, README and LICENSE. Each program is checked to be a static ELF of
# its machine. Exits 3 where zig cannot be installed (no npm registry).
#   package-linux.sh OUTDIR
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh cmake make file
out=$(realpath -m "$1")
zig=$(bash scripts/install-zig.sh build-tools) || exit $?
mkdir -p "$out"
for target in "x86_64-linux-musl:64-bit LSB executable, x86-64" \
    "aarch64-linux-musl:64-bit LSB executable, ARM aarch64" \
    "arm-linux-musleabihf:32-bit LSB executable, ARM, EABI5"; do
    build=build-linux-package-${target%%-*}
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake -DKIRLATIN_ZIG="$zig" \
        -DKIRLATIN_ZIG_TARGET="${target%:*}" -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF \
        >/dev/null
    cmake --build "$build" --parallel 2
    file "$build/kirlatin" | grep -q "ELF ${target#*:}.*statically linked" ||
        { echo "$build/kirlatin is no static ${target#*:}" >&2; exit 1; }
    (cd "$build" && cpack -B "$out" >/dev/null)
done
rm -rf "$out/_CPack_Packages"
ls "$out"/kirlatin-*-linux-*.tar.gz
