#!/usr/bin/env bash
# Runs a command with a Wine server and an X display that belong to it:
#
#   scripts/wine-session.sh [--display] COMMAND [ARGUMENTS...]
#
# A Wine server outlives the program that started it, and the desktop it
# serves stays bound to the display it first saw: a server left by an
# earlier run, or by someone else's command on the same prefix, makes dialog
# tests hang or fail once that display is gone. So a session
#   - uses the checkout's own prefix (SORVANE_WINEPREFIX overrides it), so
#     that two checkouts never share a server, and one session at a time;
#   - ends whatever still runs on the prefix before it starts;
#   - starts a virtual display of its own (with --display: the caller's
#     $DISPLAY), makes the prefix ready and starts the server, the desktop
#     and the services before COMMAND, so that nothing Wine does once per
#     prefix or per server falls into a test's time;
#   - when COMMAND ends, however it ends (a failure, a time-out, Ctrl-C, a
#     TERM), ends every Wine process on the prefix, the server, then the
#     display, and waits for them.
# The exit status is COMMAND's. Inside a session on the same prefix the
# command simply runs in it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)

use_caller_display=0
if [ "${1:-}" = --display ]; then
  use_caller_display=1
  shift
fi
if [ $# -eq 0 ]; then
  sed -n '2,4p' "$0" >&2
  exit 2
fi

# The prefix is named after the checkout's path: the same checkout finds its
# prepared prefix again, another checkout gets its own.
if [ -z "${SORVANE_WINEPREFIX:-}" ]; then
  SORVANE_WINEPREFIX=/tmp/sorvane-wine-$(printf '%s' "$top" | cksum | cut -d' ' -f1)
fi
export SORVANE_WINEPREFIX
export SORVANE_WINEHOME=${SORVANE_WINEHOME:-$SORVANE_WINEPREFIX-home}

if [ "${SORVANE_WINE_SESSION:-}" = "$SORVANE_WINEPREFIX" ]; then
  exec "$@"
fi

if [ "$use_caller_display" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "wine-session.sh: --display needs a DISPLAY" >&2
  exit 2
fi

# Wine's own commands, as the programs under test will see Wine: same
# prefix, home, locale and display. None of them may keep the lock (fd 9)
# or an output pipe of the caller open.
wine_cmd() {
  WINEPREFIX=$SORVANE_WINEPREFIX HOME=$SORVANE_WINEHOME LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all \
    "$@" </dev/null >/dev/null 2>&1 9>&-
}

mkdir -p "$SORVANE_WINEHOME"
exec 9>"$SORVANE_WINEPREFIX.session.lock"
if ! flock -n 9; then
  echo "wine-session.sh: another session uses $SORVANE_WINEPREFIX; waiting for it to end" >&2
  flock 9
fi

xvfb_pid=""
command_pid=""
scratch=$(mktemp -d)

finish() {
  local status=$?
  trap - EXIT INT TERM HUP
  if [ -n "$command_pid" ] && kill -0 "$command_pid" 2>/dev/null; then
    kill -TERM "$command_pid" 2>/dev/null || true
    wait "$command_pid" 2>/dev/null || true
  fi
  # -k kills every process of the prefix and then the server; -w returns
  # once the server is gone, so nothing of this run outlives it.
  wine_cmd wineserver -k || true
  wine_cmd wineserver -w || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Whatever is left on this prefix (a server kept alive by an earlier run,
# a desktop bound to a display that is gone) goes first.
wine_cmd wineserver -k || true
wine_cmd wineserver -w || true

if [ "$use_caller_display" = 0 ]; then
  # Xvfb picks a free display itself (-displayfd) and writes its number once
  # it accepts connections; only holders of the cookie may connect.
  export XAUTHORITY="$scratch/Xauthority"
  cookie=$(mcookie)
  : >"$XAUTHORITY"
  xauth -q -f "$XAUTHORITY" add :0 . "$cookie"
  Xvfb -displayfd 8 -auth "$XAUTHORITY" -screen 0 1024x768x24 -nolisten tcp \
    8>"$scratch/display" 9>&- </dev/null >"$scratch/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$scratch/display" ]; then
    echo "wine-session.sh: the virtual display did not start:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(tr -d '[:space:]' <"$scratch/display")"
  xauth -q -f "$XAUTHORITY" add "$DISPLAY" . "$cookie"
fi

export SORVANE_WINE_SESSION=$SORVANE_WINEPREFIX
"$here/prepare-wine.sh"

# The server lives as long as the session (its end is in finish), detached
# from the caller's output so that no test waits for a pipe it holds. The
# first program brings up the services and the desktop on this display.
wine_cmd wineserver -p
wine_cmd wine cmd /c exit

"$@" 9>&- &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=""
exit "$status"
