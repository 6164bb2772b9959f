# shellcheck shell=bash
# Sourced by tools/test-packages.sh: the packages are built a second time by tools/package.sh, from
# a copy of the sources at another path ($work/rebuild/...), as in a fresh clone: its files have
# the times of the copy, and it has no build folder of its own yet, so that nothing of the first
# build is taken over. Each package must come out the same as the first, byte for byte. The
# second build's packages stay in the copy's dist/, for a look at a difference (cmp -l; for the
# MSI msiinfo suminfo, msidump). Both builds take the time of the commit checked out here.

step "packages rebuilt from a copy of the sources at another path"
copy=$work/rebuild/sources-again
mkdir -p "$copy"
# The files that git knows or would add, as the work tree has them, changes not yet committed too.
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do
    if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
  done | tar --null -T - -cf - | tar -xf - --touch -C "$copy"
rebuilt() {
  SOURCE_DATE_EPOCH=$(source_date_epoch) "$copy/tools/package.sh" > "$logs/rebuild.log" 2>&1 ||
    { tail -n 20 "$logs/rebuild.log" | sed 's/^/  /'; return 1; }
}
check "tools/package.sh builds them again (log: $logs/rebuild.log)" rebuilt
check "the same packages" equal "$(ls "$copy/dist" 2> /dev/null | tr '\n' ' ')" \
  "$(ls "$root/dist" | tr '\n' ' ')"
for package in "$zip" "$msi" "$deb" "$tgz"; do
  check "$(basename "$package"): the same bytes when rebuilt" \
    same_bytes "$package" "$copy/dist/$(basename "$package")"
done
