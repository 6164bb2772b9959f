# shellcheck shell=bash
# Sourced by the scripts of tools/: what they share.

# step TEXT...: says what the script does next.
step() { echo "== $*"; }

# prune_version: prints the version of prune as the Linux build in build/ was configured with it.
prune_version() {
  local config version
  config=$(dirname "${BASH_SOURCE[0]}")/../build/CPackConfig.cmake
  version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$config")
  [ -n "$version" ] || { echo "no version in build/CPackConfig.cmake" >&2; return 1; }
  echo "$version"
}

# source_date_epoch: prints the time that the release packages carry, in seconds since 1970:
# SOURCE_DATE_EPOCH where it is set, else the time of the commit checked out (0 outside git).
source_date_epoch() {
  echo "${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2> /dev/null || echo 0)}"
}

# at_exit COMMAND: runs COMMAND (a line of shell) when the script ends, however it ends; the
# commands run in the reverse order of their registration, each whatever the others did.
exit_commands=()
at_exit() {
  exit_commands=("$1" "${exit_commands[@]}")
  trap run_exit_commands EXIT
}
run_exit_commands() {
  local command
  for command in "${exit_commands[@]}"; do eval "$command" || true; done
}
