#!/usr/bin/env bash
# Builds the release packages of prune into dist/:
#   prune-<version>-win64.zip          the Windows folder prune-<version>/ (CPack ZIP)
#   prune-<version>-x64.msi            the Windows installer (wixl, packaging/make-msi.sh)
#   prune_<version>_amd64.deb          the Debian package (CPack DEB)
#   prune-<version>-linux-x86_64.tar.gz  the same files as the Debian package, laid out from /
#                                      (CPack TGZ)
# Builds only what the packages need, in build/ (Linux) and build-win/ (Windows, mingw-w64), the
# folders that the test scripts use too: what they built already is taken as it is. Run as root,
# it installs the missing tools with apt-get. tools/test-packages.sh tries the packages out.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/lib.sh
# Every time that the packages carry is the time of the commit (or SOURCE_DATE_EPOCH as given), so
# that the same commit gives the same packages, byte for byte, wherever and whenever it is built:
# the files' times in the zip, the .deb and the tar.gz, the time that stripping writes into the
# header of prune.exe (the zip and the installer strip it each in turn), and the MSI's times.
SOURCE_DATE_EPOCH=$(source_date_epoch)
export SOURCE_DATE_EPOCH

tools/install-packages.sh cmake g++ ninja-build googletest libgtest-dev \
  g++-mingw-w64-x86-64-posix dpkg-dev file wixl msitools uuid-runtime

step "building prune for Linux in build/"
cmake --preset default > /dev/null
cmake --build --preset default --target prune prune_docs

step "building prune.exe in build-win/"
cmake --preset windows > /dev/null
cmake --build --preset windows --target prune

version=$(prune_version)

rm -rf dist build/packages build-win/packages
mkdir -p dist

step "packing the Debian package and the tar.gz ($version)"
(cd build && cpack > cpack.log) || { cat build/cpack.log >&2; exit 1; }
mv "build/packages/prune_${version}_amd64.deb" "build/packages/prune-$version-linux-x86_64.tar.gz" \
  dist/

step "packing the Windows zip"
(cd build-win && cpack > cpack.log) || { cat build-win/cpack.log >&2; exit 1; }
mv "build-win/packages/prune-$version.zip" "dist/prune-$version-win64.zip"

step "building the Windows installer"
msi_source=build-win/packaging/msi/prune-$version
rm -rf build-win/packaging/msi
cmake --install build-win --prefix "$msi_source" --strip > /dev/null
packaging/make-msi.sh "$version" "$msi_source" "dist/prune-$version-x64.msi"

step "packages in dist/"
ls -l dist
