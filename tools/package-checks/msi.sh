# shellcheck shell=bash
# Sourced by tools/test-packages.sh: the MSI ($msi), installed with Wine's msiexec into the prefix,
# run from Program Files\prune, refused over a later version, upgraded to a later version (built
# here from the files of the zip that zip.sh unpacked) with the user's prune.ini kept, and
# uninstalled with nothing left.

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
