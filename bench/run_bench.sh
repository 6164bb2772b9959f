#!/usr/bin/env bash
# Builds prune and the benchmark (Release) and times prune on synthetic programs of 200,000,
# 2,000,000 and 10,000,000 lines in ANSI, UTF-8 (plain ASCII, and with German comments) and
# UTF-16 LE, beside `cat in > out` and `dd bs=1M conv=fsync` on the same file. Prints figures;
# asserts nothing. Takes a few minutes.
#   bench/run_bench.sh [--runs K] [--big-runs K] [LINES...]   (BUILD_DIR chooses the build folder)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
tools/install-packages.sh cmake g++ ninja-build
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" --target run_bench >/dev/null
"$build/bench/run_bench" "$@"
