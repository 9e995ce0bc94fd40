#!/usr/bin/env bash
# The CPU a hung transfer costs: korvo-test writes to an emulated device that
# never answers (korvo-emu's `hang`), and once the write waits, this samples
# the CPU time korvo-emu and korvo-test use over SECONDS (default 10), as a
# share of one core. A wait should cost next to nothing in either.
# Usage: bench/hung-transfer-cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build} seconds=${2:-10}
work=$(mktemp -d)
emu_pid=
trap '[ -n "$emu_pid" ] && kill -TERM "$emu_pid" 2>/dev/null && wait "$emu_pid"; rm -rf "$work"' EXIT
head -c 4096 /dev/zero > "$work/data.bin"

"$build/korvo-emu" --device vid=6742,hang -- "$build/korvo-test" "$work/data.bin" \
  > "$work/out" 2>&1 &
emu_pid=$!
# The status request gives up after 5 s; the write then waits.
for _ in $(seq 100); do
  grep -q "Error code Status:110" "$work/out" && break
  sleep 0.1
done
grep -q "Error code Status:110" "$work/out" || { echo "the run did not reach the write:"; cat "$work/out"; exit 1; }
tool_pid=$(pgrep -P "$emu_pid" -x korvo-test)
sleep 1

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # utime + stime
emu_before=$(ticks "$emu_pid") tool_before=$(ticks "$tool_pid")
sleep "$seconds"
emu_after=$(ticks "$emu_pid") tool_after=$(ticks "$tool_pid")
hz=$(getconf CLK_TCK)
share() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.1f%%", 100 * t / hz / s }'; }
echo "over ${seconds} s of a hung write: korvo-emu $(share $((emu_after - emu_before))) of a core," \
     "korvo-test $(share $((tool_after - tool_before)))"
