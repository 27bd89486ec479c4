#!/usr/bin/env bash
# Builds the five configurations: native, native with sanitizers, native
# with ThreadSanitizer (only the reader, restore and platform tests, which
# are where threads meet), native inflating with zlib instead of ISA-L (the
# portable test programs and sorvane-cli), Windows with its packages (the
# set-up program and the portable zip, in build-win/package/).
# scripts/test.sh expects exactly these test programs in each.
# Nothing here runs Wine: the Windows test programs list their tests when
# CTest starts, inside the wine session that scripts/test.sh opens.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSORVANE_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVANE_TSAN=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target sorvane_zip_tests restore_tests platform_tests
# Every test of the portable programs holds on both decoders; this build's
# sorvane-cli is also the benchmark's zlib side (bench/run.sh --before-cli).
cmake -S . -B build-zlib -DCMAKE_BUILD_TYPE=Release -DSORVANE_ISAL=OFF >/dev/null
cmake --build build-zlib -j "$jobs" --target platform_tests sorvane_zip_tests restore_tests ui_backup_name_test \
  ui_run_figures_test ui_run_report_test app_version_files_test app_info_command_test sorvane_startup_logic_tests cli_tests sorvane-cli
# ISA-L for MinGW comes from scripts/isal-mingw.sh (run by scripts/setup.sh).
"$top/scripts/isal-mingw.sh" >/dev/null
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DISAL_ROOT="$top/build-win-deps/isal" >/dev/null
cmake --build build-win -j "$jobs"
cmake --build build-win -j "$jobs" --target installer
