#!/usr/bin/env bash
# Checks that every C++ source and header is formatted as the repository's .clang-format says
# (clang-format --dry-run -Werror). Prints each place that differs and fails when there is one;
# `clang-format -i FILE` mends a file. The formatting follows clang-format 14, Debian 12's.
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" > /dev/null; then
  echo "format: $clang_format is not installed (apt-get install clang-format)" >&2
  exit 1
fi
find src fuzz bench \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
  xargs -0 "$clang_format" --dry-run -Werror
echo "format: every source is formatted"
