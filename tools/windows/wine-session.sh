#!/usr/bin/env bash
# Runs COMMAND inside a Wine session of its own: a fresh 32-bit prefix in a
# temporary directory, the Wine server started before and stopped after, and
# the settings without which runs under Wine hang or mislead.
# Usage: tools/windows/wine-session.sh COMMAND [ARG...]
# Run it under xvfb-run when COMMAND shows windows.
set -euo pipefail

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/korvo-wine.XXXXXX")
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all                      # Wine's own messages stay off stderr
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko install prompts

stop_session() {
  timeout 30 wineserver -k || true
  timeout 60 wineserver -w || true
  rm -rf "$WINEPREFIX"
}
trap stop_session EXIT

# The server stays up between wine calls; the prefix is made once, here.
timeout 30 wineserver -p
timeout 300 wine wineboot --init </dev/null

# Debian's Wine does not find its own fonts (fonts-wine): without them the
# dialogs lose "MS Sans Serif" and the caption buttons' Marlett symbols.
if [ -d /usr/share/wine/fonts ]; then
  ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi

# A crash must end the program, not wait for someone to close a dialog.
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null </dev/null
# Without a window manager, Wine draws the frames and captions itself.
timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  >/dev/null </dev/null

status=0
"$@" || status=$?
exit "$status"
