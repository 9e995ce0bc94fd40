#!/usr/bin/env bash
# The CPU a wait for devices costs: `korvo-test --wait=SECONDS` (default 5)
# with no device present, under korvo-emu, so that it waits on the real udev
# monitor until it times out; then the same on this machine's own udev. The
# figure is the user and system time of korvo-test alone (bash's `time` on
# its child). A wait should block, never poll: well under 50 ms for 5 s.
# Usage: bench/wait-cpu.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-build} seconds=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 4096 /dev/zero > "$work/data.bin"

measure() {
  "$@" /bin/bash -c 'TIMEFORMAT="%3R %3U %3S"; time "$0" --wait="$1" "$2" 2>/dev/null' \
    "$build/korvo-test" "$seconds" "$work/data.bin" 2>&1 | tail -n 1
}

report() {
  read -r real user system <<< "$2"
  awk -v what="$1" -v r="$real" -v u="$user" -v s="$system" \
    'BEGIN { printf "%s: waited %.2f s, CPU %.1f ms (user %.1f ms, system %.1f ms)\n", what, r, 1000 * (u + s), 1000 * u, 1000 * s }'
}

report "under korvo-emu" "$(measure "$build/korvo-emu" --)"
report "on this machine's udev" "$(measure env)"
