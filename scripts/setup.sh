#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian machine, makes
# the ja_JP.UTF-8 locale, builds Intel ISA-L for the Windows build (once per
# checkout, scripts/isal-mingw.sh) and prepares the checkout's Wine prefix
# (in a wine session of its own, which ends before this script does). Safe
# to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev googletest libgtest-dev
  # Intel ISA-L's inflate: natively Debian's library; for Windows built from
  # Debian's source package (dpkg-source unpacks it, nasm assembles it).
  libisal-dev nasm dpkg-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
  wine wine64 xvfb xauth xdotool x11-utils fonts-noto-cjk fonts-ipafont-gothic locales imagemagick
  # Wine's own fonts, which --no-install-recommends leaves out: Marlett
  # draws the caption's buttons (without it the close box is a letter "r").
  fonts-wine
  zip unzip libarchive-tools p7zip-full time python3-minimal
  # makensis, which builds the Windows set-up program
  nsis
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi

"$here/isal-mingw.sh"
"$here/prepare-wine.sh"
