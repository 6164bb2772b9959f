# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine: all of the Wine setup. Needs
# tools/lib.sh. use_wine comes first; it sets wine and wineserver, the paths of Wine's programs.

# find_wine: prints the path of wine64, which Debian keeps off PATH.
find_wine() {
  local candidate
  for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 \
    "$(command -v wine64 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return
    fi
  done
  echo "no wine64 found" >&2
  return 1
}

# use_wine PREFIX LOGS: Wine's programs, on PATH too, and the environment for the prefix PREFIX,
# without a display; Wine's own output goes to files in LOGS.
use_wine() {
  wine=$(find_wine)
  wineserver=$(dirname "$wine")/wineserver
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver)
  PATH=$(dirname "$wine"):$PATH
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  # Wine asks for its .NET and HTML engines when it makes a prefix; the programs need neither.
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  wine_logs=$2
  mkdir -p "$wine_logs"
}

# start_wine: makes the prefix unless it is there already, then starts one Wine server for the
# whole script, so that each program starts quickly; the server stops when the script ends.
start_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "making the Wine prefix $WINEPREFIX"
    make_wine_prefix
  fi
  "$wineserver" -p > "$wine_logs/wineserver.log" 2>&1 || true  # 2 when one runs already
  at_exit '"$wineserver" -k > /dev/null 2>&1'
}

# make_wine_prefix: makes the prefix. A first start of Wine on a machine now and then ends at once
# without a word; a second try, after the Wine server of the prefix is gone, makes the prefix.
make_wine_prefix() {
  local log=$wine_logs/wineboot.log
  "$wine" wineboot -i > "$log" 2>&1 && return
  echo "wineboot failed ($?), once more" >&2
  "$wineserver" -k > /dev/null 2>&1 || true
  sleep 1
  "$wine" wineboot -i >> "$log" 2>&1
}

# windows_path PATH: prints the host path as Wine's Z: drive shows it to a Windows program.
windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# start_virtual_display: starts Xvfb and sets DISPLAY to it, on which the programs' boxes appear;
# it stops when the script ends. Called before start_wine: the desktop that wineboot starts lives
# on with the services it starts, and a desktop without a display could show no box.
start_virtual_display() {
  local display_file=$wine_logs/display xvfb_pid
  rm -f "$display_file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$display_file" \
    > "$wine_logs/xvfb.log" 2>&1 &
  xvfb_pid=$!
  at_exit "kill $xvfb_pid 2> /dev/null"
  wait_for "Xvfb to start" 100 test -s "$display_file"
  DISPLAY=:$(tr -d '[:space:]' < "$display_file")
  export DISPLAY
}

# keep_wine_desktop HOLD_OPEN_EXE FOLDER: Wine's desktop takes the display of the process that
# starts it, and goes away a few seconds after the last Wine program ended. One Wine program that
# lives until the script ends (HOLD_OPEN_EXE, holding a file in FOLDER) keeps it on the virtual
# display, also while tests run programs without a display.
keep_wine_desktop() {
  local keeper=$2/wine-keeper marker=$2/wine-keeper.marker
  : > "$keeper"
  rm -f "$marker"
  "$wine" "$1" "$(windows_path "$keeper")" "$(windows_path "$marker")" 86400 < /dev/null \
    > "$wine_logs/keeper.log" 2>&1 &
  # The keeper ends once its marker is gone.
  at_exit "rm -f '$marker'"
  wait_for "Wine to start" 300 test -e "$marker"
}

# wait_for WHAT TENTHS COMMAND...: waits up to TENTHS tenths of a second until COMMAND succeeds;
# fails, saying that WHAT did not happen, when it does not.
wait_for() {
  local what=$1 tenths=$2
  shift 2
  for _ in $(seq "$tenths"); do
    "$@" && return
    sleep 0.1
  done
  "$@" || { echo "waited in vain for $what" >&2; return 1; }
}
