#!/usr/bin/env bash
# Checks what a release carries, from a configured and built Linux build
# directory (default: build):
#   - the manual page formats without a single groff warning;
#   - `cmake --install` into a prefix of an unprivileged user, with and
#     without the udev rule's component;
#   - `cpack -G DEB`: the package's name, files, Depends, maintainer scripts
#     and lintian's verdict; then its unpacked program sends a file to
#     korvo-emu.
# Needs groff, dpkg-dev, file and lintian (.ci/install-deps).
# Usage: tools/check-package.sh [BUILD_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
work=$(mktemp -d /tmp/korvo-package.XXXXXX)
chmod 755 "$work"  # the unprivileged install below goes through it
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
ok() { echo "ok   $*"; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
[ -n "$version" ] || { echo "No project version in $build/CMakeCache.txt" >&2; exit 1; }

# Lists the files (not directories) under DIR, relative, sorted.
files_under() { (cd "$1" && find . ! -type d | sed 's|^\./||' | sort); }

# Compares a file list with the expected one, naming what differs.
expect_files() {  # WHAT EXPECTED ACTUAL
  local diff
  # shellcheck disable=SC2086  # EXPECTED is a list of words
  if diff=$(diff <(printf '%s\n' $2 | sort) <(printf '%s\n' "$3")); then
    ok "$1"
  else
    fail "$1: unexpected (>) or missing (<) files:"; echo "$diff"
  fi
}

# --- The manual page --------------------------------------------------------
check_manual_page() {  # WHAT PAGE_SOURCE
  local warnings
  warnings=$(groff -man -ww -z 2>&1 <<<"$2") || true
  if [ -n "$warnings" ]; then fail "$1: groff warnings:"; echo "$warnings"; else ok "$1: no groff warnings"; fi
  grep -q "^\.TH KORVO-TEST 1 .*\"korvo-test $version\"" <<<"$2" || fail "$1: the title line does not carry version $version"
}
check_manual_page "manual page" "$(cat "$build/korvo-test.1")"

# --- cmake --install into an unprivileged user's prefix ---------------------
# Run as root, the install drops to user nobody, so that a write outside the
# prefix fails. Of the build directory, that user may write only the install
# manifests cmake --install leaves there. It keeps the right to read and search
# any directory (CAP_DAC_READ_SEARCH, no right to write), for a clone under a
# folder nobody may enter, such as root's home; no_setuid_fixup keeps access(2),
# which cmake asks first, from dropping that right for a user who is not root.
run_install() {  # PREFIX [cmake --install options]
  local prefix=$1 manifest as_user=()
  shift
  mkdir -p "$prefix"
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody: "$prefix"
    for manifest in install_manifest install_manifest_program install_manifest_udev-rule; do
      touch "$build/$manifest.txt" && chown nobody: "$build/$manifest.txt"
    done
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --securebits=+no_setuid_fixup
             --inh-caps=+dac_read_search --ambient-caps=+dac_read_search)
  fi
  "${as_user[@]}" cmake --install "$build" --prefix "$prefix" "$@" > "$work/install.log" 2>&1 ||
    { cat "$work/install.log"; return 1; }
}
program_files="bin/korvo-test share/man/man1/korvo-test.1.gz share/doc/korvo-test/copyright"
rule_file=lib/udev/rules.d/70-korvo-test.rules

# prefix | cmake --install options | expected files
install_cases=(
  "$work/home/.local||$program_files $rule_file"
  "$work/program-only|--component program|$program_files"
  "$work/rule-only|--component udev-rule|$rule_file"
)
for entry in "${install_cases[@]}"; do
  IFS='|' read -r prefix options expected <<<"$entry"
  # shellcheck disable=SC2086  # options are words
  if run_install "$prefix" $options; then
    expect_files "cmake --install --prefix ${prefix#"$work"/}${options:+ $options}" "$expected" "$(files_under "$prefix")"
  else
    fail "cmake --install --prefix ${prefix#"$work"/}${options:+ $options} failed"
  fi
done
# Outside udev's directories, the install says where the rule must go.
notice=$(cmake --install "$build" --prefix "$work/notice" --component udev-rule)
grep -q "udev does not read rules from $work/notice/lib/udev/rules.d" <<<"$notice" ||
  fail "an install outside udev's directories does not say where the rule must go"
