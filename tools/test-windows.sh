#!/usr/bin/env bash
# The Windows half of the tests. Cross-builds prune.exe and the unit tests with mingw-w64, runs
# the unit tests under Wine, then runs the end-to-end suite of the native build against prune.exe
# under Wine, with a virtual display (Xvfb) on which the failure report's boxes appear and are
# closed again.
#
#   tools/test-windows.sh [E2E_TESTS]
#
# E2E_TESTS is the native build's e2e_tests binary (build/src/run/e2e/e2e_tests by default; when
# it is not there, tools/build.sh builds it). PRUNE_WIN_BUILD names the Windows build folder
# (build-win). Missing tools are installed with apt-get when run as root. Wine's prefix lives
# inside the build folder; Wine's own output goes to files in it (wine-logs/).
# Exits non-zero when a test fails.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${PRUNE_WIN_BUILD:-$root/build-win}
e2e_tests=${1:-$root/build/src/run/e2e/e2e_tests}
logs=$build/wine-logs

step() { echo "== $*"; }

. "$root/tools/wine.sh"

"$root/tools/install-packages.sh" g++-mingw-w64-x86-64-posix wine64 xvfb xdotool cmake ninja-build \
  googletest
wine=$(find_wine)
wine_folder=$(dirname "$wine")
wineserver=$wine_folder/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
export PATH=$wine_folder:$PATH

step "cross-building prune.exe in $build"
(cd "$root" && cmake --preset windows -B "$build" > /dev/null)
cmake --build "$build"

if [ ! -x "$e2e_tests" ]; then
  step "building the end-to-end tests natively"
  "$root/tools/build.sh" --target e2e_tests
  e2e_tests=$root/build/src/run/e2e/e2e_tests
fi

mkdir -p "$logs"
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# Wine asks for its .NET and HTML engines when it makes a prefix; the program needs neither.
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY

xvfb_pid=
keeper_marker=$build/wine-keeper.marker
cleanup() {
  rm -f "$keeper_marker"
  "$wineserver" -k > /dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null || true
}
trap cleanup EXIT

step "starting Xvfb"
display_file=$logs/display
rm -f "$display_file"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$display_file" \
  > "$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(tr -d '[:space:]' < "$display_file")

# The prefix is made with the virtual display set: the desktop that wineboot starts lives on with
# the services it starts, and a desktop without a display could show no box.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  step "making the Wine prefix $WINEPREFIX"
  make_wine_prefix "$wine" "$logs/wineboot.log"
fi
# One Wine server for the whole suite, so that each run starts quickly.
"$wineserver" -p > "$logs/wineserver.log" 2>&1 || true  # 2 when one runs already

# Wine's desktop takes the display of the process that starts it, and goes away a few seconds
# after the last Wine program ended. One Wine program that lives through the whole suite keeps it
# on the virtual display, also while tests run the program without a display.
keeper_file=$build/wine-keeper
: > "$keeper_file"
rm -f "$keeper_marker"
"$wine" "$build/hold_open.exe" "Z:${keeper_file//\//\\}" "Z:${keeper_marker//\//\\}" 86400 \
  < /dev/null > "$logs/keeper.log" 2>&1 &
for _ in $(seq 300); do
  [ -e "$keeper_marker" ] && break
  sleep 0.1
done
[ -e "$keeper_marker" ] || { echo "Wine did not start" >&2; exit 1; }

status=0
step "unit tests under Wine"
ctest --test-dir "$build" --output-on-failure || status=1

step "end-to-end tests of prune.exe under Wine"
PRUNE_EXE=$build/prune.exe PRUNE_E2E_WINE=1 PRUNE_WINE=$wine "$e2e_tests" --gtest_brief=1 \
  || status=1

if [ $status -eq 0 ]; then
  step "Windows tests passed"
else
  step "Windows tests FAILED"
fi
exit $status
