#!/usr/bin/env bash
# korvo-test.exe in a Wine prefix without USB devices, as a user runs it from
# a shell: one line on standard error, nothing on standard output, status 0,
# and no noise from Wine itself.
# Usage: no-devices-test.sh KORVO-TEST.exe
set -euo pipefail

program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'data' >"$work/data.bin"

status=0
timeout 60 "${KORVO_WINE:-wine}" "$program" "$work/data.bin" >"$work/out" 2>"$work/err" || status=$?

printf 'No KORVO devices to test\r\n' >"$work/expected-err"
ok=1
[ "$status" -eq 0 ] || { echo "FAIL: exit status $status, expected 0"; ok=0; }
[ ! -s "$work/out" ] || { echo "FAIL: standard output not empty:"; od -c "$work/out" | head; ok=0; }
cmp -s "$work/err" "$work/expected-err" ||
  { echo "FAIL: standard error is not exactly the message:"; od -c "$work/err" | head -20; ok=0; }
[ "$ok" -eq 1 ] && echo "ok: No KORVO devices to test, exit 0"
[ "$ok" -eq 1 ]
