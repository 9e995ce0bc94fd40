#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the unit tests, the
# emulator's own tests and the end-to-end tests on emulated devices, on a
# plain build and on one with AddressSanitizer and UBSan; the fuzz targets,
# each for a bounded time; then the 32-bit Windows build and its tests under
# Wine (skipped, with a notice, when the cross toolchain or Wine is not
# installed: `.ci/install-deps --windows`).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset ci
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci -j"$(nproc)"

# The same tests on a build with AddressSanitizer and UBSan.
cmake --preset asan
cmake --build --preset asan -j"$(nproc)"
ctest --preset asan -j"$(nproc)"

# The parsers of outside input under libFuzzer, about 20 s per target.
bash tools/run-fuzz.sh

if command -v i686-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  bash tools/windows/run-tests.sh
elif [ -n "${CI:-}" ]; then
  echo "The Windows toolchain or Wine is missing" >&2
  exit 1
else
  echo "Skipping the Windows build: run '.ci/install-deps --windows' first." >&2
fi
