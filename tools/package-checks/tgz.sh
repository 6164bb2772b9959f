# shellcheck shell=bash
# Sourced by tools/test-packages.sh: the tar.gz ($tgz): the same files as the Debian package, which
# deb.sh unpacked before.


step "tar.gz $(basename "$tgz")"
check "same contents as the Debian package" equal \
  "$(tar -tvzf "$tgz" | listing)" "$expected_listing"
mkdir -p "$work/tgz"
tar -xzf "$tgz" -C "$work/tgz"
for file in opt/prune/prune usr/share/man/man1/prune.1.gz usr/share/doc/prune/copyright; do
  check "$file as in the Debian package" same_bytes "$work/tgz/$file" "$extracted/$file"
done
check "prune.ini as shipped" same_bytes "$work/tgz/opt/prune/prune.ini" "$root/packaging/prune.ini"
