# shellcheck shell=bash
# Sourced by tools/test-packages.sh: the Debian package ($deb): its fields and contents, lintian
# (any error fails), its executable run through the /usr/bin link from the unpacked package and,
# run as root, from a real install with dpkg (also as an unprivileged user), purged again
# afterwards. Leaves the unpacked package in $extracted and its listing in $expected_listing.

step "Debian package $(basename "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
check "package name" equal "$(field Package)" prune
check "version" equal "$(field Version)" "$version"
check "architecture" equal "$(field Architecture)" "$(dpkg --print-architecture)"
check "section" equal "$(field Section)" utils
check "priority" equal "$(field Priority)" optional
check "maintainer" grep -qE '^[^<]+ <[^@>]+@[^>]+>$' <<< "$(field Maintainer)"
check "description with a long part" test "$(field Description | wc -l)" -ge 3

extracted=$work/deb
dpkg-deb -x "$deb" "$extracted"
# Every library that the executable needs comes from a package that Depends names.
depends_on_needed_libraries() {
  local library path package ok=0 depends
  depends=$(field Depends | tr ',' '\n' | awk '{ print $1 }')
  while read -r library path; do
    package=$( (dpkg -S "$path" || dpkg -S "/usr$path" || dpkg -S "${path#/usr}") 2> /dev/null |
      head -n 1 | cut -d: -f1)
    if [ -z "$package" ] || ! grep -qxF "$package" <<< "$depends"; then
      echo "  $library ($path, package '${package:-?}') is not in Depends: $(field Depends)"
      ok=1
    fi
  done < <(ldd "$extracted/opt/prune/prune" | awk '$2 == "=>" { print $1, $3 }')
  return $ok
}
check "Depends names the packages of the libraries the executable needs" depends_on_needed_libraries

expected_listing=$(sort << 'EOF'
drwxr-xr-x opt/  
drwxr-xr-x opt/prune/  
-rwxr-xr-x opt/prune/prune  
-rw-r--r-- opt/prune/prune.ini  
drwxr-xr-x usr/  
drwxr-xr-x usr/bin/  
lrwxrwxrwx usr/bin/prune -> /opt/prune/prune
drwxr-xr-x usr/share/  
drwxr-xr-x usr/share/doc/  
drwxr-xr-x usr/share/doc/prune/  
-rw-r--r-- usr/share/doc/prune/changelog.gz  
-rw-r--r-- usr/share/doc/prune/copyright  
drwxr-xr-x usr/share/lintian/  
drwxr-xr-x usr/share/lintian/overrides/  
-rw-r--r-- usr/share/lintian/overrides/prune  
drwxr-xr-x usr/share/man/  
drwxr-xr-x usr/share/man/man1/  
-rw-r--r-- usr/share/man/man1/prune.1.gz  
EOF
)
check "contents, modes and the link" equal "$(dpkg-deb -c "$deb" | listing)" "$expected_listing"
check "owned by root" equal "$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)" root/root
check "prune.ini is a conffile" equal "$(dpkg-deb -I "$deb" conffiles)" /opt/prune/prune.ini
check "prune.ini as shipped (test output off)" same_bytes "$extracted/opt/prune/prune.ini" \
  "$root/packaging/prune.ini"
check "prune.ini holds test=0" grep -qx $'test=0\r' "$extracted/opt/prune/prune.ini"
check "executable stripped" grep -q ', stripped' <<< "$(file -L "$extracted/opt/prune/prune")"
check "changelog of this version" grep -q "^prune ($version)" \
  <(zcat "$extracted/usr/share/doc/prune/changelog.gz")
man_page=$extracted/usr/share/man/man1/prune.1.gz
check "man page of this version" grep -q "\"prune $version\"" <(zcat "$man_page")
man_warnings() {
  local warnings
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$man_page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || { echo "$warnings"; return 1; }
}
check "man page renders without warnings" man_warnings
check "man page has its sections" equal \
  "$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man_page" 2> /dev/null | grep -E '^[A-Z][A-Z ]+$' | tr '\n' ,)" \
  "NAME,SYNOPSIS,DESCRIPTION,SAVING,FILES,EXIT STATUS,DIAGNOSTICS,EXAMPLE,"

lintian_clean() {
  local status=0
  lintian --info "$deb" > "$logs/lintian.log" 2>&1 || status=$?
  sed 's/^/  /' "$logs/lintian.log"
  ! grep -q '^E:' "$logs/lintian.log" && [ $status -eq 0 ]
}
check "lintian reports no error" lintian_clean

check "/usr/bin/prune links to /opt/prune/prune" equal "$(readlink "$extracted/usr/bin/prune")" \
  /opt/prune/prune
# The same link, to the unpacked executable: prune must take the settings beside the executable,
# not beside the link.
mkdir -p "$work/link"
ln -s "$extracted/opt/prune/prune" "$work/link/prune"
job=$(new_job "$work/deb-run/plain")
status=0
"$work/link/prune" "$job" || status=$?
check "unpacked, run through the link: program pruned in place" pruned_in_place "$job" $status
switch_on_test_output "$extracted/opt/prune/prune.ini"
job=$(new_job "$work/deb-run/test-output")
status=0
"$work/link/prune" "$job" || status=$?
check "unpacked, run through the link: the settings beside the executable count" \
  pruned_to_tap "$job" $status

# A real install, where the machine can take it: as root, with no prune installed already.
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W -f='${Status}' prune 2> /dev/null | grep -q installed; then
  step "Debian package installed with dpkg"
  export DEBIAN_FRONTEND=noninteractive
  install_package() { dpkg -i "$deb" < /dev/null > "$logs/dpkg-install.log" 2>&1; }
  purge() { dpkg --purge prune < /dev/null > "$logs/dpkg-purge.log" 2>&1; }
  at_exit 'dpkg-query -W prune > /dev/null 2>&1 && purge'
  check "installs" install_package
  check "installed as $version" equal "$(dpkg-query -W -f='${Status} ${Version}' prune)" \
    "install ok installed $version"
  check "man finds prune(1)" equal "$(man -w prune 2> /dev/null)" /usr/share/man/man1/prune.1.gz
  job=$(new_job "$work/installed/root")
  status=0
  /usr/bin/prune "$job" || status=$?
  check "/usr/bin/prune prunes the program in place" pruned_in_place "$job" $status
  unprivileged=$(mktemp -d)
  job=$(new_job "$unprivileged/job")
  chown -R 65534:65534 "$unprivileged"
  status=0
  setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/prune "$job" || status=$?
  check "/usr/bin/prune run by an unprivileged user" pruned_in_place "$job" $status
  rm -rf "$unprivileged"
  check "purges" purge
  check "nothing left in /opt/prune" absent /opt/prune
  check "nothing left in /usr/bin" absent /usr/bin/prune
else
  step "no real install of the Debian package (needs root and no prune installed)"
fi
