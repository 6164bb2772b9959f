#!/usr/bin/env bash
# Builds the release packages (tools/package.sh) and tries each out as a user gets it:
#   - the Windows zip, unpacked into a fresh folder, its prune.exe run under Wine;
#   - the MSI, installed with Wine's msiexec into a fresh prefix, run from Program Files\prune,
#     refused over a later version, upgraded to a later version (built here from the same files)
#     with the user's prune.ini kept, and uninstalled with nothing left;
#   - the Debian package: its fields and contents, lintian (any error fails), its executable run
#     through the /usr/bin link from the unpacked package and, run as root, from a real install
#     with dpkg (also as an unprivileged user), purged again afterwards; the tar.gz beside it.
# Every run of prune goes on a copy of examples/rohr_rotary.nc, whose result must come out as
# packaging/check/rohr_rotary.pruned.nc, byte for byte. Work files, Wine's prefix and its output
# go to build-packages/. Exits non-zero when a check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/package.sh
tools/install-packages.sh lintian unzip wine64 dpkg-dev file binutils man-db

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/CPackConfig.cmake)
zip=$root/dist/prune-$version-win64.zip
msi=$root/dist/prune-$version-x64.msi
deb=$root/dist/prune_${version}_amd64.deb
tgz=$root/dist/prune-$version-linux-x86_64.tar.gz
example=$root/examples/rohr_rotary.nc
expected=$root/packaging/check/rohr_rotary.pruned.nc

work=$root/build-packages
logs=$work/logs
rm -rf "$work"
mkdir -p "$logs"

step() { echo "== $*"; }
failures=0
# check DESCRIPTION COMMAND...: runs the command, counts a failure when it fails.
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok   $what"
  else
    echo "FAIL $what" >&2
    failures=$((failures + 1))
  fi
}
equal() { [ "$1" = "$2" ] || { echo "  got: '$1'"; echo "  expected: '$2'"; return 1; }; }
same_bytes() { cmp -s "$1" "$2" || { echo "  $1 differs from $2"; return 1; }; }
absent() { [ ! -e "$1" ] && [ ! -L "$1" ] || { echo "  $1 is still there"; return 1; }; }

# new_job FOLDER: a fresh folder holding a copy of the example as "Teil 1.nc"; prints its path.
new_job() {
  mkdir -p "$1"
  cp "$example" "$1/Teil 1.nc"
  echo "$1/Teil 1.nc"
}
# pruned_in_place JOB STATUS: the run ended with 0 and left the pruned program, and nothing else.
pruned_in_place() {
  equal "$2" 0 && same_bytes "$1" "$expected" && equal "$(ls "$(dirname "$1")")" "Teil 1.nc"
}
# pruned_to_tap JOB STATUS: test output: the result beside the program, which stays as it was.
pruned_to_tap() {
  equal "$2" 0 && same_bytes "${1%.nc}.tap" "$expected" && same_bytes "$1" "$example"
}
switch_on_test_output() { sed -i 's/^test=0/test=1/' "$1"; }

# ---------------------------------------------------------------------------------------------
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

listing() { awk '{ sub(/^\.\//, "", $6); print $1, $6, $7, $8 }' | sort; }
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

step "tar.gz $(basename "$tgz")"
check "same contents as the Debian package" equal \
  "$(tar -tvzf "$tgz" | awk '{ sub(/^\.\//, "", $6); print $1, $6, $7, $8 }' | sort)" \
  "$expected_listing"
mkdir -p "$work/tgz"
tar -xzf "$tgz" -C "$work/tgz"
for file in opt/prune/prune usr/share/man/man1/prune.1.gz usr/share/doc/prune/copyright; do
  check "$file as in the Debian package" same_bytes "$work/tgz/$file" "$extracted/$file"
done
check "prune.ini as shipped" same_bytes "$work/tgz/opt/prune/prune.ini" "$root/packaging/prune.ini"

