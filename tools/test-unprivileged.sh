#!/usr/bin/env bash
# Runs the Linux unit and end-to-end tests a second time as an ordinary user (nobody, 65534), as
# they would run on a user's machine: the superuser passes every permission check, which hides
# the cases that matter most for files in shared folders. The test binaries are copied to a fresh
# folder that the user can reach, whatever the permissions of the checkout.
#
#   tools/test-unprivileged.sh [BUILD]      (BUILD: the Linux build folder, build by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
if [ "$(id -u)" -ne 0 ]; then
  echo "== already an ordinary user: the suite ran as such"
  exit 0
fi
tools=$(mktemp -d /tmp/prune-unprivileged-XXXXXX)
trap 'rm -rf "$tools"' EXIT
cp "$build/prune" "$build/prune_tests" "$build/src/e2e/e2e_tests" "$tools/"
cp -r "$root/examples" "$tools/examples"
chmod -R a+rX "$tools"
# The user's working folder is the copy too: the checkout's may be closed to others (root's home).
cd "$tools"
as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$tools" TMPDIR=/tmp
  PRUNE_EXE="$tools/prune" PRUNE_EXAMPLES="$tools/examples")
echo "== unit tests as an ordinary user"
"${as_user[@]}" "$tools/prune_tests" --gtest_brief=1
echo "== end-to-end tests as an ordinary user"
"${as_user[@]}" "$tools/e2e_tests" --gtest_brief=1
