#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest. The wine server is started
# detached from the caller's output pipe first; otherwise every test waits
# for the pipe to close. A throwaway prefix is used unless one is given.
set -u
export LANG=ja_JP.UTF-8
export LC_ALL=ja_JP.UTF-8
export WINEDEBUG=${WINEDEBUG:--all,err+module}
export WINEPREFIX=${WINEPREFIX:-${SORVANE_WINEPREFIX:-/tmp/sorvane-wine}}
export HOME=${SORVANE_WINEHOME:-${WINEPREFIX}-home}
mkdir -p "$HOME"
if [ ! -f "$WINEPREFIX/.sorvane-ready-2" ]; then
  "$(dirname "$0")/../scripts/prepare-wine.sh" >/dev/null 2>&1 </dev/null
fi
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
exec wine "$@"
