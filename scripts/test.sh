#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: native,
# native under AddressSanitizer/UBSan, the reader, restore and platform tests
# under ThreadSanitizer, the portable tests again on a native build that
# inflates with zlib instead of ISA-L, and the Windows build under Wine, in a wine session
# of its own (scripts/wine-session.sh: its own server and virtual display,
# whatever an earlier run left on the prefix ended first, nothing left
# running afterwards); the Windows packages are installed and uninstalled
# there in a Wine prefix made for the run. Last, the Windows packages are
# built once more from a second checkout, elsewhere, and must come out
# byte for byte the same (tests/installer/rebuild-elsewhere.sh).
#
# Each suite names the test programs it expects; one that has no tests (not
# built, or its tests could not be listed) fails the run, and so does a
# CTest call that finds no test. The run ends with what each suite ran:
# passed, failed and skipped, the skipped tests by name.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
cd "$top"
jobs=$(nproc)

portable=(platform_tests sorvane_zip_tests restore_tests ui_backup_name_test ui_run_figures_test ui_run_report_test
  app_version_files_test app_info_command_test sorvane_startup_logic_tests cli_tests)
# Where threads meet; scripts/build.sh builds only these there.
threaded=(sorvane_zip_tests restore_tests platform_tests)
windows_only=(sorvane_winui_tests sorvane_startup_tests app_imports_test installer_package_test installer_tests)

summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
export SORVANE_SUMMARY=$summary
suites="$top/scripts/ctest-suites.sh"
status=0

echo "== native tests"
"$suites" native build "${portable[@]}" -- -j "$jobs" || status=1

echo "== sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$suites" sanitizers build-asan "${portable[@]}" -- -j "$jobs" || status=1

echo "== thread sanitizer tests"
TSAN_OPTIONS=halt_on_error=1 \
  "$suites" "thread sanitizer" build-tsan "${threaded[@]}" -- -j "$jobs" || status=1

echo "== native tests, inflating with zlib"
"$suites" "native, zlib inflate" build-zlib "${portable[@]}" -- -j "$jobs" || status=1

echo "== Windows tests under Wine"
"$top/scripts/wine-session.sh" "$suites" Windows build-win "${portable[@]}" "${windows_only[@]}" -- -j "$jobs" ||
  status=1

echo "== Windows packages, built again from a second checkout"
"$top/tests/installer/rebuild-elsewhere.sh" build-win || status=1

echo
echo "== what ran"
cat "$summary"
totals=$(awk '/^[^ ].*: [0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$/ {
  n = split($0, w, " "); p += w[n-5]; f += w[n-3]; s += w[n-1] }
  END { printf "%d passed, %d failed, %d skipped", p, f, s }' "$summary")
if [ "$status" -eq 0 ]; then echo "all test suites passed"; else echo "some tests failed"; fi
echo "summary: $totals"
exit "$status"
