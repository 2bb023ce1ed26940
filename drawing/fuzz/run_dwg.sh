#!/bin/sh
# Builds the DWG reader's fuzz target (container, header variables, the framing of every mapped
# object and the reading into the drawing model) with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and runs it
# for SECONDS (default 60) with the shared DWG corpus and the regression inputs as seeds. New
# interesting inputs collect in build/fuzz-dwg/corpus, inputs that fail in
# build/fuzz-dwg/crashes. TARNVELOX_FUZZ_SEEDS names the corpus folders to seed from (default:
# every folder of the DWG corpus), to fuzz one release's container. Extra arguments go to
# libFuzzer.
#
#   drawing/fuzz/run_dwg.sh 600
#   TARNVELOX_FUZZ_SEEDS=r2007 drawing/fuzz/run_dwg.sh 1200
#   drawing/fuzz/run_dwg.sh 0 build/fuzz-dwg/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz-dwg}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes"

# The reader needs its own sources, the model, the text decoder and the platform helpers.
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/DwgFuzz.cpp" "$root"/drawing/dwg/*.cpp "$root"/drawing/dwg/detail/*.cpp \
  "$root/drawing/Model.cpp" "$root/drawing/ProxyGraphics.cpp" \
  "$root/drawing/text/TextDecoder.cpp" "$root"/platform/Utf8.cpp \
  "$root"/platform/ColorPalette.cpp -o "$work/dwg_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/dwg_fuzz" "$@"
fi

# Words of the format, to help the fuzzer build headers and maps.
cat > "$work/dwg.dict" <<'WORDS'
"AC1012"
"AC1014"
"AC1015"
"AC1018"
"AC1021"
"AC1024"
"AC1027"
"AC1032"
"AcFssFcAJMB\x00"
"AcDb:Header"
"AcDb:Classes"
"AcDb:Handles"
"AcDb:AcDbObjects"
"AcDb:Template"
"\x3b\x0e\x63\x41"
"\x3b\x00\x63\x41"
"\x3b\x04\x63\x41"
"\xcf\x7b\x1f\x23\xfd\xde\x38\xa9\x5f\x7c\x68\xb8\x4e\x6d\x33\x5f"
"\x8d\xa1\xc4\xb8\xc4\xa9\xf8\xc5\xc0\xdc\xf4\x5f\xe7\xcf\xb6\x8a"
"\x95\xa0\x4e\x28\x99\x82\x1a\xe5\x5e\x41\xe0\x5f\x9d\x3a\x4d\x00"
"\x00\x02"
"\x11"
WORDS

seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
if [ -d "$shared/corpus/dwg" ]; then
  for folder in ${TARNVELOX_FUZZ_SEEDS:-.}; do
    find "$shared/corpus/dwg/$folder" -name '*.dwg' -exec cp {} "$seeds/" \;
  done
fi
if [ -d "$root/tests/drawing/fuzz-regressions" ]; then
  cp "$root"/tests/drawing/fuzz-regressions/*.dwg "$seeds/" 2>/dev/null || true
fi

# Inputs up to 1.4 MB keep the largest seeds whole: the page map of R2004-family files sits
# near their end, so a cut seed teaches the fuzzer little.
exec "$work/dwg_fuzz" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -max_len=1400000 -rss_limit_mb=2048 -timeout=10 \
  -dict="$work/dwg.dict" -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
