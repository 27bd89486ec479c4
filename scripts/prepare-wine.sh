#!/usr/bin/env bash
# Makes the throwaway Wine prefix the Windows tests and the dialog run in:
# IPA P Gothic, drawn to the metrics of the Windows Japanese UI fonts, stands
# in for "MS UI Gothic" so labels fit their rectangles; the other Japanese UI
# fonts of Windows get stand-ins of their own build (Meiryo's tall lines:
# Noto Sans CJK JP; Yu Gothic UI: IPA Gothic), so that the labels can be
# measured in each of them; windows are unmanaged
# (there is no window manager under Xvfb; managed hidden windows cost
# seconds each). Everything Wine does once per prefix happens here, on the
# session's display, before any program under test starts: creating the
# prefix, its first desktop, the font cache.
#
# It runs inside a wine session (scripts/wine-session.sh), which owns the
# prefix meanwhile; called on its own, it starts one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${SORVANE_WINE_SESSION:-}" ] || [ "$SORVANE_WINE_SESSION" != "${SORVANE_WINEPREFIX:-}" ]; then
  exec "$here/wine-session.sh" true
fi
export WINEPREFIX=$SORVANE_WINEPREFIX
export HOME=$SORVANE_WINEHOME
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDEBUG=-all
ready="$WINEPREFIX/.sorvane-ready-5"
[ -f "$ready" ] && exit 0

echo "preparing the Wine prefix $WINEPREFIX (once per checkout)" >&2
# Wine's programs run detached from the caller's output and its lock.
quiet() { "$@" </dev/null >/dev/null 2>&1 9>&-; }
quiet wineboot -i || true
quiet wineserver -w
# This Wine finds TrueType fonts in the prefix's Fonts folder, not where
# Debian's fonts-wine puts Wine's own: Marlett there draws the caption's
# buttons (without it the close box is a letter "r").
marlett=/usr/share/wine/fonts/marlett.ttf
if [ ! -f "$marlett" ]; then
  echo "prepare-wine.sh: $marlett is missing (fonts-wine; scripts/setup.sh installs it)" >&2
  exit 1
fi
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"
reg="$WINEPREFIX-settings.reg"
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAPGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"
"Meiryo"="Noto Sans CJK JP"
"Yu Gothic UI"="IPAGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
quiet wine regedit /S "$reg"
quiet wineserver -w
rm -f "$reg"
touch "$ready"
