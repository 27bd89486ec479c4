#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: native,
# native under AddressSanitizer/UBSan, the reader, restore and platform tests
# under ThreadSanitizer, and the Windows build under Wine (with a virtual
# display for the dialog tests).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "$top"
jobs=$(nproc)
status=0
echo "== native tests"
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
echo "== sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" || status=1
echo "== thread sanitizer tests"
# Only the reader, restore and platform tests are built there; the others
# show up as not built and are left out.
TSAN_OPTIONS=halt_on_error=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -E "_NOT_BUILT$" || status=1
echo "== Windows tests under Wine"
export SORVANE_WINEPREFIX=/tmp/sorvane-wine
xvfb-run -a -s "-screen 0 1024x768x24" \
  ctest --test-dir build-win --output-on-failure -j "$jobs" || status=1
if [ "$status" -eq 0 ]; then echo "all test suites passed"; else echo "some tests failed"; fi
exit "$status"
