#!/usr/bin/env bash
# Builds the Windows .zip (cpack -G ZIP) in a cross build directory, checks
# that it holds the programs, README.md and LICENSE and nothing else, and runs
# the packed korvo-test.exe under Wine, where no USB device exists.
# Runs inside a Wine session (ctest: win32.zip_package).
# Usage: tools/windows/check-package.sh BUILD_DIR
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "$1")
# The executables the .zip carries: each one cmake/Install.cmake installs.
programs=(korvo-test.exe)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G ZIP) > "$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
system=$(sed -n 's/^set(CPACK_SYSTEM_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
top=korvo-test-$version-$system
zip=$build/packages/$top.zip
[ -f "$zip" ] || { echo "FAIL: cpack made no $top.zip:"; ls "$build/packages"; exit 1; }

ok=1
expected=$(printf "$top/%s\n" "${programs[@]}" README.md LICENSE | sort)
actual=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
diff <(echo "$expected") <(echo "$actual") ||
  { echo "FAIL: $top.zip: unexpected (>) or missing (<) files"; ok=0; }

unzip -q "$zip" -d "$work"
for document in README.md LICENSE; do
  cmp -s "$work/$top/$document" "$root/$document" || { echo "FAIL: the packed $document differs"; ok=0; }
done
for program in "${programs[@]}"; do
  type=$(file -b "$work/$top/$program")
  [[ $type == PE32* ]] || { echo "FAIL: $program is $type"; ok=0; }
done

# The packed program is whole (no DLL of the build left behind): it runs.
bash "$root/tests/win32/no-devices-test.sh" "$work/$top/korvo-test.exe" || ok=0

[ "$ok" -eq 1 ] && echo "ok: $top.zip"
[ "$ok" -eq 1 ]
