#!/usr/bin/env bash
# Builds prune and the benchmark (Release) and times prune on synthetic programs of 200,000,
# 2,000,000 and 10,000,000 lines in ANSI, UTF-8 (plain ASCII, and with German comments) and
# UTF-16 LE, beside `cat in > out` and `dd bs=1M conv=fsync` on the same file. Prints figures;
# asserts nothing. Takes a few minutes.
#   bench/run_bench.sh [--against REV] [--runs K] [--big-runs K] [LINES...]
# BUILD_DIR chooses the build folder. --against REV also builds prune as of the commit REV (say,
# main) in a folder of its own and times it in the same rounds, on a row labelled B beside this
# tree's A, so that before and after meet the same load on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
tools/install-packages.sh cmake g++ ninja-build
against=()
if [[ ${1:-} == --against ]]; then
  revision=$2
  shift 2
  other=$(mktemp -d)
  trap 'rm -rf "$other"' EXIT
  git archive "$revision" | tar -x -C "$other"
  cmake -S "$other" -B "$other/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRUNE_TESTS=OFF \
    >/dev/null
  cmake --build "$other/build" --target prune >/dev/null
  against=(--compare "$other/build/prune")
fi
cmake --preset bench -B "$build" >/dev/null
cmake --build "$build" --target run_bench >/dev/null
"$build/bench/run_bench" "${against[@]}" "$@"
