#!/usr/bin/env bash
# What --all saves: four emulated units that each take 8 MiB at a slow
# bulk rate (korvo-emu's `bulk-rate`, RATE bytes per second, 4 MiB/s by
# default), tested by `korvo-test --all` against four runs one after the
# other (--path), and against one unit alone. Each figure is the wall time of
# the whole korvo-emu run, the best of ROUNDS (default 3). Four units at once
# should take little more than one.
# Usage: bench/all-devices-time.sh [BUILD_DIR] [RATE] [ROUNDS]
set -euo pipefail
build=${1:-build} rate=${2:-4194304} rounds=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((8 << 20)) /dev/urandom > "$work/data.bin"

unit="vid=6742,product=KORVO%20K1,driver=usblp,bulk-rate=$rate"
four=(--device "$unit" --device "$unit" --device "$unit" --device "$unit")
path() { echo "/dev/bus/usb/001/00$1#vid_6742&pid_0001"; }

# best NAME KORVO-EMU-ARGS...: the least wall time of the rounds, in seconds;
# every round must pass.
best() {
  local name=$1 round start end least=
  shift
  for round in $(seq "$rounds"); do
    start=$(date +%s.%N)
    "$build/korvo-emu" "$@" > "$work/out" 2>&1 || { echo "$name failed:"; cat "$work/out"; exit 1; }
    end=$(date +%s.%N)
    least=$(awk -v s="$start" -v e="$end" -v l="$least" 'BEGIN { t = e - s; print (l == "" || t < l) ? t : l }')
  done
  printf '%-34s %6.2f s\n' "$name" "$least"
}

echo "8 MiB per unit at $rate bytes/s, best of $rounds:"
best "one unit" --device "$unit" -- "$build/korvo-test" "$work/data.bin"
best "four units one after the other" "${four[@]}" -- /bin/sh -c \
  'f=$1; shift; for p in "$@"; do "$0" --path "$p" "$f" || exit 1; done' \
  "$build/korvo-test" "$work/data.bin" "$(path 2)" "$(path 3)" "$(path 4)" "$(path 5)"
best "four units with --all" "${four[@]}" -- "$build/korvo-test" --all "$work/data.bin"
