# shellcheck shell=bash
# Sourced by tools/test-packages.sh: what the checks of every package share. Every run of prune
# goes on a copy of the example program, whose result must come out as the expected file, byte
# for byte.

failures=0
# check DESCRIPTION COMMAND...: runs the command, counts a failure when it fails.
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what" >&2
    failures=$((failures + 1))
  fi
}
equal() { [ "$1" = "$2" ] || { echo "  got: '$1'"; echo "  expected: '$2'"; return 1; }; }
same_bytes() { cmp -s "$1" "$2" || { echo "  $1 differs from $2"; return 1; }; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ] || { echo "  $1 is still there"; return 1; }; }

# new_job FOLDER: a fresh folder holding a copy of the example as "Teil 1.nc"; prints its path.
new_job() {
  mkdir -p "$1"
  cp "$example" "$1/Teil 1.nc"
  echo "$1/Teil 1.nc"
}
# pruned_in_place JOB STATUS: the run ended with 0 and left the pruned program, and nothing else.
pruned_in_place() {
  equal "$2" 0 && same_bytes "$1" "$expected" && equal "$(ls "$(dirname "$1")")" "Teil 1.nc"
}
# pruned_to_tap JOB STATUS: test output: the result beside the program, which stays as it was.
pruned_to_tap() {
  equal "$2" 0 && same_bytes "${1%.nc}.tap" "$expected" && same_bytes "$1" "$example"
}
switch_on_test_output() { sed -i 's/^test=0/test=1/' "$1"; }

# The contents of a package as `tar -tv` lists them: mode, path, and a link's target.
listing() { awk '{ sub(/^\.\//, "", $6); print $1, $6, $7, $8 }' | sort; }

# run_under_wine EXE JOB: runs the Windows program EXE (a Windows path) on JOB; prints the status.
run_under_wine() {
  local status=0
  "$wine" "$1" "$(windows_path "$2")" < /dev/null > "$logs/run.log" 2>&1 || status=$?
  echo $status
}
