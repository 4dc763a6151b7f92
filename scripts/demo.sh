#!/usr/bin/env bash
# Builds kirlatin and runs it on a small sample tree made in a temporary directory, listing the
# tree before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh cmake make g++
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKIRLATIN_TESTS=OFF >/dev/null
cmake --build build --parallel 2 --target kirlatin >/dev/null

sample="$(mktemp -d "${TMPDIR:-/tmp}/kirlatin-demo-XXXXXX")"
trap 'rm -rf "$sample"' EXIT
root="$sample/Архив"
mkdir -p "$root/Фото/Лето 2024" "$root/Документы" "$root/music"
printf 'sea\n' >"$root/Фото/Лето 2024/Море.jpg"
printf 'lake\n' >"$root/Фото/Лето 2024/Озеро.jpg"
printf 'report\n' >"$root/Документы/Отчёт за июль.docx"
printf 'ad\n' >"$root/Документы/Объявление.txt"
printf 'song\n' >"$root/music/Жёлтая подводная лодка.mp3"
printf 'notes\n' >"$root/notes.txt"

list() { (cd "$sample" && find . -mindepth 1 | sort | sed 's|^\./|  |'); }
echo "Before:"
list
./build/kirlatin "$root"
echo "After:"
list
