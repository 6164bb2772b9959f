#!/usr/bin/env bash
# Builds the Windows installer of prune with wixl from prune.wxs, then sets with msibuild what
# wixl cannot express:
#   - the file version of prune.exe (read from its version resource), so that Windows Installer
#     replaces it by the rules for versioned files;
#   - "never overwrite" on the component of prune.ini: a prune.ini already in place is left as it
#     is by every later version, so that a user's settings live through an upgrade;
#   - the summary information's package code and times (below).
#
#   packaging/make-msi.sh VERSION SOURCE_FOLDER OUTPUT_MSI
#
# SOURCE_FOLDER holds prune.exe, prune.ini and LIESMICH.txt (the installed Windows folder).
#
# The same inputs give the same MSI, byte for byte, wherever and whenever it is built. wixl makes
# anew on every run what would differ, so every such value is derived from what goes in:
#   - the times, of the files in the cabinet and of the summary information, are
#     SOURCE_DATE_EPOCH (tools/package.sh sets it to the time of the commit; without it, the time
#     of the commit that holds this script);
#   - the product code is a name-based UUID (SHA-1) of the version in the namespace of the upgrade
#     code: every build of one version has the same, every version another, so that a later
#     version still finds and replaces an earlier one by the upgrade code;
#   - the package code is a name-based UUID of a hash of everything that goes in: the version,
#     prune.wxs, this script, the three files and the version of msitools. Two packages that
#     differ in anything have different package codes.
set -euo pipefail
version=$1
source_folder=$2
output=$(realpath -m "$3")
here=$(realpath "$(dirname "$0")")
wxs=$here/prune.wxs
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$wxs")
[ -n "$upgrade_code" ] || { echo "no UpgradeCode in $wxs" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct)}
# wixl and msibuild read and write local times.
export TZ=UTC

# The FileVersion string of the version resource; the numeric version carries a fourth part 0.
file_version=$(strings -el "$source_folder/prune.exe" | grep -A1 -x FileVersion | sed -n 2p)
if [[ ! $file_version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "prune.exe carries no FileVersion in its version resource" >&2
  exit 1
fi

# wixl takes the times of the files in the cabinet from the files: a copy of the folder carries
# the fixed time, and the caller's files stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
for file in prune.exe prune.ini LIESMICH.txt; do
  cp "$source_folder/$file" "$work/files/$file"
done
touch -d "@$epoch" "$work/files"/*

name_uuid() { uuidgen --sha1 --namespace "$upgrade_code" --name "$1" | tr a-f A-F; }
product_code=$(name_uuid "$version")
inputs_hash=$( (
  echo "$version"
  wixl --version
  cd "$work/files" && sha256sum prune.exe prune.ini LIESMICH.txt
  cd "$here" && sha256sum prune.wxs make-msi.sh
) | sha256sum | cut -d' ' -f1)
package_code=$(name_uuid "package $inputs_hash")
summary_time=$(date -u -d "@$epoch" '+%Y/%m/%d %H:%M:%S')
# The summary information as msibuild imports it: 9 the package code, 12 and 13 the times of
# creation and of the last save.
printf '%s\r\n' "PropertyId	Value" "i2	l255" "_SummaryInformation	PropertyId" \
  "9	{$package_code}" "12	$summary_time" "13	$summary_time" > "$work/summary.idt"

# wixl looks for the sources relative to the current folder.
cd "$work"
rm -f "$output"
wixl -a x64 -D Version="$version" -D ProductCode="$product_code" -D SourceDir=files \
  -o "$output" "$wxs"
# Component attributes 384: 64-bit (256) and never overwrite (128).
msibuild "$output" \
  -q "UPDATE \`File\` SET \`Version\` = '$file_version.0' WHERE \`File\` = 'prune.exe'" \
  -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = 'prune.exe'" \
  -q "UPDATE \`Component\` SET \`Attributes\` = 384 WHERE \`Component\` = 'Settings'" \
  -i summary.idt
