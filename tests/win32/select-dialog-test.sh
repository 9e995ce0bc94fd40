#!/usr/bin/env bash
# The device-choice dialog driven from the keyboard, as an operator drives it:
# the real CSelectDlg on the Windows presenter, under Wine on an X display.
# Usage: select-dialog-test.sh DRIVER.exe [SCREENSHOT.png]
set -euo pipefail

driver=$1
screenshot=${2:-}
caption="Select Device to Test"

if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: no X display (run under xvfb-run)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# run_case NAME EXPECTED KEY...: opens the dialog over three devices, presses
# the keys, and compares what the dialog answered.
run_case() {
  local name=$1 expected=$2
  shift 2
  timeout 60 "${KORVO_WINE:-wine}" "$driver" "First Device" "Second Device" "Third Device" \
    >"$work/$name.out" 2>"$work/$name.err" &
  local pid=$!

  local window
  if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$caption\$" | head -n 1) ||
     [ -z "$window" ]; then
    echo "FAIL $name: no window named \"$caption\""
    kill "$pid" 2>/dev/null || true
    wait "$pid" || true
    failures=$((failures + 1))
    return
  fi

  xdotool windowfocus --sync "$window"
  if [ -n "$screenshot" ] && [ "$name" = ok-takes-the-last ]; then
    sleep 1  # let Wine paint the controls before the picture
    import -window "$window" "$screenshot"
  fi
  xdotool key --delay 150 "$@"

  local status=0
  wait "$pid" || status=$?
  local answer
  answer=$(tr -d '\r' <"$work/$name.out")
  if [ "$status" -ne 0 ] || [ "$answer" != "$expected" ] || [ -s "$work/$name.err" ]; then
    echo "FAIL $name: exit $status, answered \"$answer\", expected \"$expected\""
    sed 's/^/  stderr: /' "$work/$name.err"
    failures=$((failures + 1))
  else
    echo "ok   $name: $answer"
  fi
}

# The dialog opens with the focus on OK, the first tab stop: Return confirms
# the preselected last device. Tab twice reaches the list (OK, Cancel, list),
# where Up picks the device before it.
run_case ok-takes-the-last "IDOK 2" Return
run_case up-takes-the-one-before "IDOK 1" Tab Tab Up Return
run_case escape-cancels "not confirmed 2" Escape

[ "$failures" -eq 0 ]
