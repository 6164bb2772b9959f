#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build-fuzz and runs each for a bounded time; fails on the first crash, leak or broken
# check. Usage: tools/fuzz.sh [SECONDS_PER_TARGET] (default 20; give more by hand, e.g. 600).
# Inputs that broke a target are kept in build-fuzz/artifacts; the corpora grow in
# build-fuzz/corpus from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
tools/install-packages.sh cmake ninja-build clang libclang-rt-14-dev

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_targets

seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{prune,program_bytes,pieces,convert_integer,command_line,extension,report_text,ini} build-fuzz/artifacts

# seed TARGET NAME FORMAT: one hand-made seed, written by printf from FORMAT.
seed() { printf "$3" >"$seeds/$1/$2"; }

on='FARCALL $STRGLOB1 "LASER_ON"'
off='FARCALL $STRGLOB1 "LASER_OFF"'
seed prune plain "G00 X0\r\n$on\r\nG01 A1\r\nG01 A2\r\n$off\r\nG01 A3\r\nG01 A4\r\nM30\r\n"
seed prune dialect " %%DSPNC3\t\nM98 L20\nG01 A1\nG01 A2\nM98 L21\nG01 A3\n"
seed prune strobe "G00\nActivateStrobeModule\nG01 A1\nG01 A2\n$off\nG01 A3\nG01 A4"
seed prune utf8 "\xef\xbb\xbf$on\rG01 A1\rG01 A2 \xc3\xa4\r"
seed prune utf8_bad "\xef\xbb\xbf$on\nG01 A1\xc0\xaf\n"
seed prune utf16le "\xff\xfe%%\x00D\x00S\x00P\x00N\x00C\x003\x00\r\x00\n\x00G\x000\x001\x00 \x00A\x00"
seed prune utf16be "\xfe\xff\x00G\x000\x001\x00 \x00A\x00\r\x00\n\xd8\x00"
seed prune utf16_odd "\xff\xfe\x41"
seed prune lone_cr_nul "$on\rG01 A1\x00\rG01 A2\r\rG01\x00A3\n\r"
seed prune empty ""
for example in examples/*.nc; do
  [ -f "$example" ] && head -c 16384 "$example" >"$seeds/prune/$(basename "$example")"
done
# The fast way and the reference way start from the same programs.
cp "$seeds"/prune/* "$seeds/program_bytes/"
# The read in pieces takes the same programs behind two bytes: the piece size and the way.
for seed_file in "$seeds"/prune/*; do
  for way in 0 1 2; do
    { printf "\\x07\\x0$way"; cat "$seed_file"; } >"$seeds/pieces/$(basename "$seed_file")-$way"
  done
done

n=0
for value in 1 +1 01 " 1" '$1' x1 0X1 '-$FFFFFFFF' -0xffffffff "1 " "\t1" 1.0 --1 "+ 1" 0x '$' \
  2147483647 -2147483648 2147483648 -2147483649 4294967297 '$100000001' 000000000012; do
  printf '%b' "$value" >"$seeds/convert_integer/v$((n += 1))"
done

seed command_line plain 'prune.exe C:\\jobs\\part.nc'
seed command_line quoted '"C:\\Program Files\\prune.exe" "" "C:\\my jobs\\part 1.nc" x'
seed command_line mixed 'a"b c"d\t"e\\"f "'
seed extension nc '\x08C:\\jobs.old\\part.nc.tap'
seed extension posix '\x09/home/a.b/part..ini'
seed report_text empty ''
seed ini plain '[common]\r\ntest=1\r\n'
seed ini quoted '; comment\n[ Common ] x\n  TEST = "1" \n[common]\ntest=2\n'
seed ini utf16 '\xff\xfe[\x00c\x00]\x00\n\x00t\x00=\x001\x00'
seed ini no_value '[common]\ntest\n\x1a\x00'

status=0
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
    -artifact_prefix=build-fuzz/artifacts/"$name"-)
  dict=fuzz/$name.dict
  # The same texts matter to all three.
  [ "$name" = program_bytes ] || [ "$name" = pieces ] && dict=fuzz/prune.dict
  [ -f "$dict" ] && options+=(-dict="$dict")
  case $name in prune | program_bytes | pieces) options+=(-max_len=16384) ;; esac
  echo "fuzzing $name for $seconds s" >&2
  if ! "$target" "${options[@]}" "$corpus" "$seeds/$name" >"build-fuzz/$name.log" 2>&1; then
    echo "FAILED: $name (see build-fuzz/$name.log and build-fuzz/artifacts)" >&2
    tail -n 40 "build-fuzz/$name.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/$name.log" >&2 || true
  fi
done
exit $status
