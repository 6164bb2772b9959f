#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build and its tests, then the Windows build
# and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
(cd build && ctest --output-on-failure)
tools/test-windows.sh
