#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the unit tests, the
# emulator's own tests and the end-to-end tests on emulated devices.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset ci
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci
