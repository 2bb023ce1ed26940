#!/bin/sh
# Builds the fuzz target of the reader of DWG files before R13 (header, tables, block definitions,
# entity lists and JUMPs, into the drawing model) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for SECONDS (default 60), each input at most 10 s and
# 2 GB, with the shared corpus's files before R13 and the regression inputs as seeds. New
# interesting inputs collect in build/fuzz-dwg-pre13/corpus, inputs that fail in
# build/fuzz-dwg-pre13/crashes. Extra arguments go to libFuzzer.
#
#   drawing/fuzz/run_dwg_pre13.sh 1200
#   drawing/fuzz/run_dwg_pre13.sh 0 build/fuzz-dwg-pre13/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz-dwg-pre13}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes"

# The reader needs its own sources, the model, the text decoder and the platform helpers.
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/DwgPreR13Fuzz.cpp" "$root"/drawing/dwg/*.cpp "$root"/drawing/dwg/detail/*.cpp \
  "$root/drawing/Model.cpp" "$root/drawing/text/TextDecoder.cpp" "$root"/platform/Utf8.cpp \
  "$root"/platform/ColorPalette.cpp -o "$work/dwg_pre13_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/dwg_pre13_fuzz" "$@"
fi

# Words of the format: the releases' first bytes, the sentinel before R11 entities, a JUMP's
# section bytes, the offset bit of block table records, the ByLayer and ByBlock linetypes.
cat > "$work/dwg_pre13.dict" <<'WORDS'
"AC1.40"
"AC1.50"
"AC2.10"
"AC2.21"
"AC2.22"
"AC1001"
"AC1002"
"AC1003"
"AC1004"
"AC1005"
"AC1006"
"AC1007"
"AC1008"
"AC1009"
"\xc4\x6e\x68\x54\xf8\x6e\x33\x30\x63\x3e\xc1\x85\x2a\xdc\x94\x01"
"\x12\x00\x0a\x00"
"\x00\x00\x00\x80"
"\x00\x00\x00\x40"
"\xff\x7f"
"\xfe\x7f"
"*ACTIVE"
"MVIEW"
"ACAD"
WORDS

seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
if [ -d "$shared/corpus/dwg/pre-r13" ]; then
  cp "$shared"/corpus/dwg/pre-r13/*.dwg "$seeds/"
fi
if [ -d "$root/tests/drawing/fuzz-regressions" ]; then
  cp "$root"/tests/drawing/fuzz-regressions/*.dwg "$seeds/" 2>/dev/null || true
fi

# The largest file before R13 in the corpus has 93 KB.
exec "$work/dwg_pre13_fuzz" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 -timeout=10 \
  -dict="$work/dwg_pre13.dict" -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