# A real install, where the machine can take it: as root, with no prune installed already.
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W -f='${Status}' prune 2> /dev/null | grep -q installed; then
  step "Debian package installed with dpkg"
  export DEBIAN_FRONTEND=noninteractive
  install_package() { dpkg -i "$deb" < /dev/null > "$logs/dpkg-install.log" 2>&1; }
  purge() { dpkg --purge prune < /dev/null > "$logs/dpkg-purge.log" 2>&1; }
  trap purge EXIT
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
  trap - EXIT
  check "nothing left in /opt/prune" absent /opt/prune
  check "nothing left in /usr/bin" absent /usr/bin/prune
else
  step "no real install of the Debian package (needs root and no prune installed)"
fi

# ---------------------------------------------------------------------------------------------
. "$root/tools/wine.sh"
wine=$(find_wine)
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# A fresh prefix of its own, without a display: prune shows no box on a good run, and a box that
# cannot be shown makes a failed run end at once with its exit status.
export WINEPREFIX=$work/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY
step "making the Wine prefix $WINEPREFIX"
make_wine_prefix "$wine" "$logs/wineboot.log"
"$wineserver" -p > "$logs/wineserver.log" 2>&1 || true
trap '"$wineserver" -k > /dev/null 2>&1 || true' EXIT

# windows_path PATH: the host path as Wine's Z: drive shows it.
windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}
# run_under_wine EXE JOB: runs the Windows program EXE (a Windows path) on JOB; prints the status.
run_under_wine() {
  local status=0
  "$wine" "$1" "$(windows_path "$2")" < /dev/null > "$logs/run.log" 2>&1 || status=$?
  echo $status
}

step "Windows zip $(basename "$zip")"
unpacked="$work/zip/Mein Werkzeug"
mkdir -p "$unpacked"
unzip -q "$zip" -d "$unpacked"
folder=$unpacked/prune-$version
check "one folder prune-$version with the three files" equal \
  "$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')" \
  "prune-$version/LIESMICH.txt prune-$version/prune.exe prune-$version/prune.ini "
check "prune.ini as shipped (test output off)" same_bytes "$folder/prune.ini" \
  "$root/packaging/prune.ini"
version_resource() { strings -el "$folder/prune.exe" | grep -A1 -x "$1" | sed -n 2p; }
check "FileVersion of prune.exe" equal "$(version_resource FileVersion)" "$version"
check "ProductVersion of prune.exe" equal "$(version_resource ProductVersion)" "$version"
guide=$folder/LIESMICH.txt
check "LIESMICH.txt: UTF-8 with byte-order mark" equal "$(head -c 3 "$guide" | od -An -tx1)" \
  " ef bb bf"
check "LIESMICH.txt: every line ends in CR LF" equal "$(grep -c $'\r$' "$guide")" \
  "$(wc -l < "$guide")"
check "LIESMICH.txt: names this version, no placeholder left" \
  bash -c "grep -q 'prune $version' \"\$1\" && ! grep -q '@' \"\$1\"" _ "$guide"

job=$(new_job "$work/zip-run/plain")
check "prune.exe from the zip prunes the program in place" \
  pruned_in_place "$job" "$(run_under_wine "$(windows_path "$folder/prune.exe")" "$job")"
cp "$folder/prune.ini" "$work/prune.ini.shipped"
switch_on_test_output "$folder/prune.ini"
job=$(new_job "$work/zip-run/test-output")
check "prune.exe from the zip with test=1 writes the .tap" \
  pruned_to_tap "$job" "$(run_under_wine "$(windows_path "$folder/prune.exe")" "$job")"
cp "$work/prune.ini.shipped" "$folder/prune.ini"

step "Windows installer $(basename "$msi")"
# The next version, built here from the same files, for the upgrade.
IFS=. read -r major minor patch <<< "$version"
next_version=$major.$minor.$((patch + 1))
next_msi=$work/prune-$next_version-x64.msi
packaging/make-msi.sh "$next_version" "$folder" "$next_msi"

