#!/usr/bin/env bash
# Checks the udev rule (platform/linux/70-korvo-test.rules) with udev's own
# rule engine: `udevadm test` on emulated devices (umockdev), in a private
# mount namespace where /etc/udev/rules.d holds only this rule and /dev and
# /run are scratch, so the machine's nodes and udev database stay untouched.
# Needs root (for the namespace), udev and umockdev. Where no private mount
# namespace can be made (a chroot whose root is not a mount point, a container
# without the right), the check is skipped with the reason: udevadm test reads
# rules only from the system's folders, and mounting over them without a
# private namespace could reach the host's mounts (a chroot's /dev is often the
# host's, shared).
# Usage: tools/check-udev-rule.sh [RULE]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

# USB devices under the root hub, each with one interface: a KORVO (6742)
# printer on port 1, another vendor's on port 2, a KORVO hub on port 3 with
# another vendor's printer behind it. The descriptors are those usb_id reads
# for ID_USB_INTERFACES (class, subclass, protocol of each interface).
hub=/devices/pci0000:00/0000:00:14.0/usb1
describe_device() {  # PATH VID DEVNUM INTERFACE_CLASS [LP]: PATH under usb1, e.g. 1-3/1-3.1
  local dev=$hub/$1 name=${1##*/} vid=$2 num=$3 class=$4 lp=${5:-}
  local printer=$([ "$class" = 07 ] && echo 070102 || echo 090000)
  cat <<DEV
P: $dev
N: bus/usb/001/$(printf %03d "$num")
E: DEVNAME=/dev/bus/usb/001/$(printf %03d "$num")
E: DEVTYPE=usb_device
E: SUBSYSTEM=usb
E: MAJOR=189
E: MINOR=$((num - 1))
A: busnum=1
A: devnum=$num
A: idVendor=$vid
A: idProduct=0001
A: bDeviceClass=00
A: dev=189:$((num - 1))
H: descriptors=1201000200000040${vid:2:2}${vid:0:2}010000010102030109022000010100c0320904000002${printer}000705010240000007058202400000

P: $dev/$name:1.0
E: DEVTYPE=usb_interface
E: SUBSYSTEM=usb
A: bInterfaceClass=$class

DEV
  [ -n "$lp" ] || return 0
  cat <<DEV
P: $dev/$name:1.0/usbmisc/lp$lp
N: usb/lp$lp
E: DEVNAME=/dev/usb/lp$lp
E: SUBSYSTEM=usbmisc
E: MAJOR=180
E: MINOR=$lp
A: dev=180:$lp

DEV
}

# sysfs path | expected: "access" (plugdev, 0660, uaccess) or "none"
cases=(
  "$hub/1-1|access"
  "$hub/1-1/1-1:1.0/usbmisc/lp0|access"
  "$hub/1-2|none"
  "$hub/1-2/1-2:1.0/usbmisc/lp1|none"
  # a KORVO hub: usbfs would let its holder detach the drivers of its ports
  "$hub/1-3|none"
  # another vendor's printer behind the KORVO hub: not ours
  "$hub/1-3/1-3.1|none"
  "$hub/1-3/1-3.1/1-3.1:1.0/usbmisc/lp2|none"
)

# Runs in the private namespace: scratch /run and /dev (with what umockdev
# needs), the rule alone in /etc/udev/rules.d, then every case.
if [ "${1:-}" = --in-namespace ]; then
  work=$2 rule=$3
  mount --make-rprivate /
  mkdir -p "$work/rules.d" && cp "$rule" "$work/rules.d/"
  mount --bind "$work/rules.d" /etc/udev/rules.d
  mount -t tmpfs tmpfs /run
  mkdir /run/host-dev && mount --rbind /dev /run/host-dev
  mount -t tmpfs tmpfs /dev
  for node in null zero random urandom tty; do
    touch "/dev/$node" && mount --bind "/run/host-dev/$node" "/dev/$node"
  done
  mkdir /dev/pts && mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts
  ln -s pts/ptmx /dev/ptmx

  gid=$(getent group plugdev | cut -d: -f3)
  name=$(basename "$rule")
  failures=0
  for entry in "${cases[@]}"; do
    path=/sys${entry%%|*} expected=${entry##*|}
    out=$(umockdev-run --device "$work/devices.umockdev" -- udevadm test --action=add "$path" 2>&1) || {
      echo "FAIL $path: udevadm test failed"; echo "$out"; failures=$((failures + 1)); continue; }
    problems=()
    # Complaints about the rule file itself start with its path.
    if grep -E "^/[^ ]*/$name:" <<<"$out"; then problems+=("the rule does not parse cleanly"); fi
    applied=$(grep -E "^[^ ]+: /etc/udev/rules.d/$name:[0-9]+ " <<<"$out" || true)
    tags=$(grep -E '^TAGS=' <<<"$out" || true)
    if [ "$expected" = access ]; then
      grep -q " GROUP $gid\$" <<<"$applied" || problems+=("no GROUP plugdev ($gid)")
      grep -q " MODE 0660\$" <<<"$applied" || problems+=("no MODE 0660")
      grep -q ':uaccess:' <<<"$tags" || problems+=("no uaccess tag")
    elif [ -n "$applied" ]; then
      problems+=("the rule applies to a device it should not: $applied")
    fi
    if [ ${#problems[@]} -eq 0 ]; then
      echo "ok   $path: $expected"
    else
      printf 'FAIL %s: expected %s: ' "$path" "$expected"; (IFS=';'; echo "${problems[*]}")
      failures=$((failures + 1))
    fi
  done
  exit $((failures > 0))
fi

if [ "$(id -u)" -ne 0 ] || ! command -v udevadm >/dev/null || ! command -v umockdev-run >/dev/null; then
  echo "Checking the udev rule needs root, udev and umockdev (.ci/install-deps)" >&2
  exit 1
fi

if ! why=$(unshare --mount true 2>&1); then
  echo "SKIP the udev rule through udevadm test: no private mount namespace here (${why:-unshare failed})"
  exit 0
fi

rule=$(realpath "${1:-$root/platform/linux/70-korvo-test.rules}")
work=$(mktemp -d /tmp/korvo-udev.XXXXXX)
trap 'rm -rf "$work"' EXIT
{
  describe_device 1-1 6742 2 07 0
  describe_device 1-2 04b8 3 07 1
  describe_device 1-3 6742 4 09
  describe_device 1-3/1-3.1 04b8 5 07 2
} > "$work/devices.umockdev"
echo "Checking $rule with udevadm test"
unshare --mount bash "$0" --in-namespace "$work" "$rule"
