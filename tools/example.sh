#!/usr/bin/env bash
# Builds prune, runs it on a copy of a shipped example program and shows what it removed.
set -euo pipefail
cd "$(dirname "$0")/.."
example=${1:-examples/rohr_rotary.nc}
tools/build.sh --target prune >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$example" "$work/"
copy="$work/$(basename "$example")"
status=0
build/prune "$copy" || status=$?
echo "prune exited with status $status; lines before: $(wc -l <"$example"), after: $(wc -l <"$copy")"
diff -u --label "$example" --label "$example (pruned)" "$example" "$copy" || true
