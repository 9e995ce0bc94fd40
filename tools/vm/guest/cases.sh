# The cases: korvo-test against the guest kernel's usblp, usb-storage and
# usbfs, with the gadget side of each device in reach. Each case prints
# "PASS name" or "FAIL name: why"; the last line counts them.

KORVO_TEST=${KORVO_TEST:-/korvo/bin/korvo-test}
TOOL_TIMEOUT=180       # seconds; a run that takes longer is a hang
# The printer gadget hands a read only a full 8 KiB request or one ended by
# a short packet: a file whose size is a multiple of 512 bytes but not of
# 8 KiB would leave its tail in the gadget.
SMALL=1000
MEDIUM=5242880         # 5 MiB
LARGE=67108864         # 64 MiB
OUT=/tmp/stdout
ERR=/tmp/stderr
SENT=/tmp/sent.bin
RECEIVED=/tmp/received.bin

passed=0
failed=0
why=

# note REASON: one more reason for the running case to fail.
note() { why="${why:+$why; }$1"; }

run_case() {
  why=
  "$2"
  if [ -z "$why" ]; then
    echo "PASS $1"
    passed=$((passed + 1))
  else
    echo "FAIL $1: $why"
    failed=$((failed + 1))
  fi
}

make_file() { korvo-gadget pattern "$1" "$SENT"; }

# start_receiver [receive options]: reads the printer gadget in the
# background, into $RECEIVED, once its node is open. The gadget keeps its
# status across plugs: each case sets it (18: selected, no error).
start_receiver() {
  rm -f /tmp/receiver.ready /tmp/receiver.held
  korvo-gadget receive "$PRINTER_NODE" "$RECEIVED" --ready /tmp/receiver.ready --status 18 "$@" \
    > /tmp/receiver.count &
  receiver=$!
  wait_for -e /tmp/receiver.ready 100 || note "the gadget side could not open $PRINTER_NODE"
}

# stop_receiver: lets the receiver take what is still on its way, then
# sets $received to the number of bytes it got.
stop_receiver() {
  kill -USR1 "$receiver" 2>/dev/null
  wait "$receiver"
  received=$(cat /tmp/receiver.count)
  received=${received:-0}
}

# run_tool [exec options] -- ARGS: korvo-test in the foreground, with every
# signal at its default; sets $rc.
run_tool() {
  local options=
  [ "$1" = "--" ] || { options=$1; shift; }
  shift
  # shellcheck disable=SC2086 # no option is an empty word
  korvo-gadget exec $options -- timeout -s KILL "$TOOL_TIMEOUT" "$KORVO_TEST" "$@" > "$OUT" 2> "$ERR"
  rc=$?
}

# start_tool ARGS: korvo-test in the background; $tool is its process ID.
start_tool() {
  korvo-gadget exec -- timeout -s KILL "$TOOL_TIMEOUT" "$KORVO_TEST" "$@" > "$OUT" 2> "$ERR" &
  tool=$!
}

expect_rc() {
  [ "$rc" = "$1" ] && return
  [ "$rc" = 137 ] && note "korvo-test hung (killed after ${TOOL_TIMEOUT}s)" && return
  note "exit status $rc, expected $1"
}

# expect_stdout TEXT: stdout is exactly TEXT (one line, or nothing).
expect_stdout() {
  [ "$(cat "$OUT")" = "$1" ] || note "stdout was '$(tr '\n' '|' < "$OUT")', expected '$1'"
}

expect_stdout_line() {
  grep -qxF "$1" "$OUT" || note "stdout was '$(tr '\n' '|' < "$OUT")', without '$1'"
}

expect_stderr() {
  [ "$(cat "$ERR")" = "$1" ] || note "stderr was '$(tr '\n' '|' < "$ERR")', expected '$1'"
}

expect_received_all() {
  if [ "$received" != "$(wc -c < "$SENT")" ]; then
    note "the device received $received of $(wc -c < "$SENT") bytes"
  elif [ "$(md5sum < "$RECEIVED")" != "$(md5sum < "$SENT")" ]; then
    note "the device received other bytes than the file's"
  fi
}

expect_received_nothing() {
  [ "$received" = 0 ] || note "the device received $received bytes"
}

