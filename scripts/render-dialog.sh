#!/usr/bin/env bash
# Renders the restore dialog as the user sees it and writes docs/dialog.png:
# Sorvane.exe runs under Wine on a virtual display, with the Japanese font
# that the Wine prefix puts in place of "MS UI Gothic".
#   scripts/render-dialog.sh [path/to/Sorvane.exe] [output.png]
# The other pictures come from the same dialog and template in
# sorvane_render_running.exe, started with a backup selected and every
# question answered Yes:
#   --running   in the middle of a run: bar, status line with the time left,
#               the entry being restored, "中止" (docs/dialog-running.png);
#   --finished  after a real restore that succeeded (docs/dialog-finished.png);
#   --failed    after a real restore that failed on a damaged entry, with the
#               entry, the reason and "残りを復元" (docs/dialog-failed.png);
#   --backups   a backup chosen in a folder of backups of three items, with
#               the list of that folder's backups (docs/dialog-backups.png);
#   --decision  a restore into a folder holding older, newer and identical
#               files: the question what to do with them (the question's
#               window only, docs/dialog-decision.png);
#   --decided   the same answered "keep newer": the dialog after the run,
#               with the outcome's counts (docs/dialog-decided.png);
#   --tree      a backup chosen, its tree of entries opened and one photo
#               unchecked (docs/dialog-tree.png);
#   --rest      after "残りを復元" on a backup with three damaged entries: the
#               count and the list of what was not restored (docs/dialog-rest.png).
#   scripts/render-dialog.sh --running|--finished|--failed|--backups|--decision|--decided|--tree|--rest [path/to/sorvane_render_running.exe] [output.png]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=""
settle=1.5  # let the controls paint
window="^Sorvane"  # the title of the window taken
case "${1:-}" in
  --running | --finished | --failed | --backups | --decision | --decided | --tree | --rest)
    mode=$1
    shift
    exe=${1:-$top/build-win/tests/winui/sorvane_render_running.exe}
    out=${2:-$top/docs/dialog-${mode#--}.png}
    # A run shows its time left once it has gone steadily for 3 s; a real
    # run ends within a second or two.
    settle=6
    [ "$mode" = --backups ] && settle=2
    [ "$mode" = --tree ] && settle=3
    [ "$mode" = --decision ] && { settle=3; window="^復元先にあるファイル"; }
    ;;
  *)
    exe=${1:-$top/build-win/app/Sorvane.exe}
    out=${2:-$top/docs/dialog.png}
    ;;
esac
[ -f "$exe" ] || { echo "no program at $exe (build the Windows configuration first)" >&2; exit 1; }

# The program keeps profile.ini beside itself: run a copy in a scratch folder.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$exe" "$work/Sorvane.exe"
mkdir -p "$(dirname "$out")"

# A wine session gives the program a server and a virtual display of its
# own and ends both afterwards.
export SORVANE_RENDER_EXE="$work/Sorvane.exe" SORVANE_RENDER_OUT="$out" SORVANE_WINE_RUN="$top/cmake/wine-run.sh"
export SORVANE_RENDER_MODE="$mode" SORVANE_RENDER_SETTLE="$settle" SORVANE_RENDER_WINDOW="$window"
"$top/scripts/wine-session.sh" bash -c '
  set -u
  "$SORVANE_WINE_RUN" "$SORVANE_RENDER_EXE" $SORVANE_RENDER_MODE </dev/null >/dev/null 2>&1 &
  pid=$!
  id=""
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$SORVANE_RENDER_WINDOW" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  status=1
  if [ -n "$id" ]; then
    sleep "$SORVANE_RENDER_SETTLE"
    eval "$(xdotool getwindowgeometry --shell "$id")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SORVANE_RENDER_OUT" && status=0
  else
    echo "the dialog did not appear" >&2
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  exit $status
'
echo "wrote $out"
