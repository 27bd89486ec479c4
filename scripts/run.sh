#!/usr/bin/env bash
# Sets up the machine, builds, and starts the tool: the restore dialog under
# Wine when a display is available (or with a virtual one when xvfb-run is
# asked for with SORVANE_XVFB=1), otherwise the console front end's help.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target sorvane-cli
if [ -n "${DISPLAY:-}" ] || [ "${SORVANE_XVFB:-0}" = 1 ]; then
  cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-win -j "$(nproc)" --target Sorvane
  export WINEPREFIX=/tmp/sorvane-wine HOME=/tmp/sorvane-wine-home LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDEBUG=-all
  if [ -n "${DISPLAY:-}" ]; then
    exec wine build-win/app/Sorvane.exe "$@"
  else
    exec xvfb-run -a -s "-screen 0 1024x768x24" wine build-win/app/Sorvane.exe "$@"
  fi
fi
exec build/cli/sorvane-cli "${@:---help}"