expect_usblp_bound() {
  wait_for -e "$LP_NODE" 30 || note "$LP_NODE is gone"
  [ "$(bound_driver)" = usblp ] || note "usblp is not bound (driver: '$(bound_driver)')"
}

# A KORVO printer as usblp leaves it: the file arrives whole, stdout has
# the port status and nothing else, usblp is back at the end.
case_usblp_idle() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  start_receiver --expect "$MEDIUM"
  run_tool -- "$SENT"
  stop_receiver
  expect_rc 0
  expect_stdout "status:18"
  expect_stderr ""
  expect_received_all
  expect_usblp_bound
}

# The status byte is the one the device reports.
case_port_status() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$SMALL"
  start_receiver --expect "$SMALL" --status 38
  run_tool -- "$SENT"
  stop_receiver
  expect_rc 0
  expect_stdout "status:38"
  expect_received_all
}

# Another program has the printer open through usblp: refused, untouched.
case_usblp_in_use() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  sleep 600 3> "$LP_NODE" &
  local holder=$!
  start_receiver
  run_tool -- "$SENT"
  stop_receiver
  expect_rc 1
  expect_stdout ""
  expect_stderr "Unable to open $PRINTER_DESCRIPTION"
  expect_received_nothing
  expect_usblp_bound
  kill "$holder"
  wait "$holder" 2>/dev/null
}

# An exit the tool takes after it has opened the device: its message, exit
# status 1, nothing sent, and usblp bound again.
early_exit() {
  local path="$1" message="$2"
  start_receiver
  run_tool -- "$path"
  stop_receiver
  expect_rc 1
  expect_stdout_line "$message $path"
  expect_received_nothing
  expect_usblp_bound
}

case_file_missing() {
  replug printer || { note "the printer did not come up"; return; }
  early_exit /tmp/missing.bin "Can not open file"
}

# A file that another program has locked cannot be opened either.
case_file_locked() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$SMALL"
  korvo-gadget lock "$SENT" > /tmp/lock.out &
  local locker=$!
  wait_for -s /tmp/lock.out || note "could not lock the file"
  early_exit "$SENT" "Can not open file"
  kill "$locker"
  wait "$locker" 2>/dev/null
}

# A file that cannot be read whole: /proc's files measure 0 bytes and then
# give more.
case_file_unreadable() {
  replug printer || { note "the printer did not come up"; return; }
  early_exit /proc/version "Can not read file"
}

# A signal to korvo-test while the device holds the write (its side does not
# read): the tool gives the printer back to usblp, then dies of the signal,
# as the shell sees it: 128 + the signal's number. After SIGKILL, which
# nothing catches, the tool's guardian binds usblp again; no process stays.
signal_held_write() {
  local signal="$1" status="$2"
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  start_receiver --hold-after 0 --mark /tmp/receiver.held
  start_tool "$SENT"
  wait_for -s "$OUT" 300 || note "no status line"
  sleep 2
  if kill -0 "$tool" 2>/dev/null; then
    # To korvo-test itself: timeout(1) passes on only some signals.
    kill -"$signal" "$(pids_named korvo-test)"
    wait "$tool" 2>/dev/null  # without the shell's "Hangup"
    rc=$?
    expect_rc "$status"
  else
    wait "$tool"
    note "the write was not held: korvo-test ended with $? before SIG$signal"
  fi
  stop_receiver
  expect_usblp_bound
  expect_no_process_left
}

# pids_named NAME: the processes of that name (busybox has no pgrep here).
pids_named() { grep -lx "$1" /proc/[0-9]*/comm 2>/dev/null | cut -d/ -f3; }

expect_no_process_left() {
  sleep 1
  [ -z "$(pids_named korvo-guardian)" ] || note "a guardian process outlived the run"
  [ -z "$(pids_named korvo-test)" ] || note "korvo-test is still running"
  # shellcheck disable=SC2012 # names of links, not files
  [ "$(ls -l /proc/[0-9]*/fd 2>/dev/null | grep -c -e /dev/bus/usb -e /dev/usb/lp)" = 0 ] ||
    note "a device node is still open"
}

