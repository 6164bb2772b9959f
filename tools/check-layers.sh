#!/usr/bin/env bash
# Checks that the source folders import one way only: base → files → report → run. A file may
# include the headers of its own folder and of the folders below it; tests may also include the
# test support (src/testing), which nothing else includes; the end-to-end tests (src/e2e) may
# include all of these, and nothing includes them. Prints every include that goes the wrong way
# and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case $1 in
    base) echo 0 ;;
    files) echo 1 ;;
    report) echo 2 ;;
    run) echo 3 ;;
    testing) echo 4 ;;
    e2e) echo 5 ;;
    *) echo 99 ;;
  esac
}

status=0
while IFS= read -r file; do
  layer=$(echo "$file" | cut -d/ -f2)
  allowed=$(rank "$layer")
  case $file in
    src/e2e/*) allowed=$(rank e2e) ;;
    *_test.cpp | src/testing/*) allowed=$(rank testing) ;;
  esac
  while IFS= read -r included; do
    if [ "$(rank "$included")" -gt "$allowed" ]; then
      echo "$file includes $included/, a layer above it" >&2
      status=1
    fi
  done < <(sed -n 's|^#include "\([a-z0-9_]*\)/.*|\1|p' "$file")
done < <(find src -name '*.cpp' -o -name '*.h' | sort)
[ $status -eq 0 ] && echo "layers: every include goes downward (base → files → report → run)"
exit $status
