#!/usr/bin/env bash
# Packs the Windows builds into out/korvo-test-windows.zip: the 32-bit
# program as x86/korvo-test.exe, the 64-bit one as x64/korvo-test.exe, the
# README and the LICENSE. Builds both first (presets `windows` and `windows64`).
# Usage: tools/windows/package.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

for preset in windows windows64; do
  cmake --preset "$preset" >/dev/null
done
cmake --build build-win32 -j2 --target korvo-test
cmake --build build-win64 -j2 --target korvo-test

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/x86" "$stage/x64" out
cp build-win32/korvo-test.exe "$stage/x86/"
cp build-win64/korvo-test.exe "$stage/x64/"
cp README.md LICENSE "$stage/"

zip=$root/out/korvo-test-windows.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip README.md LICENSE x86/korvo-test.exe x64/korvo-test.exe)
echo "$zip"
