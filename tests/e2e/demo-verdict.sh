#!/usr/bin/env bash
# tools/demo.sh says in words whether the emulated device received exactly the
# file, exits 0 only then, and leaves no file behind.
# Usage: demo-verdict.sh BUILD_DIR
set -uo pipefail
demo=$(dirname "$0")/../../tools/demo.sh
export BUILD_DIR=$1 TMPDIR
TMPDIR=$(mktemp -d)
trap 'rm -rf "$TMPDIR"' EXIT
failures=0

check() {  # DEVICE EXPECTED_STATUS EXPECTED_LINE
  local out status=0
  out=$(KORVO_EMU_DEVICE=$1 bash "$demo" 2>&1) || status=$?
  if [ "$status" -ne "$2" ] || ! grep -qxF "$3" <<<"$out"; then
    echo "FAIL $1: exit $status, expected $2 and the line: $3"; echo "$out"
    failures=$((failures + 1))
  fi
  if [ -n "$(ls -A "$TMPDIR")" ]; then
    echo "FAIL $1: left behind: $(ls -A "$TMPDIR")"; failures=$((failures + 1))
  fi
}

check vid=6742,status=98 0 "The device received exactly the file: 65536 bytes, identical."
check vid=6742,status=98 0 "status:98 is the port status byte the device reported: no error, selected (online), paper present, other bits 0x80 (reserved by the printer class)."
check vid=6742,vanish-after=1000 1 "The device did NOT receive exactly the file: 1000 of 65536 bytes arrived, the start of the file."
exit $((failures > 0))
