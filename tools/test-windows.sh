#!/usr/bin/env bash
# The Windows half of the tests: cross-builds prune.exe and the unit tests with mingw-w64 into
# build-win and runs the Windows build's ctest tests (the unit tests under Wine; windows_imports:
# every function that prune.exe imports is in the Windows its header names), then runs the native
# build's end-to-end suite against prune.exe, on a virtual display (Xvfb) on which the failure
# report's boxes appear and are closed again. Wine's prefix and its output (wine-logs/) stay in
# build-win. Run as root, it installs what is missing. Exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
. tools/wine.sh
tools/install-packages.sh g++-mingw-w64-x86-64-posix wine64 xvfb xdotool cmake ninja-build googletest
tools/build.sh --target e2e_tests
step "cross-building prune.exe in build-win"
cmake --preset windows > /dev/null
cmake --build --preset windows

use_wine "$PWD/build-win/wineprefix" "$PWD/build-win/wine-logs"
start_virtual_display
start_wine
keep_wine_desktop build-win/hold_open.exe "$PWD/build-win"
status=0
step "unit tests under Wine"
ctest --preset windows || status=1
step "end-to-end tests of prune.exe under Wine"
PRUNE_EXE=$PWD/build-win/prune.exe PRUNE_E2E_WINE=1 PRUNE_WINE=$wine \
  build/src/e2e/e2e_tests --gtest_brief=1 || status=1
[ $status -eq 0 ] || { step "Windows tests FAILED"; exit 1; }
step "Windows tests passed"
