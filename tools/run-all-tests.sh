#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the unit tests, the
# emulator's own tests and the end-to-end tests on emulated devices; then the
# 32-bit and 64-bit Windows builds and their tests under Wine (skipped, with a
# notice, when the cross toolchains or Wine are not installed:
# `.ci/install-deps --windows`).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset ci
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci -j"$(nproc)"

if command -v i686-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
   command -v wine >/dev/null; then
  bash tools/windows/run-tests.sh
  # The Windows .zip: both programs, built above.
  zip=$(bash tools/windows/package.sh | tail -n 1)
  cmake -E tar tf "$zip"
elif [ -n "${CI:-}" ]; then
  echo "The Windows toolchain or Wine is missing" >&2
  exit 1
else
  echo "Skipping the Windows build: run '.ci/install-deps --windows' first." >&2
fi
