#!/usr/bin/env bash
# Builds the release packages (tools/package.sh), builds them once more from a copy of the sources
# at another path and compares the two builds byte for byte (rebuild.sh: a difference fails and
# names the package), then tries each out as a user gets it, one check file of
# tools/package-checks/ per package:
#   - deb.sh: the Debian package's fields and contents, lintian, its executable run unpacked and,
#     run as root, from a real install with dpkg, purged again afterwards;
#   - tgz.sh: the tar.gz beside it;
#   - zip.sh: the Windows zip, unpacked into a fresh folder, its prune.exe run under Wine;
#   - msi.sh: the MSI, installed with Wine's msiexec into a fresh prefix, run, refused over a later
#     version, upgraded to it with the user's prune.ini kept, and uninstalled with nothing left.
# Every run of prune goes on a copy of examples/rohr_rotary.nc, whose result must come out as
# examples/rohr_rotary.pruned.nc, byte for byte. Work files, the copy of the sources, Wine's prefix
# and its output go to build-packages/. Exits non-zero when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tools/lib.sh
. tools/wine.sh
. tools/package-checks/support.sh

tools/package.sh
tools/install-packages.sh lintian unzip wine64 dpkg-dev file binutils man-db

version=$(prune_version)
zip=$root/dist/prune-$version-win64.zip
msi=$root/dist/prune-$version-x64.msi
deb=$root/dist/prune_${version}_amd64.deb
tgz=$root/dist/prune-$version-linux-x86_64.tar.gz
example=$root/examples/rohr_rotary.nc
expected=$root/examples/rohr_rotary.pruned.nc
work=$root/build-packages
logs=$work/logs
rm -rf "$work"
mkdir -p "$logs"

. tools/package-checks/rebuild.sh
. tools/package-checks/deb.sh
. tools/package-checks/tgz.sh
# A fresh prefix of its own, without a display: prune shows no box on a good run, and a box that
# cannot be shown makes a failed run end at once with its exit status.
use_wine "$work/wineprefix" "$logs"
start_wine
. tools/package-checks/zip.sh
. tools/package-checks/msi.sh

if [ $failures -eq 0 ]; then
  step "packages passed"
else
  step "packages FAILED: $failures checks (logs in $logs)"
  exit 1
fi
