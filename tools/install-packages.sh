#!/usr/bin/env bash
# Installs the named Debian packages that are missing. Runs apt-get only when something is
# missing, and only as root; otherwise it says what to install and fails.
set -euo pipefail
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (install them with apt-get as root)" >&2
  exit 1
fi
echo "installing ${missing[*]}" >&2
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
