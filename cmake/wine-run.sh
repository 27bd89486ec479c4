#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest (tests and test discovery).
# Inside a wine session (scripts/wine-session.sh, which scripts/test.sh
# opens around the Windows suite) the server, the desktop and the display
# are the session's and already up: the program just runs. Started any other
# way, the program gets a session of its own, which is correct but costs a
# few seconds per program: run the suite through a session.
#
#   wine-run.sh [--gtest] PROGRAM ARGUMENTS...
#
# --gtest (how CTest starts the test programs): PROGRAM is a test program,
# started once more if Wine lost it before its main() (cmake/wine-gtest.bash).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${SORVANE_WINE_SESSION:-}" ]; then
  exec "$top/scripts/wine-session.sh" "$0" "$@"
fi
export WINEPREFIX=$SORVANE_WINE_SESSION
export HOME=$SORVANE_WINEHOME
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# Not plain -all: that hides a missing DLL (the program exits 53, silently).
export WINEDEBUG=${WINEDEBUG:--all,err+module}
if [ "${1:-}" = --gtest ]; then
  shift
  . "$top/cmake/wine-gtest.bash"
  wine_gtest "$@"
  exit
fi
exec wine "$@"
