#!/usr/bin/env bash
# The Wine prefix the installer tests install into: made new for each test
# run, so that nothing an earlier run or another test program left (an
# install, a key, a shortcut) can make a check pass, and never the session's
# own prefix, which the other Windows tests share.
#
#   fresh-prefix.sh make DIR              a new prefix in DIR (whatever was there goes)
#   fresh-prefix.sh run DIR PROGRAM ARGS  PROGRAM under Wine in that prefix
#   fresh-prefix.sh remove DIR            ends what runs there, removes DIR
#
# CTest runs make and remove as the fixture around the tests, and each test
# through run (the test program's emulator). Listing a program's tests
# (--gtest_list_tests, when CTest starts) touches no prefix and runs the
# usual way. It runs inside a wine session (scripts/wine-session.sh) for its
# display; started outside one, it opens one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
if [ $# -lt 2 ]; then
  sed -n '7,9p' "$0" >&2
  exit 2
fi
mode=$1
dir=$2
shift 2

if [ "$mode" = run ]; then
  for arg in "$@"; do
    if [ "$arg" = --gtest_list_tests ]; then exec "$top/cmake/wine-run.sh" --gtest "$@"; fi
  done
fi
if [ -z "${SORVANE_WINE_SESSION:-}" ]; then
  exec "$top/scripts/wine-session.sh" "$0" "$mode" "$dir" "$@"
fi

export WINEPREFIX=$dir/prefix
export HOME=$dir/home
# Japanese, as every Windows test runs, unless a test asks for another
# system language.
export LANG=${SORVANE_WINE_LANG:-ja_JP.UTF-8} LC_ALL=${SORVANE_WINE_LANG:-ja_JP.UTF-8}
# No menu entries on the build machine for the shortcuts the installer
# makes, and no offer to fetch Mono or Gecko while the prefix is made.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Not plain -all: that hides a missing DLL (the program exits 53, silently).
export WINEDEBUG=${WINEDEBUG:--all,err+module}

# Every Wine process of this prefix, then its server; nothing of a test
# outlives it.
end_prefix() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
}

case "$mode" in
  make)
    [ -d "$WINEPREFIX" ] && end_prefix
    rm -rf "$dir"
    mkdir -p "$HOME"
    wineboot -i </dev/null >/dev/null 2>&1
    # No window manager under Xvfb: unmanaged windows, or every hidden one
    # costs seconds.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1
    [ -d "$WINEPREFIX/drive_c/windows/system32" ] || { echo "fresh-prefix.sh: wineboot made no prefix in $WINEPREFIX" >&2; exit 1; }
    echo "fresh Wine prefix: $WINEPREFIX"
    ;;
  run)
    [ -d "$WINEPREFIX/drive_c" ] || { echo "fresh-prefix.sh: no prefix in $dir (its make step did not run)" >&2; exit 1; }
    trap end_prefix EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
    # The server and the desktop start detached from the test's output, or
    # CTest would wait for them to let go of its pipe.
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    . "$top/cmake/wine-gtest.bash"
    status=0
    wine_gtest "$@" </dev/null || status=$?
    exit "$status"
    ;;
  remove)
    if [ -d "$WINEPREFIX" ]; then end_prefix; fi
    rm -rf "$dir"
    ;;
  *)
    sed -n '7,9p' "$0" >&2
    exit 2
    ;;
esac
