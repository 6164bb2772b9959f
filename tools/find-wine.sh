# Sourced by the scripts that run Windows programs under Wine: find_wine prints the path of
# wine64, which Debian keeps off PATH.
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
