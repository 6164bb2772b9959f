#!/usr/bin/env bash
# The imports check (ctest test windows_imports of the Windows build): holds the functions that a
# Windows executable imports against tools/windows-imports.txt, the reviewed list of every import
# with the oldest Windows that has it, and against the Windows that the executable's header names
# (its subsystem version, which its OS version must equal). Fails on an import that the list lacks
# (look it up, then list it), and on one that the named Windows lacks, which on that Windows would
# end the start with a missing entry point instead of the system's own "not a valid application".
#
#   tools/check-windows-imports.sh EXE [LIST]
set -euo pipefail
exe=$1
list=${2:-$(dirname "$0")/windows-imports.txt}
dump=$(x86_64-w64-mingw32-objdump -p "$exe")

# version_number MAJOR.MINOR: one number that orders Windows versions (6.0 600, 10.0 1000).
version_number() {
  local major minor
  IFS=. read -r major minor <<< "$1"
  echo $((10#$major * 100 + 10#$minor))
}
# header_version NAME: the version in the header fields MajorNAME and MinorNAME.
header_version() {
  awk -v major="Major$1" -v minor="Minor$1" '
    $1 == major { a = $2 } $1 == minor { b = $2 } END { print a "." b }' <<< "$dump"
}
named=$(header_version SubsystemVersion)
os=$(header_version OSystemVersion)

failures=0
fail() { echo "FAIL $*" >&2; failures=$((failures + 1)); }

if [[ ! $named =~ ^[0-9]+\.[0-9]+$ ]]; then
  echo "no subsystem version in the header of $exe" >&2
  exit 1
fi
[ "$os" = "$named" ] ||
  fail "the header of $(basename "$exe") names Windows $named as its subsystem version," \
    "but $os as its OS version"

# The list: DLL, function, version; DLL names compare without case, as Windows' loader does.
declare -A listed
while read -r dll function version _; do
  case $dll in '' | '#'*) continue ;; esac
  if [[ ! $version =~ ^[0-9]+\.[0-9]+$ ]]; then
    fail "$list: '$dll $function $version' has no version MAJOR.MINOR"
    continue
  fi
  listed[${dll,,} $function]=$version
done < "$list"

# The import tables as objdump shows them: a line "DLL Name: NAME", then a line per function,
# "<address> <hint> <name>".
imports=$(awk '
  /^The Import Tables/ { inside = 1; next }
  /^[A-Z]/ { inside = 0 }
  inside && /DLL Name:/ { dll = $3; next }
  inside && dll != "" && /^\t[0-9a-f]+\t/ { print dll, $NF }' <<< "$dump")
[ -n "$imports" ] || { echo "no imports found in $exe" >&2; exit 1; }

count=0
while read -r dll function; do
  count=$((count + 1))
  version=${listed[${dll,,} $function]:-}
  if [ -z "$version" ]; then
    fail "$dll $function is not in $list: look up the oldest Windows that has it, then list it"
  elif [ "$(version_number "$version")" -gt "$(version_number "$named")" ]; then
    fail "$dll $function came with Windows $version, after the $named that the header names"
  fi
done <<< "$imports"

if [ $failures -ne 0 ]; then
  echo "$(basename "$exe"): $count imports, $failures failures" >&2
  exit 1
fi
echo "$(basename "$exe"): all $count imports are in Windows $named, which its header names"
