#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the unit tests, the
# emulator's own tests and the end-to-end tests on emulated devices, on a
# plain build and on one with AddressSanitizer and UBSan; the fuzz targets,
# each for a bounded time; the release checks (manual page, cmake --install,
# the .deb, the udev rule); the tests on the real Linux USB stack in a QEMU
# VM; then the Windows builds, their tests under Wine and the .zip. The VM
# and Windows parts are skipped, with a notice, when their tools are not
# installed (`.ci/install-deps --vm`, `--windows`), except in CI.
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

bash tools/check-package.sh build
# The rule is checked in a private mount namespace, which needs root.
if [ "$(id -u)" -eq 0 ]; then
  bash tools/check-udev-rule.sh
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo bash tools/check-udev-rule.sh
elif [ -n "${CI:-}" ]; then
  echo "The udev rule check needs root or sudo" >&2
  exit 1
else
  echo "Skipping the udev rule check: it needs root." >&2
fi

if command -v qemu-system-x86_64 >/dev/null && command -v busybox >/dev/null; then
  bash tools/vm/run-vm-tests.sh build/korvo-test
elif [ -n "${CI:-}" ]; then
  echo "QEMU or busybox is missing" >&2
  exit 1
else
  echo "Skipping the VM tests: run '.ci/install-deps --vm' first." >&2
fi

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
