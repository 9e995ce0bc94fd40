#!/usr/bin/env bash
# Runs the tool's main job: sends FILE to a KORVO device, and says what the
# device received. Without FILE, a 64 KiB sample of random bytes is sent.
# With a real KORVO device present (vendor 6742), korvo-test runs on it and the
# demo exits with korvo-test's status; otherwise it runs on a device emulated by
# korvo-emu, and exits 0 only if that device received exactly the file.
# KORVO_EMU_DEVICE sets the emulated device (korvo-emu --device), and runs on
# it even with a real device present: vanish-after=1000 shows a failing one.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/korvo-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

file=${1:-}
if [ -z "$file" ]; then
  file=$scratch/sample.bin
  head -c 65536 /dev/urandom > "$file"
fi
size=$(stat -c %s "$file") || exit 1
echo "file: $file, $size bytes, sha256 $(sha256sum < "$file" | cut -d' ' -f1)"

# The port status byte, bit by bit as the USB printer class defines it.
explain_status() {  # OUTPUT of korvo-test
  local byte meaning
  byte=$(sed -n 's/^status:\([0-9a-f][0-9a-f]\)$/\1/p' <<<"$1" | head -n 1)
  [ -n "$byte" ] || return 0
  byte=$((16#$byte))
  meaning=$( ((byte & 0x08)) && echo "no error" || echo "error")
  meaning+=$( ((byte & 0x10)) && echo ", selected (online)" || echo ", not selected (offline)")
  meaning+=$( ((byte & 0x20)) && echo ", paper empty" || echo ", paper present")
  ((byte & 0xc7)) && meaning+=$(printf ', other bits 0x%02x (reserved by the printer class)' $((byte & 0xc7)))
  printf 'status:%02x is the port status byte the device reported: %s.\n' "$byte" "$meaning"
}

if [ -z "${KORVO_EMU_DEVICE:-}" ] && grep -qsx 6742 /sys/bus/usb/devices/*/idVendor; then
  "$build/korvo-test" "$file" | tee "$scratch/out"
  status=${PIPESTATUS[0]}
  explain_status "$(cat "$scratch/out")"
  echo "korvo-test exited with $status"
  exit "$status"
fi

device=${KORVO_EMU_DEVICE:-vid=6742,pid=0001,manufacturer=KORVO,product=K1%20Printer,status=98}
echo "Running on an emulated device (korvo-emu --device $device)."
"$build/korvo-emu" --capture-dir "$scratch/capture" --report --device "$device" \
  -- "$build/korvo-test" "$file" | tee "$scratch/out"
status=${PIPESTATUS[0]}
explain_status "$(cat "$scratch/out")"
echo "korvo-test exited with $status"

received=$scratch/capture/001-002.bin
if [ "$status" -eq 0 ] && cmp -s "$received" "$file"; then
  echo "The device received exactly the file: $size bytes, identical."
  exit 0
fi
got=$(stat -c %s "$received" 2>/dev/null || echo 0)
if [ "$got" -eq "$size" ] && cmp -s "$received" "$file"; then
  echo "The device received the whole file, but korvo-test failed."
else
  echo "The device did NOT receive exactly the file: $got of $size bytes arrived$(
    [ "$got" -gt 0 ] && [ "$got" -le "$size" ] && cmp -s "$received" <(head -c "$got" "$file") &&
      echo ", the start of the file")."
fi
exit 1
