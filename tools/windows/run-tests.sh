#!/usr/bin/env bash
# Builds korvo-test.exe for 32-bit and for 64-bit Windows (MinGW-w64 cross
# builds, presets `windows` and `windows64`) and runs all their tests under
# Wine on a virtual X display, each build in a 64-bit prefix of its own, as
# 64-bit Windows runs them: the 64-bit build under wine64; the 32-bit one
# under wine (WoW64), against the 64-bit test driver that the 64-bit
# installer (install_korvo_driver.exe of the 64-bit build) put in first;
# 64-bit Windows loads no 32-bit driver.
# Installs nothing; needs (Debian 12): g++-mingw-w64-i686-posix
# binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
# googletest cmake ninja-build, and for the tests wine wine32:i386 wine64
# fonts-wine xvfb xauth xdotool imagemagick.
# A build whose Wine cannot run on this machine (a kernel without 32-bit
# support cannot start the 32-bit loader) is still built, warnings as errors;
# its tests are skipped with the reason, or fail the run when
# KORVO_REQUIRE_ALL_WINDOWS_TESTS=1.
# Usage: tools/windows/run-tests.sh [32|64]...   (default: both)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"

bits_list=("$@")
[ ${#bits_list[@]} -gt 0 ] || bits_list=(32 64)

failed=0
for bits in "${bits_list[@]}"; do
  case "$bits" in
    32) preset=windows; build=$root/build-win32; session_option=(--wow64) ;;
    64) preset=windows64; build=$root/build-win64; session_option=(--64) ;;
    *) echo "unknown build: $bits (32 or 64)" >&2; exit 2 ;;
  esac

  echo "=== $bits-bit Windows build ($preset)"
  cmake --preset "$preset"
  cmake --build "$build" -j2

  # The 32-bit programs run in a 64-bit prefix: both loaders must work.
  if ! reason=$(bash tools/windows/wine-loader.sh "$bits" 2>&1 >/dev/null) ||
     ! reason=$(bash tools/windows/wine-loader.sh 64 2>&1 >/dev/null); then
    echo "SKIP: the $bits-bit Windows tests cannot run here: $reason"
    if [ "${KORVO_REQUIRE_ALL_WINDOWS_TESTS:-0}" = 1 ]; then failed=1; fi
    continue
  fi

  tests=(timeout 1800 ctest --test-dir "$build" --output-on-failure --timeout 300)
  if [ "$bits" = 32 ]; then
    cmake --preset windows64 >/dev/null
    cmake --build "$root/build-win64" -j2 --target install_korvo_driver
    installer=$root/build-win64/tests/win32/install_korvo_driver.exe
    tests=(bash -c '"$KORVO_WINE64" "$0" </dev/null && exec "$@"' "$installer" "${tests[@]}")
  fi
  if ! xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" \
      bash tools/windows/wine-session.sh "${session_option[@]}" "${tests[@]}"; then
    failed=1
  fi
  echo "Dialog screenshot: $build/select-dialog.png"
done
exit "$failed"
