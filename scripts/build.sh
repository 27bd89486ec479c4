#!/usr/bin/env bash
# Builds the four configurations: native, native with sanitizers, native
# with ThreadSanitizer (only the reader, restore and platform tests, which
# are where threads meet; scripts/test.sh expects exactly these), Windows,
# with its packages (the set-up program and the portable zip, in
# build-win/package/).
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
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j "$jobs"
cmake --build build-win -j "$jobs" --target installer
