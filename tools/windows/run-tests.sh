#!/usr/bin/env bash
# Builds korvo-test.exe for 32-bit Windows (MinGW-w64 cross build, preset
# `windows`) and runs all its tests under Wine on a virtual X display.
# Installs nothing; needs (Debian 12): g++-mingw-w64-i686-posix
# binutils-mingw-w64-i686 googletest cmake ninja-build, and for the tests
# wine wine32:i386 fonts-wine xvfb xauth xdotool imagemagick.
# Usage: tools/windows/run-tests.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build-win32
cd "$root"

cmake --preset windows
cmake --build "$build" -j2

xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
  bash tools/windows/wine-session.sh \
  timeout 1800 ctest --test-dir "$build" --output-on-failure --timeout 300

echo "Dialog screenshot: $build/select-dialog.png"