[ "$(id -u)" -eq 0 ] && chown "$(stat -c %u:%g "$build")" "$build"/install_manifest*.txt

# --- The Debian package -----------------------------------------------------
(cd "$build" && cpack -G DEB > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB failed"; exit 1; }
deb=$build/packages/korvo-test_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
  fail "cpack made no $(basename "$deb"):"; ls "$build/packages"; exit 1
fi
ok "built $(basename "$deb")"

expect_files "package contents" \
  "usr/bin/korvo-test usr/share/man/man1/korvo-test.1.gz usr/share/doc/korvo-test/copyright usr/share/doc/korvo-test/changelog.gz usr/lib/udev/rules.d/70-korvo-test.rules" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort)"

# Control fields | expected value (an extended regular expression)
depends=$(dpkg-deb -f "$deb" Depends)
control_cases=(
  "Package|^korvo-test$"
  "Version|^${version//./\\.}$"
  "Architecture|^$arch$"
  "Depends|(^|, )libusb-1\.0-0 \(>= [^)]+\)(,|$)"
  "Depends|(^|, )libudev1 \(>= [^)]+\)(,|$)"
  "Depends|(^|, )libc6 \(>= [^)]+\)(,|$)"
  "Depends|(^|, )libstdc\+\+6 \(>= [^)]+\)(,|$)"
)
for entry in "${control_cases[@]}"; do
  field=${entry%%|*} pattern=${entry#*|}
  value=$(dpkg-deb -f "$deb" "$field")
  if grep -Eq "$pattern" <<<"$value"; then ok "$field: matches $pattern"; else fail "$field is '$value', expected to match $pattern"; fi
done
echo "     Depends: $depends"

mkdir "$work/control"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
  if [ -x "$work/control/$script" ] && sh -n "$work/control/$script"; then
    ok "maintainer script $script"
  else
    fail "maintainer script $script missing, not executable or not valid sh"
  fi
done
for script in postinst postrm; do
  grep -q 'udevadm control --reload ' "$work/control/$script" || fail "$script does not reload udev"
  grep -q 'idVendor' "$work/control/$script" || fail "$script does not retrigger KORVO devices alone"
  if grep -q -- '--subsystem-match' "$work/control/$script"; then
    fail "$script retriggers devices of any vendor"
  fi
done

# lintian, as Debian's archive would run it: no error and no warning.
lintian_tags=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: ' || true)
if [ -n "$lintian_tags" ]; then fail "lintian:"; echo "$lintian_tags"; else ok "lintian: no errors or warnings"; fi

# Unpacked, the package's files are the ones built and installed.
unpacked=$work/unpacked
dpkg -x "$deb" "$unpacked"
cmp -s "$unpacked/usr/lib/udev/rules.d/70-korvo-test.rules" "$root/platform/linux/70-korvo-test.rules" ||
  fail "the package's udev rule differs from platform/linux/70-korvo-test.rules"
check_manual_page "packaged manual page" "$(zcat "$unpacked/usr/share/man/man1/korvo-test.1.gz")"
cmp -s "$unpacked/usr/share/doc/korvo-test/copyright" "$root/LICENSE" || fail "the package's copyright is not LICENSE"
binary_type=$(file -b "$unpacked/usr/bin/korvo-test")
case $binary_type in
  *"not stripped"*) fail "the packaged program is not stripped" ;;
  ELF*stripped*) ok "packaged program: ELF, stripped" ;;
  *) fail "the packaged program is $binary_type" ;;
esac

# The unpacked program does the tool's main job on an emulated KORVO device.
if [ -x "$build/korvo-emu" ]; then
  head -c 200000 /dev/urandom > "$work/data.bin"
  status=0
  "$build/korvo-emu" --device vid=6742,status=18 --capture-dir "$work/capture" --report \
    -- "$unpacked/usr/bin/korvo-test" "$work/data.bin" > "$work/run.out" 2> "$work/run.err" || status=$?
  if [ "$status" -eq 0 ] && [ "$(head -n1 "$work/run.out")" = "status:18" ] &&
     cmp -s "$work/capture/001-002.bin" "$work/data.bin"; then
    ok "the unpacked program sent 200000 bytes to korvo-emu"
  else
    fail "the unpacked program on korvo-emu: exit $status"; cat "$work/run.out" "$work/run.err"
  fi
else
  fail "no korvo-emu in $build: cannot run the unpacked program"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "Package checks passed: $deb"
