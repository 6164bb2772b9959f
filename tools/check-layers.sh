#!/usr/bin/env bash
# Checks that the source folders import one way only. A file may include the headers of its own
# folder and of the folders it builds on:
#
#   base               text, failures, messages, paths, the executable's and a module's path
#   files              reading a file whole or in pieces, the seam of system calls, the failures
#   encoding           the file encodings: byte-order marks, code pages, Windows-1252
#   report             the failure report: its text, the box, the outermost handler
#   save               the save: the content it writes, its two ways and the choice between them
#   settings           the settings file: the INI reader and the lookup (reads through files)
#   program            the NC program in memory, the line scan, the pruning rule and pass
#   run                the entry, the command line, the existence test, the run sequence
#
# files and report stand side by side on base; encoding on base and files (on Windows the code
# page asks the system through the seam); save on files; settings on encoding and files; program
# on encoding, files and save; run on all of them.
#
# Tests may also include the test support (src/testing), which nothing else includes; the
# end-to-end tests (src/e2e) run the executable and may include what they like. Prints every
# include that goes the wrong way and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

# The folders that a file of folder $1 may include.
allowed() {
  case $1 in
    base) echo "base" ;;
    encoding) echo "base encoding files" ;;
    files) echo "base files" ;;
    report) echo "base report" ;;
    save) echo "base files save" ;;
    settings) echo "base encoding files settings" ;;
    program) echo "base encoding files save program" ;;
    run) echo "base encoding files report save settings program run" ;;
    testing) echo "base encoding files save program testing" ;;
    e2e) echo "base encoding files report save settings program run testing e2e" ;;
    *) echo "" ;;
  esac
}

status=0
while IFS= read -r file; do
  folder=$(echo "$file" | cut -d/ -f2)
  may=$(allowed "$folder")
  case $file in *_test.cpp) may="$may testing" ;; esac
  while IFS= read -r included; do
    if ! grep -qw "$included" <<< "$may"; then
      echo "$file includes $included/, which $folder/ does not build on" >&2
      status=1
    fi
  done < <(sed -n 's|^#include "\([a-z_0-9]*\)/.*|\1|p' "$file")
done < <(find src -name '*.cpp' -o -name '*.h' | sort)
[ $status -eq 0 ] && echo "layers: every include goes one way (base → files, report; files → encoding, save; encoding, files → settings; encoding, save → program; all → run)"
exit $status
