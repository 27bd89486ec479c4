#!/usr/bin/env bash
# The Windows packages depend on the sources only: built again from another
# checkout they come out byte for byte the same, which is what lets anyone
# check a release's SHA-256 by rebuilding it.
#
#   tests/installer/rebuild-elsewhere.sh [BUILD_DIR]     (default: build-win)
#
# BUILD_DIR is this checkout's Windows build with its packages made (target
# "installer", as scripts/build.sh leaves it). The sources are cloned into a
# folder of another name (with the working tree's changes, so both builds
# see the same files), and only the packages are built there again: later,
# in another build folder, another time zone, another umask and another
# locale. ISA-L is the first build's, copied into the second checkout's
# build-win-deps: scripts/isal-mingw.sh makes the same library in any
# folder at any time (its bytes hold neither), so a second build of it
# would only cost a download. Then the set-up program, the
# portable zip, SHA256SUMS and both programs must equal the first build's,
# one check each: the run ends with "TITLE: N passed, N failed, 0 skipped",
# also appended to SORVANE_SUMMARY when that is set (scripts/test.sh).
# SORVANE_KEEP_REBUILD=1 keeps the second checkout, to look at a difference.
set -euo pipefail
title="Windows packages rebuilt elsewhere"
top=$(cd "$(dirname "$0")/../.." && pwd)
first=${1:-$top/build-win}

say() {
  echo "$@"
  if [ -n "${SORVANE_SUMMARY:-}" ]; then echo "$@" >>"$SORVANE_SUMMARY"; fi
}
# Whatever ends the run, the summary gets a line for it.
reported=0
fail_early() {
  reported=1
  say "$title: FAILED before comparing: $*"
  exit 1
}
work=""
finish() {
  status=$?
  if [ "$reported" = 0 ]; then say "$title: FAILED: ended with status $status before its result"; fi
  if [ -n "$work" ]; then
    if [ "${SORVANE_KEEP_REBUILD:-}" = 1 ]; then echo "second checkout kept in $work"; else rm -rf "$work"; fi
  fi
}
trap finish EXIT

[ -f "$first/CMakeCache.txt" ] || fail_early "no build in $first"
first=$(cd "$first" && pwd)
[ -f "$first/package/SHA256SUMS" ] || fail_early "no packages in $first/package (target installer)"
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$first/CMakeCache.txt"; }
build_type=$(cache_value CMAKE_BUILD_TYPE)
isal_library=$(cache_value ISAL_LIBRARY)
[ -f "$isal_library" ] || fail_early "the first build's ISA-L library ($isal_library) is gone"
isal_root=$(cd "$(dirname "$isal_library")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvane-rebuild.XXXXXX")
clone=$work/second-checkout-of-sorvane
build_name=out-windows

# Something else than the first build had, whatever that was.
if [ "$(date +%z)" = +0900 ]; then zone=SRV+3:30; else zone=SRV-9; fi
if [ "$(umask)" = 0077 ]; then mask=0022; else mask=0077; fi
if [ "${LC_ALL:-${LANG:-}}" = C ]; then lang=C.UTF-8; else lang=C; fi

# The same commit, checked out anew under that umask (every file with a
# new time), and the working tree's changes on top: tracked files as a
# patch, new files copied.
umask "$mask"
head=$(git -C "$top" rev-parse HEAD)
git clone --quiet --no-checkout "$top" "$clone"
git -C "$clone" fetch --quiet "$top" HEAD
git -C "$clone" checkout --quiet --detach FETCH_HEAD
[ "$(git -C "$clone" rev-parse HEAD)" = "$head" ] || fail_early "the clone is not at $head"
if ! git -C "$top" diff --quiet HEAD; then
  echo "the working tree has changes: the second checkout gets them too"
  git -C "$top" diff --binary HEAD | git -C "$clone" apply --binary
fi
(cd "$top" && git ls-files -z --others --exclude-standard) | tar -C "$top" --null -T - -cf - | tar -C "$clone" -xf -
mkdir -p "$clone/build-win-deps"
cp -R "$isal_root" "$clone/build-win-deps/isal"

echo "second build: $clone/$build_name, TZ=$zone (now $(TZ=$zone date '+%H:%M:%S %z')), umask $mask, LC_ALL=$lang"
log=$work/build.log
started=$(date +%s)
if ! (
  export TZ=$zone LC_ALL=$lang
  cmake -S "$clone" -B "$clone/$build_name" -DCMAKE_TOOLCHAIN_FILE="$clone/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE="$build_type" -DSORVANE_TESTS=OFF
  cmake --build "$clone/$build_name" -j "$(nproc)" --target installer
) >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  fail_early "the second build failed"
fi
echo "second build took $(($(date +%s) - started)) s"
second=$clone/$build_name

# Every file of both package folders, then the programs they hold.
files=()
while IFS= read -r name; do files+=("package/$name"); done < <(
  { ls "$first/package"; ls "$second/package"; } | LC_ALL=C sort -u)
files+=(app/Sorvane.exe cli/sorvane-cli.exe)

sha() { if [ -f "$1" ]; then sha256sum "$1" | cut -d' ' -f1; else echo "(missing)"; fi; }
passed=0
failed=0
for f in "${files[@]}"; do
  a=$first/$f
  b=$second/$f
  if [ -f "$a" ] && [ -f "$b" ] && cmp -s "$a" "$b"; then
    passed=$((passed + 1))
    echo "same       $(sha "$a")  $f"
    continue
  fi
  failed=$((failed + 1))
  echo "DIFFERENT  $f"
  echo "  first:  $(sha "$a")  $a"
  echo "  second: $(sha "$b")  $b"
  if [ -f "$a" ] && [ -f "$b" ]; then
    echo "  sizes $(stat -c %s "$a") and $(stat -c %s "$b"), $(cmp -l "$a" "$b" 2>/dev/null | wc -l) bytes differ; the first (offset, octal bytes):"
    cmp -l "$a" "$b" 2>/dev/null | head -n 8 | sed 's/^/    /' || true
    case $f in
      *.exe)
        diff <(x86_64-w64-mingw32-objdump -p "$a" 2>&1 | tail -n +3) <(x86_64-w64-mingw32-objdump -p "$b" 2>&1 | tail -n +3) |
          head -n 20 | sed 's/^/    /' || true
        ;;
      *.zip)
        diff <(zipinfo -v "$a" 2>&1 | tail -n +2) <(zipinfo -v "$b" 2>&1 | tail -n +2) | head -n 20 | sed 's/^/    /' || true
        ;;
    esac
  fi
done
reported=1
say "$title: $passed passed, $failed failed, 0 skipped"
[ "$failed" -eq 0 ]
