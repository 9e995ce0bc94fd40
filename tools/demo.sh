#!/usr/bin/env bash
# Runs the tool's main job: sends FILE to a KORVO device, and says what the
# device received. Without FILE, a 64 KiB sample of random bytes is sent.
# With a real KORVO device present (vendor 6742), korvo-test runs on it;
# otherwise on a device emulated by korvo-emu.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

file=${1:-}
if [ -z "$file" ]; then
  file=$(mktemp /tmp/korvo-sample.XXXXXX)
  head -c 65536 /dev/urandom > "$file"
fi
echo "file: $file, $(stat -c %s "$file") bytes, sha256 $(sha256sum < "$file" | cut -d' ' -f1)"

if grep -qsx 6742 /sys/bus/usb/devices/*/idVendor; then
  "$build/korvo-test" "$file"
  echo "korvo-test exited with $?"
  exit 0
fi

echo "No KORVO device present: running on an emulated one (korvo-emu)."
capture=$(mktemp -d /tmp/korvo-capture.XXXXXX)
"$build/korvo-emu" --capture-dir "$capture" --report \
  --device "vid=6742,pid=0001,manufacturer=KORVO,product=K1%20Printer,status=98" \
  -- "$build/korvo-test" "$file"
echo "korvo-test exited with $?"
