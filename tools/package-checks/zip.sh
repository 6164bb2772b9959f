# shellcheck shell=bash
# Sourced by tools/test-packages.sh: the Windows zip ($zip), unpacked into a fresh folder, its
# prune.exe run under Wine. Leaves the unpacked folder in $folder.


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