case_sigint_held_write() { signal_held_write INT 130; }
case_sigterm_held_write() { signal_held_write TERM 143; }
case_sighup_held_write() { signal_held_write HUP 129; }
case_sigquit_held_write() { signal_held_write QUIT 131; }
case_sigusr1_held_write() { signal_held_write USR1 138; }
case_sigkill_held_write() { signal_held_write KILL 137; }

# --timeout on a write the device holds: given up once nothing has moved for
# that long, as a failed write with ETIMEDOUT (110); usblp bound again.
case_timeout_held_write() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  start_receiver --hold-after 0 --mark /tmp/receiver.held
  run_tool -- --timeout 2 "$SENT"
  stop_receiver
  expect_rc 1
  expect_stdout "$(printf 'status:18\nError code Write:110')"
  expect_usblp_bound
  expect_no_process_left
}

# --timeout on a printer slower than it: each chunk runs out of time having
# moved some bytes, which the kernel counts, and the rest follows from
# there: the file arrives byte-exact.
case_timeout_slow_printer() {
  replug printer || { note "the printer did not come up"; return; }
  make_file 1500000
  start_receiver --expect 1500000 --rate 400000
  run_tool -- --timeout 1 "$SENT"
  stop_receiver
  expect_rc 0
  expect_stdout "status:18"
  expect_received_all
  expect_usblp_bound
}

# Runs that overlap on one printer: each sends the whole file or is refused
# as busy, nothing interleaves, and usblp is bound at the end. $1 runs at
# once, $2 times over.
overlapping_runs() {
  local at_once="$1" rounds="$2" round i sent=0
  replug printer || { note "the printer did not come up"; return; }
  make_file "$SMALL"
  start_receiver
  rm -f /tmp/statuses
  for round in $(seq "$rounds"); do
    local runs=
    for i in $(seq "$at_once"); do
      ("$KORVO_TEST" "$SENT" >/dev/null 2>&1; echo $? >> /tmp/statuses) &
      runs="$runs $!"
    done
    # shellcheck disable=SC2086 # one pid a word; not the receiver's
    wait $runs
  done
  stop_receiver
  grep -qvx -e 0 -e 1 /tmp/statuses && note "exit statuses other than 0 and 1: $(sort -u /tmp/statuses | tr '\n' ' ')"
  sent=$(grep -cx 0 /tmp/statuses)
  [ "$sent" -gt 0 ] || note "no run got the device"
  [ "$received" = $((sent * SMALL)) ] || note "the device received $received bytes for $sent runs of $SMALL"
  expect_usblp_bound
}

case_ten_at_once() { overlapping_runs 10 3; }
case_three_loops() { overlapping_runs 3 40; }

# 300 runs one after the other: each sends the file, usblp is bound after
# every one, and nothing is left open at the end.
case_soak() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$SMALL"
  start_receiver
  local i
  for i in $(seq 300); do
    run_tool -- "$SENT"
    [ "$rc" = 0 ] || { note "run $i ended with $rc: $(cat "$ERR")"; break; }
    [ "$(bound_driver)" = usblp ] || { note "usblp not bound after run $i"; break; }
  done
  stop_receiver
  [ "$received" = $((300 * SMALL)) ] || note "the device received $received of $((300 * SMALL)) bytes"
  expect_usblp_bound
  expect_no_process_left
}

# A memory cgroup smaller than the file: "Can not read file", exit 1, usblp
# back; never the out-of-memory killer.
case_memory_cgroup() {
  replug printer || { note "the printer did not come up"; return; }
  local group=/sys/fs/cgroup/korvo big=/tmp/big.bin
  [ -e /sys/fs/cgroup/cgroup.controllers ] || mount -t cgroup2 cgroup2 /sys/fs/cgroup
  echo +memory > /sys/fs/cgroup/cgroup.subtree_control
  mkdir -p "$group" && echo 134217728 > "$group/memory.max" ||
    { note "no memory cgroup could be made"; return; }
  truncate -s 314572800 "$big"  # sparse: fits the machine, not the group
  start_receiver
  sh -c 'echo $$ > "$1/cgroup.procs" && exec timeout -s KILL "$2" "$3" "$4"' sh \
    "$group" "$TOOL_TIMEOUT" "$KORVO_TEST" "$big" > "$OUT" 2> "$ERR"
  rc=$?
  stop_receiver
  expect_rc 1
  expect_stdout "$(printf 'status:18\nCan not read file %s' "$big")"
  expect_received_nothing
  expect_usblp_bound
  rm -f "$big"
  rmdir "$group"
}

