#!/usr/bin/env bash
# Runs COMMAND inside a Wine session of its own: a fresh prefix in a
# temporary directory, the Wine server started before and stopped after, and
# the settings without which runs under Wine hang or mislead.
# Usage: tools/windows/wine-session.sh [--64|--wow64] COMMAND [ARG...]
# --64: a 64-bit prefix and loader (wine64); --wow64: a 64-bit prefix, as
# 64-bit Windows is, with the 32-bit loader for 32-bit programs in it; else
# a 32-bit prefix. COMMAND finds the loader to use in $KORVO_WINE, and the
# 64-bit one (for 64-bit helpers) in $KORVO_WINE64 where the prefix has it.
# Run it under xvfb-run when COMMAND shows windows.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = "--64" ]; then
  shift
  KORVO_WINE=$(bash "$here/wine-loader.sh" 64)
  KORVO_WINE64=$KORVO_WINE
  export WINEARCH=win64 KORVO_WINE64
elif [ "${1:-}" = "--wow64" ]; then
  shift
  KORVO_WINE=$(bash "$here/wine-loader.sh" 32)
  KORVO_WINE64=$(bash "$here/wine-loader.sh" 64)
  export WINEARCH=win64 KORVO_WINE64
else
  KORVO_WINE=$(bash "$here/wine-loader.sh" 32)
  export WINEARCH=win32
fi
export KORVO_WINE

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/korvo-wine.XXXXXX")
export WINEPREFIX
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
timeout 300 "${KORVO_WINE64:-$KORVO_WINE}" wineboot --init </dev/null
# A new prefix's first boot keeps the service manager busy for a while (its
# database stays locked), and a driver installed meanwhile starts late or
# not at all. The rest of the session starts from the settled prefix.
timeout 30 wineserver -k || true
timeout 60 wineserver -w || true
timeout 30 wineserver -p

# Debian's Wine does not find its own fonts (fonts-wine): without them the
# dialogs lose "MS Sans Serif" and the caption buttons' Marlett symbols.
if [ -d /usr/share/wine/fonts ]; then
  ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi

# A crash must end the program, not wait for someone to close a dialog.
timeout 60 "$KORVO_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null </dev/null
# Without a window manager, Wine draws the frames and captions itself.
timeout 60 "$KORVO_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  >/dev/null </dev/null

status=0
"$@" || status=$?
exit "$status"
