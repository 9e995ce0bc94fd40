#!/usr/bin/env bash
# Runs korvo-test on the real Linux USB stack: boots Debian's kernel in QEMU
# (TCG, no KVM needed) with a busybox initramfs, where configfs gadgets on
# dummy_hcd present a KORVO printer (usblp) and a mass-storage device
# (usb-storage) to that same kernel, and reads the cases' results from the
# serial console.
#
#   tools/vm/run-vm-tests.sh [KORVO_TEST_BINARY]
#
# The binary defaults to $KORVO_TEST, else $BUILD_DIR/korvo-test (build/).
# The kernel package is downloaded once into $BUILD_DIR/vm/kernel; the host's
# own kernel is not touched. KORVO_VM_CASES="name,name,..." runs only those
# cases (tools/vm/guest/cases.sh lists them). Needs qemu-system-x86, busybox-static, udev
# and g++ (`.ci/install-deps --vm`). Exits non-zero on a failed case, a missing
# summary line or a timeout ($KORVO_VM_TIMEOUT seconds, 900 by default).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$root/build}")
tool=$(realpath -m "${1:-${KORVO_TEST:-$build/korvo-test}}")
work=$build/vm
limit=${KORVO_VM_TIMEOUT:-900}
kernel_package=${KORVO_VM_KERNEL_PACKAGE:-linux-image-amd64}
modules=(dummy_hcd libcomposite usb_f_printer usb_f_mass_storage usblp usb_storage)

die() { echo "run-vm-tests: $*" >&2; exit 1; }

[ -x "$tool" ] || die "no korvo-test at $tool (build it, or pass its path)"
command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing: .ci/install-deps --vm"
busybox=$(command -v busybox) || die "busybox is missing: .ci/install-deps --vm"
if ldd "$busybox" >/dev/null 2>&1; then die "$busybox is not static: install busybox-static"; fi
udevadm=$(PATH=$PATH:/sbin:/usr/sbin command -v udevadm) || die "udevadm is missing: .ci/install-deps --vm"

# The newest kernel image that the metapackage points at, unpacked.
kernel_image_package() {
  apt-cache depends "$kernel_package" 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

fetch_kernel() {
  local package
  package=$(kernel_image_package)
  # A machine whose package lists were never fetched knows no kernel yet.
  if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq && package=$(kernel_image_package)
  fi
  [ -n "$package" ] || package=$kernel_package
  kernel_root=$work/kernel/$package
  if [ ! -e "$kernel_root/.unpacked" ]; then
    rm -rf "$work/kernel"
    mkdir -p "$kernel_root"
    # apt warns that it downloads as root, not as _apt: harmless here.
    (cd "$work/kernel" && apt-get download -q "$package") || true
    local deb
    deb=$(ls "$work/kernel/${package}"_*.deb 2>/dev/null | head -n1)
    [ -n "$deb" ] || die "cannot download $package (apt-get update?)"
    dpkg -x "$deb" "$kernel_root"
    rm -f "$deb"
    touch "$kernel_root/.unpacked"
  fi
  kernel_version=$(ls "$kernel_root/lib/modules" | head -n1)
  vmlinuz=$kernel_root/boot/vmlinuz-$kernel_version
  [ -f "$vmlinuz" ] || die "no kernel image in $package"
  module_dir=$kernel_root/lib/modules/$kernel_version
  [ -f "$module_dir/modules.dep" ] || "$busybox" depmod -b "$kernel_root" "$kernel_version"
}

# Each wanted module after everything it needs, from modules.dep; '-' and
# '_' are the same in module names.
declare -A module_path module_deps module_listed
module_order=()
read_modules_dep() {
  local target deps name
  while IFS=: read -r target deps; do
    name=${target##*/}
    name=${name%.ko}
    name=${name//-/_}
    module_path[$name]=$target
    module_deps[$name]=$deps
  done < "$module_dir/modules.dep"
}
add_module() {
  local name=${1//-/_} dep
  [ -z "${module_listed[$name]:-}" ] || return 0
  [ -n "${module_path[$name]:-}" ] || die "kernel $kernel_version has no module $name"
  module_listed[$name]=1
  for dep in ${module_deps[$name]}; do
    dep=${dep##*/}
    add_module "${dep%.ko}"
  done
  module_order+=("$name")
}

# A file and, for a program, the shared libraries it loads, at their own
# paths inside the initramfs.
copy_program() {
  local program=$1 at=$2 library
  install -D -m 755 "$program" "$stage$at"
  for library in $(ldd "$program" | awk '/=> \// { print $3 } /^\t\// { print $1 }'); do
    [ -e "$stage$library" ] || install -D -m 755 "$(realpath "$library")" "$stage$library"
  done
}

# The gadget side's helper, static: the guest has no C++ runtime of its own.
build_gadget_helper() {
  local source=$root/tools/vm/korvo-gadget.cpp pattern=$root/tests/support/Pattern.h
  if [ "$work/korvo-gadget" -nt "$source" ] && [ "$work/korvo-gadget" -nt "$pattern" ]; then
    return 0
  fi
  g++ -std=c++20 -O2 -Wall -Wextra -Werror -static -I"$root/tests" \
    -o "$work/korvo-gadget" "$source"
}

build_initramfs() {
  stage=$work/initramfs
  rm -rf "$stage"
  mkdir -p "$stage"/{bin,dev,proc,sys,tmp,run,lib/modules,korvo/bin}
  install -m 755 "$busybox" "$stage/bin/busybox"
  install -m 755 "$root/tools/vm/guest/init" "$stage/init"
  install -m 644 "$root/tools/vm/guest/gadgets.sh" "$root/tools/vm/guest/cases.sh" "$stage/korvo/"

  build_gadget_helper
  install -m 755 "$work/korvo-gadget" "$stage/korvo/bin/korvo-gadget"
  copy_program "$tool" /korvo/bin/korvo-test
  # udevd, for the case that waits for a plug (the others run without it):
  # udevadm is udevd when called by that name.
  copy_program "$udevadm" /korvo/bin/udevadm
  ln -s udevadm "$stage/korvo/bin/systemd-udevd"

  read_modules_dep
  local name
  for name in "${modules[@]}"; do add_module "$name"; done
  for name in "${module_order[@]}"; do
    install -m 644 "$module_dir/${module_path[$name]}" "$stage/lib/modules/$name.ko"
    echo "$name"
  done > "$stage/korvo/modules"

  (cd "$stage" && find . | "$busybox" cpio -o -H newc 2>/dev/null) | gzip -1 > "$work/initramfs.gz"
}

boot() {
  local log=$work/console.log codes
  echo "Booting $(basename "$vmlinuz") with $tool (log: $log)"
  set +e
  timeout -k 10 "$limit" qemu-system-x86_64 \
    -machine pc -accel tcg -smp 2 -m 1024 \
    -nodefaults -no-reboot -display none -monitor none -serial stdio \
    -kernel "$vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 korvo_cases=${KORVO_VM_CASES:-}" \
    < /dev/null | tr -d '\r' | tee "$log"
  codes=("${PIPESTATUS[@]}")
  set -e
  if [ "${codes[0]}" = 124 ] || [ "${codes[0]}" = 137 ]; then
    die "the VM did not finish within ${limit}s"
  fi
  local summary
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n1 || true)
  [ -n "$summary" ] || die "the guest ended without its summary line"
  if grep -q '^FAIL ' "$log" || [[ "$summary" != *" 0 failed" ]]; then
    die "$summary"
  fi
  echo "VM tests: $summary (${SECONDS}s in all)"
}

mkdir -p "$work"
fetch_kernel
build_initramfs
boot
