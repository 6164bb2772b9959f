#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan and runs
# the whole Linux test suite there, unit and end-to-end tests alike; the end-to-end tests run the
# sanitized prune. Any report of either sanitizer fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake g++ ninja-build googletest libgtest-dev clang-format

cmake --preset sanitizers >/dev/null
cmake --build --preset sanitizers

# The test preset sets the sanitizers' options: a report ends the process with status 86, which
# no test expects (prune itself ends with 0, 1 or 217), and writes to standard error, which the
# end-to-end tests require to stay empty. Leaks are looked for too. prune itself ends through
# _exit, which skips LeakSanitizer's check at the exit (its line list and settings reader live
# until the process ends, on purpose); the same code runs inside the test binaries, which end
# normally and are checked. The few tests that look at what AddressSanitizer itself replaces skip
# themselves here, saying why; they run in the ordinary build.
ctest --preset sanitizers "$@"
