#!/usr/bin/env bash
# Builds kirlatin and runs every test: once as released, once under AddressSanitizer and
# UndefinedBehaviorSanitizer; then checks that the sources follow .clang-format.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++ libgtest-dev clang-format

run_suite() {
    local dir="$1"
    shift
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" --parallel 2
    ctest --test-dir "$dir" --output-on-failure --parallel 2
}

echo "== Release build"
run_suite build -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=ON
echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DKIRLATIN_SANITIZE=ON -DKIRLATIN_TESTS=ON

echo "== Formatting"
find app latinize platform testing text tree -name '*.cpp' -o -name '*.h' -o -name '*.c' |
    xargs clang-format --dry-run -Werror
echo "formatting: ok"
