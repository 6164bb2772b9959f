#!/usr/bin/env bash
# Builds everything and runs every test: the Linux build and its tests (a second time as an
# ordinary user), the same suite under AddressSanitizer and UndefinedBehaviorSanitizer, a short
# fuzzing round, then the Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
ctest --preset default
tools/test-unprivileged.sh
tools/test-sanitizers.sh
tools/fuzz.sh 20
tools/test-windows.sh
# Last, the release packages, built and tried out as installed.
tools/test-packages.sh
