#!/usr/bin/env bash
# Builds the Windows installer of prune with wixl from prune.wxs, then sets with msibuild what
# wixl cannot express:
#   - the file version of prune.exe (read from its version resource), so that Windows Installer
#     replaces it by the rules for versioned files;
#   - "never overwrite" on the component of prune.ini: a prune.ini already in place is left as it
#     is by every later version, so that a user's settings live through an upgrade.
#
#   packaging/make-msi.sh VERSION SOURCE_FOLDER OUTPUT_MSI
#
# SOURCE_FOLDER holds prune.exe, prune.ini and LIESMICH.txt (the installed Windows folder).
set -euo pipefail
version=$1
source_folder=$2
output=$(realpath -m "$3")
wxs=$(realpath "$(dirname "$0")/prune.wxs")

# The FileVersion string of the version resource; the numeric version carries a fourth part 0.
file_version=$(strings -el "$source_folder/prune.exe" | grep -A1 -x FileVersion | sed -n 2p)
if [[ ! $file_version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "prune.exe carries no FileVersion in its version resource" >&2
  exit 1
fi

# wixl looks for the sources relative to the current folder.
cd "$(dirname "$source_folder")"
rm -f "$output"
wixl -a x64 -D Version="$version" -D SourceDir="$(basename "$source_folder")" -o "$output" "$wxs"
# Component attributes 384: 64-bit (256) and never overwrite (128).
msibuild "$output" \
  -q "UPDATE \`File\` SET \`Version\` = '$file_version.0' WHERE \`File\` = 'prune.exe'" \
  -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'prune.exe'" \
  -q "UPDATE \`Component\` SET \`Attributes\` = 384 WHERE \`Component\` = 'Settings'"
