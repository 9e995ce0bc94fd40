# USB gadgets in configfs, presented to the guest's own kernel through
# dummy_hcd: a KORVO printer and a mass-storage device on bus 1, and a
# second printer for bus 2. Plugging one means binding it to its bus's dummy
# UDC; only one is plugged at a time on bus 1.

GADGETS=/sys/kernel/config/usb_gadget
UDC=dummy_udc.0
PRINTER_NODE=/dev/g_printer0
LP_NODE=/dev/usb/lp0
# The second printer's: usblp numbers its node after the first printer's.
SECOND_UDC=dummy_udc.1
SECOND_PRINTER_NODE=/dev/g_printer1
SECOND_LP_NODE=/dev/usb/lp1
DISK_IMAGE=/tmp/disk.img
# How korvo-test names them (cases.sh): manufacturer and product strings.
export PRINTER_DESCRIPTION="KORVO K1 Printer"
export STORAGE_DESCRIPTION="KORVO Disk"

# make_gadget NAME VENDOR PRODUCT MANUFACTURER PRODUCT-STRING SERIAL
make_gadget() {
  local dir="$GADGETS/$1"
  mkdir "$dir" || return 1
  echo "$2" > "$dir/idVendor"
  echo "$3" > "$dir/idProduct"
  mkdir "$dir/strings/0x409"
  echo "$4" > "$dir/strings/0x409/manufacturer"
  echo "$5" > "$dir/strings/0x409/product"
  echo "$6" > "$dir/strings/0x409/serialnumber"
  mkdir "$dir/configs/c.1"
}

# make_printer_gadget [NAME SERIAL]: "printer" unless named otherwise.
make_printer_gadget() {
  local name=${1:-printer}
  make_gadget "$name" 0x6742 0x0001 KORVO "K1 Printer" "${2:-KV0001234}" || return 1
  local function=$GADGETS/$name/functions/printer.0
  mkdir "$function"
  echo "MFG:KORVO;MDL:K1;CMD:RAW;CLS:PRINTER;" > "$function/pnp_string"
  ln -s "$function" "$GADGETS/$name/configs/c.1/"
}

make_storage_gadget() {
  dd if=/dev/zero of="$DISK_IMAGE" bs=1024 count=1024 2>/dev/null
  make_gadget storage 0x6742 0x0010 KORVO "Disk" KD0000042 || return 1
  local function=$GADGETS/storage/functions/mass_storage.0
  mkdir "$function"
  echo "$DISK_IMAGE" > "$function/lun.0/file"
  ln -s "$function" "$GADGETS/storage/configs/c.1/"
}

# wait_for TEST PATH [TENTHS]: polls until `test TEST PATH` holds; 5 s by
# default.
wait_for() {
  local tenths="${3:-50}"
  until test "$1" "$2"; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || return 1
    sleep 0.1
  done
}

# wait_gone PATH [TENTHS]
wait_gone() {
  local tenths="${2:-50}"
  while [ -e "$1" ]; do
    tenths=$((tenths - 1))
    [ "$tenths" -gt 0 ] || return 1
    sleep 0.1
  done
}

# The host side of a plugged device: its interface (on bus 1, or on BUS),
# and the driver bound to it (empty when none).
host_interface() { echo "/sys/bus/usb/devices/${1:-1}-1:1.0"; }
bound_driver() {
  local link
  link=$(readlink "$(host_interface "${1:-1}")/driver" 2>/dev/null) || return 0
  basename "$link"
}

plug() {
  case $1 in
    printer2) echo "$SECOND_UDC" > "$GADGETS/$1/UDC" || return 1 ;;
    *) echo "$UDC" > "$GADGETS/$1/UDC" || return 1 ;;
  esac
  case $1 in
    printer) wait_for -e "$LP_NODE" 100 && wait_for -e "$PRINTER_NODE" ;;
    printer2) wait_for -e "$SECOND_LP_NODE" 100 && wait_for -e "$SECOND_PRINTER_NODE" ;;
    storage) wait_for -e "$(host_interface)/driver" 100 ;;
  esac
}

unplug() {
  echo "" > "$GADGETS/$1/UDC" 2>/dev/null
  if [ "$1" = printer2 ]; then wait_gone "$(host_interface 2)" 100; else wait_gone "$(host_interface)" 100; fi
}

# A fresh device for every case: a new enumeration, no data left queued in
# the gadget from the case before.
replug() { unplug "$1"; plug "$1"; }