installed="$WINEPREFIX/drive_c/Program Files/prune"
installed_exe='C:\Program Files\prune\prune.exe'
n=0
# run_msiexec ARGUMENTS...: runs Wine's msiexec quietly with a log; prints its exit status.
run_msiexec() {
  local status=0
  n=$((n + 1))
  "$wine" msiexec "$@" /qn /l*v "$(windows_path "$logs/msiexec-$n.log")" < /dev/null \
    > "$logs/msiexec-$n.out" 2>&1 || status=$?
  echo $status
}
# The versions of prune that Programs and Features lists, in one line.
installed_versions() {
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2> /dev/null |
    tr -d '\r' | awk '
      /^HKEY/ { if (name == "prune") print version; name = ""; version = "" }
      $1 == "DisplayName" { name = $3 }
      $1 == "DisplayVersion" { version = $3 }
      END { if (name == "prune") print version }' | sort | tr '\n' ' '
}
nothing_installed() { absent "$installed" && equal "$(installed_versions)" ""; }

check "the next version installs" equal "$(run_msiexec /i "$(windows_path "$next_msi")")" 0
check "$version refuses to go over $next_version" test "$(run_msiexec /i "$(windows_path "$msi")")" -ne 0
check "only $next_version installed" equal "$(installed_versions)" "$next_version "
check "$next_version uninstalls" equal "$(run_msiexec /x "$(windows_path "$next_msi")")" 0
check "nothing left" nothing_installed

check "installs per machine" equal "$(run_msiexec /i "$(windows_path "$msi")")" 0
check "listed as $version" equal "$(installed_versions)" "$version "
for file in prune.exe prune.ini LIESMICH.txt; do
  check "Program Files\\prune\\$file as in the zip" same_bytes "$installed/$file" "$folder/$file"
done
check "nothing else in Program Files\\prune" equal "$(ls "$installed" | tr '\n' ' ')" \
  "LIESMICH.txt prune.exe prune.ini "
job=$(new_job "$work/msi-run/plain")
check "installed prune.exe prunes the program in place" \
  pruned_in_place "$job" "$(run_under_wine "$installed_exe" "$job")"
check "uninstalls" equal "$(run_msiexec /x "$(windows_path "$msi")")" 0
check "nothing left" nothing_installed

check "installs again" equal "$(run_msiexec /i "$(windows_path "$msi")")" 0
# The user's own settings, of another size than the shipped file.
printf '; Testausgabe für die Einfahrphase\r\n[common]\r\ntest=1\r\n' > "$work/prune.ini.edited"
cp "$work/prune.ini.edited" "$installed/prune.ini"
check "$next_version upgrades it" equal "$(run_msiexec /i "$(windows_path "$next_msi")")" 0
check "only $next_version installed" equal "$(installed_versions)" "$next_version "
check "the user's prune.ini is kept" same_bytes "$installed/prune.ini" "$work/prune.ini.edited"
check "prune.exe and LIESMICH.txt in place" \
  bash -c 'cmp -s "$1/prune.exe" "$2/prune.exe" && cmp -s "$1/LIESMICH.txt" "$2/LIESMICH.txt"' \
  _ "$installed" "$folder"
job=$(new_job "$work/msi-run/upgraded")
check "after the upgrade prune.exe runs with the user's settings" \
  pruned_to_tap "$job" "$(run_under_wine "$installed_exe" "$job")"
check "$next_version uninstalls" equal "$(run_msiexec /x "$(windows_path "$next_msi")")" 0
check "nothing left, the edited prune.ini neither" nothing_installed

# ---------------------------------------------------------------------------------------------
if [ $failures -eq 0 ]; then
  step "packages passed"
else
  step "packages FAILED: $failures checks (logs in $logs)"
  exit 1
fi
