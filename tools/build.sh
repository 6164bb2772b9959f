#!/usr/bin/env bash
# Builds the Linux targets (Release) into build/: prune, the tests and the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake g++ ninja-build googletest libgtest-dev clang-format
cmake --preset default >/dev/null
cmake --build --preset default "$@"