# stdout goes nowhere (`korvo-test FILE | true`): the file is still sent.
case_sigpipe() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  start_receiver --expect "$MEDIUM"
  run_tool --closed-stdout -- "$SENT"
  stop_receiver
  expect_rc 0
  expect_stderr ""
  expect_received_all
  expect_usblp_bound
}

# The device goes away while the tool writes to it. The kernel fails a
# write already under way with EPROTO (the tool's EIO, 5): dummy_hcd finds
# the gadget's endpoints gone before the hub reports the disconnect. A
# write submitted after that fails with ENODEV (19).
case_unplug_mid_transfer() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$MEDIUM"
  start_receiver --hold-after 1048576 --mark /tmp/receiver.held
  start_tool "$SENT"
  if wait_for -e /tmp/receiver.held 600; then
    unplug printer || note "the printer did not go away"
  else
    note "the first MiB never arrived"
  fi
  wait "$tool"
  rc=$?
  stop_receiver
  expect_rc 1
  grep -qxE "Error code Write:(19|5)" "$OUT" ||
    note "stdout was '$(tr '\n' '|' < "$OUT")', without 'Error code Write:19' (or 5)"
}

# udevd for the case that needs it: it passes the kernel's uevents on to
# libudev monitors. No rules: it only records and passes on.
start_udevd() {
  systemd-udevd --daemon > /tmp/udevd.log 2>&1 || return 1
  wait_for -S /run/udev/control
}
stop_udevd() { udevadm control --exit 2>/dev/null; }

# usblp's probes so far: it says so on each printer it binds.
usblp_probes() { dmesg | grep -c 'usblp[0-9]*: USB .*directional printer'; }

# netlink_listener PID: whether the process has a uevent socket
# (NETLINK_KOBJECT_UEVENT, 15; its port is its process ID).
netlink_listener() { awk -v pid="$1" '$2 == 15 && $3 == pid { found = 1 } END { exit !found }' /proc/net/netlink; }

# The printer is plugged in while korvo-test --wait waits: the run opens it
# once usblp has bound it (usblp probes twice: at the plug, and when the
# tool gives it back), sends the file, and usblp is bound at the end.
case_wait_for_plug() {
  unplug printer
  start_udevd || { note "udevd did not start: $(cat /tmp/udevd.log)"; return; }
  make_file "$SMALL"
  local probes
  probes=$(usblp_probes)
  start_tool --wait=120 "$SENT"
  local waiting=0 tenths
  for tenths in $(seq 300); do
    pid=$(pids_named korvo-test)
    if [ -n "$pid" ] && netlink_listener "$pid"; then waiting=1; break; fi
    sleep 0.1
  done
  [ "$waiting" = 1 ] || note "korvo-test never listened for uevents"
  sleep 1
  [ -s "$OUT" ] && note "korvo-test did not wait: stdout '$(tr '\n' '|' < "$OUT")'"
  plug printer || note "the printer did not come up"
  start_receiver --expect "$SMALL"
  wait "$tool"
  rc=$?
  stop_receiver
  stop_udevd
  expect_rc 0
  expect_stdout "status:18"
  expect_stderr ""
  expect_received_all
  expect_usblp_bound
  [ $(($(usblp_probes) - probes)) = 2 ] ||
    note "usblp probed $(($(usblp_probes) - probes)) times, not 2 (bound at the plug, then given back)"
}

