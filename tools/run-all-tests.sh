#!/usr/bin/env bash
# Builds with warnings as errors and runs every test: the unit tests, the
# emulator's own tests and the end-to-end tests on emulated devices, on a
# plain build and on one with AddressSanitizer and UBSan; the fuzz targets,
# each for a bounded time; the release checks (manual page, cmake --install,
# the .deb, the udev rule); the tests on the real Linux USB stack in a QEMU
# VM; then the Windows builds, their tests under Wine and the .zip. The VM
# and Windows parts are skipped, with a notice, when their tools are not
# installed (`.ci/install-deps --vm`, `--windows`), except in CI.
# It ends with the list of what was skipped, and why.
set -euo pipefail
cd "$(dirname "$0")/.."

outputs=$(mktemp -d)
trap 'rm -rf "$outputs"' EXIT
skipped=()

# A lane left out, with its reason, said now and in the list at the end.
skip_lane() {  # WHAT REASON
  echo "Skipping $1: $2" >&2
  skipped+=("$1: $2")
}

# Why ctest's test NAME was skipped, as its output says in LastTest.log: a
# GoogleTest skip's message, else the output's last line.
skip_reason() {  # LAST_TEST_LOG NAME
  awk -v name="$2" '
    /^[0-9]+\/[0-9]+ Testing: / { current = substr($0, index($0, ": ") + 2); next }
    current != name { next }
    /^Output:$/ { getline; taking = 1; n = 0; next }
    /^<end of output>$/ { taking = 0; next }
    taking { sub(/\r$/, ""); line[++n] = $0 }
    END {
      for (i = 1; i <= n; ++i) {
        if (line[i] !~ /: Skipped$/) continue
        for (j = i + 1; j <= n && line[j] != "" && line[j] !~ /^\[  SKIPPED \]/; ++j) {
          reason = reason (reason == "" ? "" : " ") line[j]
        }
        break
      }
      for (i = n; reason == "" && i > 0; --i) if (line[i] != "" && line[i] !~ /^\[/) reason = line[i]
      print reason == "" ? "no reason given" : reason
    }' "$1"
}

# The tests a ctest run did not run (the list at the end of its OUTPUT), each
# with its reason.
note_skipped_tests() {  # BUILD_DIR OUTPUT
  local name state
  while IFS='|' read -r name state; do
    skipped+=("$1: $name ($state): $(skip_reason "$1/Testing/Temporary/LastTest.log" "$name")")
  done < <(sed -n '/^The following tests did not run:/,/^$/s/^[[:space:]]*[0-9]* - \(.*\) (\([^)]*\))$/\1|\2/p' <<<"$2")
}

run_ctest() {  # PRESET BUILD_DIR
  ctest --preset "$1" -j"$(nproc)" | tee "$outputs/ctest-$1"
  note_skipped_tests "$2" "$(cat "$outputs/ctest-$1")"
}

cmake --preset ci
cmake --build --preset ci -j"$(nproc)"
run_ctest ci build

# The same tests on a build with AddressSanitizer and UBSan.
cmake --preset asan
cmake --build --preset asan -j"$(nproc)"
run_ctest asan build-asan

# The parsers of outside input under libFuzzer, about 20 s per target.
bash tools/run-fuzz.sh

bash tools/check-package.sh build
# The rule is checked in a private mount namespace, which needs root.
if [ "$(id -u)" -eq 0 ]; then
  bash tools/check-udev-rule.sh | tee "$outputs/udev"
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  sudo bash tools/check-udev-rule.sh | tee "$outputs/udev"
elif [ -n "${CI:-}" ]; then
  echo "The udev rule check needs root or sudo" >&2
  exit 1
else
  skip_lane "the udev rule check" "it needs root"
fi
while read -r line; do skipped+=("udev rule check: ${line#SKIP }"); done < <(grep '^SKIP ' "$outputs/udev" 2>/dev/null)

if command -v qemu-system-x86_64 >/dev/null && command -v busybox >/dev/null; then
  bash tools/vm/run-vm-tests.sh build/korvo-test
elif [ -n "${CI:-}" ]; then
  echo "QEMU or busybox is missing" >&2
  exit 1
else
  skip_lane "the VM tests" "run '.ci/install-deps --vm' first"
fi

if command -v i686-w64-mingw32-g++-posix >/dev/null && command -v x86_64-w64-mingw32-g++-posix >/dev/null &&
   command -v wine >/dev/null; then
  bash tools/windows/run-tests.sh | tee "$outputs/windows"
  while read -r line; do skipped+=("${line#SKIP: }"); done < <(grep '^SKIP: ' "$outputs/windows")
  note_skipped_tests build-win32 "$(sed -n '/^=== 32-bit/,/^=== 64-bit/p' "$outputs/windows")"
  note_skipped_tests build-win64 "$(sed -n '/^=== 64-bit/,$p' "$outputs/windows")"
  # The Windows .zip: both programs, built above.
  zip=$(bash tools/windows/package.sh | tail -n 1)
  cmake -E tar tf "$zip"
elif [ -n "${CI:-}" ]; then
  echo "The Windows toolchain or Wine is missing" >&2
  exit 1
else
  skip_lane "the Windows build" "run '.ci/install-deps --windows' first"
fi

if [ ${#skipped[@]} -eq 0 ]; then
  echo "All tests ran; none was skipped."
else
  echo "Skipped (${#skipped[@]}):"
  printf '  %s\n' "${skipped[@]}"
fi
