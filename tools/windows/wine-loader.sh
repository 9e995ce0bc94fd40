#!/usr/bin/env bash
# Prints the Wine loader for 32-bit or 64-bit Windows programs, and fails
# (with the reason on stderr) when this machine cannot run it: Debian's `wine`
# always starts the 32-bit loader when wine32 is installed, and a kernel
# without 32-bit support (ia32_emulation=off) cannot start that one at all.
# Usage: tools/windows/wine-loader.sh 32|64
set -uo pipefail

case "${1:-}" in
  32) candidates=(wine) ;;
  64) candidates=(wine64 /usr/lib/wine/wine64 /usr/lib64/wine/wine64) ;;
  *) echo "usage: $0 32|64" >&2; exit 2 ;;
esac

reason="no Wine loader for $1-bit programs is installed"
for loader in "${candidates[@]}"; do
  command -v "$loader" >/dev/null || continue
  if output=$(WINEDEBUG=-all timeout 30 "$loader" --version 2>&1 </dev/null); then
    command -v "$loader"
    exit 0
  fi
  reason="'$loader --version' failed: $(printf '%s' "$output" | tail -n 1)"
done
echo "$reason" >&2
exit 1