# A mass-storage device bound to usb-storage: the tool must not take it
# from its driver. A detach and re-attach would show as a new SCSI host
# directory in sysfs, even where it has the old name.
case_usb_storage_left_alone() {
  unplug printer
  plug storage || { note "the storage device did not come up"; unplug storage; return; }
  local host inode
  host=$(ls -d "$(host_interface)"/host* 2>/dev/null)
  inode=$(stat -c %i "$host" 2>/dev/null)
  make_file "$SMALL"
  run_tool -- "$SENT"
  expect_rc 1
  expect_stdout ""
  expect_stderr "Unable to open $STORAGE_DESCRIPTION"
  [ "$(bound_driver)" = usb-storage ] || note "usb-storage is not bound (driver: '$(bound_driver)')"
  if [ -z "$inode" ] || [ "$(stat -c %i "$host" 2>/dev/null)" != "$inode" ]; then
    note "usb-storage was detached (SCSI host ${host##*/} is not the one before)"
  fi
  unplug storage
}

# Two printers, one on each bus: --all tests both at once, each receives the
# whole file, each line carries its printer's bus and address, and usblp is
# bound again on both.
case_two_printers_all() {
  [ -e "$GADGETS/printer2" ] || make_printer_gadget printer2 KV0001235 ||
    { note "cannot make the second printer"; return; }
  replug printer || { note "the printer did not come up"; return; }
  plug printer2 || { note "the second printer did not come up"; unplug printer2; return; }
  make_file "$MEDIUM"
  start_receiver --expect "$MEDIUM"
  rm -f /tmp/receiver2.ready
  korvo-gadget receive "$SECOND_PRINTER_NODE" /tmp/received2.bin --ready /tmp/receiver2.ready \
    --status 18 --expect "$MEDIUM" > /tmp/receiver2.count &
  local second=$!
  wait_for -e /tmp/receiver2.ready 100 || note "the gadget side could not open $SECOND_PRINTER_NODE"
  run_tool -- --all "$SENT"
  stop_receiver
  kill -USR1 "$second" 2>/dev/null
  wait "$second"
  expect_rc 0
  local first second_unit
  first=$(printf '001:%03d' "$(cat /sys/bus/usb/devices/1-1/devnum)")
  second_unit=$(printf '002:%03d' "$(cat /sys/bus/usb/devices/2-1/devnum)")
  [ "$(sort "$OUT" | tr '\n' '|')" = "$first status:18|$second_unit status:18|" ] ||
    note "stdout was '$(tr '\n' '|' < "$OUT")', expected a status line from $first and $second_unit"
  expect_stderr "korvo-test: 2 of 2 devices passed"
  expect_received_all
  if [ "$(cat /tmp/receiver2.count)" != "$MEDIUM" ] || ! cmp -s /tmp/received2.bin "$SENT"; then
    note "the second printer received $(cat /tmp/receiver2.count) bytes, not the file"
  fi
  expect_usblp_bound
  if ! wait_for -e "$SECOND_LP_NODE" 30 || [ "$(bound_driver 2)" != usblp ]; then
    note "usblp is not bound on the second printer (driver: '$(bound_driver 2)')"
  fi
  expect_no_process_left
  unplug printer2
  rm -f /tmp/received2.bin
}

case_64mib() {
  replug printer || { note "the printer did not come up"; return; }
  make_file "$LARGE"
  start_receiver --expect "$LARGE"
  run_tool -- "$SENT"
  stop_receiver
  expect_rc 0
  expect_stdout "status:18"
  expect_received_all
  expect_usblp_bound
  rm -f "$SENT" "$RECEIVED"
}

ALL_CASES="usblp-idle port-status usblp-in-use file-missing file-locked file-unreadable sigint-held-write
  sigterm-held-write sighup-held-write sigquit-held-write sigusr1-held-write sigkill-held-write
  timeout-held-write timeout-slow-printer
  ten-at-once three-loops soak memory-cgroup sigpipe unplug-mid-transfer wait-for-plug
  usb-storage-left-alone two-printers-all 64mib"

# run_cases [NAME...]: the named cases (all by default), in that order; the
# case "usblp-idle" runs case_usblp_idle.
run_cases() {
  local name
  # shellcheck disable=SC2086 # one case name a word
  [ $# -gt 0 ] || set -- $ALL_CASES
  for name in "$@"; do
    if type "case_$(echo "$name" | tr - _)" >/dev/null 2>&1; then
      run_case "$name" "case_$(echo "$name" | tr - _)"
    else
      why="no such case"
      echo "FAIL $name: $why"
      failed=$((failed + 1))
    fi
  done
  echo "$passed passed, $failed failed"
}
