#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz) and runs each from its seed
# corpus for a bounded time; any crash, sanitizer report or broken invariant
# fails the run, and the input that caused it is left in build-fuzz/findings.
#
#   tools/run-fuzz.sh                       every target, FUZZ_SECONDS (20) each
#   FUZZ_SECONDS=600 tools/run-fuzz.sh fuzz_description
#
# Inputs found on the way go to build-fuzz/corpus/<target>, which the next
# run starts from as well; the checked-in seeds (tests/fuzz/corpus) are only
# read. A target's dictionary of words, if any, is tests/fuzz/<target>.dict.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
build=build-fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -name 'fuzz_*' -type f -executable -printf '%f\n' | sort)
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built" >&2; exit 1; }

mkdir -p "$build/findings"
failed=()
for target in "${targets[@]}"; do
  seeds="tests/fuzz/corpus/$target"
  found="$build/corpus/$target"
  [ -d "$seeds" ] || { echo "$target: no seed corpus in $seeds" >&2; failed+=("$target"); continue; }
  mkdir -p "$found"
  options=()
  [ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")
  echo "== $target: ${seconds} s"
  log="$build/findings/$target.log"
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$build/findings/$target-" "${options[@]}" \
       "$found" "$seeds" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$log" || true
  else
    tail -n 40 "$log" >&2
    echo "$target FAILED: see $log and $build/findings/$target-*" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
