#!/usr/bin/env bash
# Builds everything, makes a small sample folder, writes a checker into it with
# vexorin-build and shows what was written. Used by the README until the maker window
# is the main entry point.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset windows >/dev/null && cmake --build --preset windows
cmake --preset linux >/dev/null && cmake --build --preset linux --target vexorin-build

sample=${1:-$(mktemp -d /tmp/vexorin-sample-XXXXXX)}
mkdir -p "$sample/ソフト/データ"
printf 'Vexorin sample\n' > "$sample/readme.txt"
printf '表\n' > "$sample/表.txt"
head -c 300000 /dev/urandom > "$sample/ソフト/データ/big.bin"
build/linux/cli/vexorin-build --yes "$sample"
echo
ls -la "$sample"
echo "Run the checker: LC_ALL=ja_JP.UTF-8 wine '$sample/Vexorin.exe'"
