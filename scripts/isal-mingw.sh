#!/usr/bin/env bash
# Builds Intel ISA-L for the Windows build, once per checkout:
#
#   scripts/isal-mingw.sh [FOLDER]     (default: build-win-deps beside the build folders)
#
# It takes Debian's source package of libisal, the version the machine's
# own Debian sources carry (the one libisal-dev is), through a deb-src
# list of those sources kept in FOLDER (the machine's apt configuration is
# not touched); checks the tarballs against the SHA-256 sums of the .dsc;
# unpacks it with Debian's patches; and builds the static library with
# MinGW-w64 and nasm. FOLDER/isal then holds include/ (isa-l.h and
# isa-l/*.h), lib/libisal.a and the licence, which CMake finds there. The
# library holds no time and no folder name: the same Debian packages give
# the same bytes in any FOLDER. When the library is already there, built
# the way this script builds it, nothing is done, and nothing is fetched:
# only the first run needs the network.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
deps=${1:-$top/build-win-deps}
mkdir -p "$deps"
deps=$(cd "$deps" && pwd)
prefix=$deps/isal
# How the library is built, as its VERSION file says: one built another way
# (before nasm was told to write no times) is built again, or the programs
# would differ from those of a checkout that has the new one.
recipe="built with MinGW-w64 and nasm --reproducible"
if [ -f "$prefix/lib/libisal.a" ] && [ -f "$prefix/include/isa-l.h" ] && [ -f "$prefix/VERSION" ] &&
  grep -qF "$recipe" "$prefix/VERSION"; then
  echo "ISA-L for MinGW: $(cat "$prefix/VERSION"), in $prefix"
  exit 0
fi

for tool in apt-get dpkg-source nasm make x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-ar sha256sum; do
  command -v "$tool" >/dev/null || { echo "isal-mingw.sh: missing $tool (scripts/setup.sh installs it)" >&2; exit 1; }
done

# A deb-src entry for each Debian entry of the machine's sources, in both
# formats apt knows (deb822 .sources files and one-line .list files).
apt_dir=$deps/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
: >"$apt_dir/sources.list"
found=0
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  # Paragraph by paragraph: only those whose URIs are Debian's.
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       /(^|\n)URIs:[^\n]*debian/ { sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); print }' "$f" \
    >"$apt_dir/sources.list.d/$(basename "$f")"
  [ -s "$apt_dir/sources.list.d/$(basename "$f")" ] && found=1
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  grep -E '^deb[[:space:]]' "$f" | grep -i 'debian' | sed -E 's/^deb[[:space:]]/deb-src /' >>"$apt_dir/sources.list" || true
done
[ -s "$apt_dir/sources.list" ] && found=1
if [ "$found" = 0 ]; then
  echo "isal-mingw.sh: no Debian entry in /etc/apt/sources.list*; nothing to take libisal's source from" >&2
  exit 1
fi
apt_options=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "Debug::NoLocking=1"
  -o "APT::Sandbox::User=$(id -un)"
)
echo "ISA-L for MinGW: fetching Debian's source package of libisal"
apt-get "${apt_options[@]}" -q update >"$apt_dir/update.log" 2>&1 || { cat "$apt_dir/update.log" >&2; exit 1; }

source_dir=$deps/source
rm -rf "$source_dir"
mkdir -p "$source_dir"
(cd "$source_dir" && apt-get "${apt_options[@]}" -q source --download-only libisal) >"$apt_dir/source.log" 2>&1 ||
  { cat "$apt_dir/source.log" >&2; exit 1; }
dsc=$(ls "$source_dir"/libisal_*.dsc)

# Every file the .dsc names must be there with the SHA-256 sum it gives.
sums=$(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' "$dsc")
[ -n "$sums" ] || { echo "isal-mingw.sh: no Checksums-Sha256 in $dsc" >&2; exit 1; }
(cd "$source_dir" && printf '%s\n' "$sums" | sha256sum --check --strict --quiet) ||
  { echo "isal-mingw.sh: the source package does not match the checksums of $(basename "$dsc")" >&2; exit 1; }
version=$(sed -n 's/^Version: //p' "$dsc")

tree=$source_dir/libisal
dpkg-source --no-check -x "$dsc" "$tree" >/dev/null
# nasm writes the time it ran into every object's header unless told not
# to: through this stand-in, found first on PATH, the library holds no
# time of its own and comes out the same on every machine.
wrappers=$deps/tools
mkdir -p "$wrappers"
printf '#!/bin/sh\nexec %s --reproducible "$@"\n' "$(command -v nasm)" >"$wrappers/nasm"
chmod +x "$wrappers/nasm"
echo "ISA-L for MinGW: building libisal $version"
PATH=$wrappers:$PATH make -C "$tree" -f Makefile.unx -j "$(nproc)" arch=mingw AS=nasm \
  CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar lib isa-l.h >"$deps/isal-build.log" 2>&1 ||
  { tail -n 30 "$deps/isal-build.log" >&2; exit 1; }

rm -rf "$prefix"
mkdir -p "$prefix/lib" "$prefix/include/isa-l"
cp "$tree/bin/isa-l.a" "$prefix/lib/libisal.a"
cp "$tree/isa-l.h" "$prefix/include/"
for h in crc.h crc64.h erasure_code.h gf_vect_mul.h igzip_lib.h mem_routines.h raid.h test.h types.h; do
  cp "$tree/include/$h" "$prefix/include/isa-l/"
done
cp "$tree/LICENSE" "$prefix/LICENSE"
echo "libisal $version (Debian source package, $recipe)" >"$prefix/VERSION"
rm -rf "$tree" "$apt_dir" "$wrappers"
echo "ISA-L for MinGW: $(cat "$prefix/VERSION"), in $prefix"
