#!/usr/bin/env bash
# Makes the throwaway Wine prefix the Windows tests run in: IPA P Gothic,
# drawn to the metrics of the Windows Japanese UI fonts, stands in for
# "MS UI Gothic" so labels fit their rectangles; windows are unmanaged (there is no window
# manager under Xvfb; managed hidden windows cost seconds each).
set -euo pipefail
export WINEPREFIX=${SORVANE_WINEPREFIX:-/tmp/sorvane-wine}
export HOME=${SORVANE_WINEHOME:-${WINEPREFIX}-home}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDEBUG=-all
mkdir -p "$HOME"
[ -f "$WINEPREFIX/.sorvane-ready-2" ] && exit 0
exec 9>"${WINEPREFIX}.lock"
flock 9
[ -f "$WINEPREFIX/.sorvane-ready-2" ] && exit 0
# A persistent server (the test wrapper starts one) would make the waits
# below endless; Wine's own processes must not inherit the lock either.
wineserver -k 9>&- </dev/null >/dev/null 2>&1 || true
wineboot -i 9>&- </dev/null >/dev/null 2>&1 || true
wineserver -w 9>&-
reg=$(mktemp --suffix=.reg)
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAPGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
wine regedit /S "$reg" 9>&- </dev/null >/dev/null 2>&1
wineserver -w 9>&-
rm -f "$reg"
touch "$WINEPREFIX/.sorvane-ready-2"
