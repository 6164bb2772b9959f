# Sourced by the scripts that run Windows programs under Wine.

# Prints the path of wine64, which Debian keeps off PATH.
find_wine() {
  local candidate
  for candidate in /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 \
    "$(command -v wine64 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
      echo "$candidate"
      return
    fi
  done
}

# make_wine_prefix WINE LOG: makes the prefix that $WINEPREFIX names, Wine's output going to LOG.
# A first start of Wine on a machine now and then ends at once without a word; a second try,
# after the Wine server of the prefix is gone, makes the prefix.
make_wine_prefix() {
  local wine=$1 log=$2
  "$wine" wineboot -i > "$log" 2>&1 && return
  echo "wineboot failed ($?), once more" >&2
  "$(dirname "$wine")/wineserver" -k > /dev/null 2>&1 || true
  sleep 1
  "$wine" wineboot -i >> "$log" 2>&1
}
