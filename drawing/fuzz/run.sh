#!/bin/sh
# Builds the DXF reader's fuzz target with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for SECONDS (default 60) with the shared DXF corpus and
# the regression inputs as seeds. New interesting inputs collect in build/fuzz/corpus, inputs
# that fail in build/fuzz/crashes. Extra arguments go to libFuzzer.
#
#   drawing/fuzz/run.sh 600
#   drawing/fuzz/run.sh 0 build/fuzz/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes"

# The readers need nothing but their own sources, the model (with the proxy graphics both
# formats keep), the platform helpers and the C++ library.
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/DxfFuzz.cpp" "$root/drawing/Model.cpp" "$root/drawing/ProxyGraphics.cpp" \
  "$root"/drawing/dxf/*.cpp "$root"/drawing/dxf/detail/*.cpp "$root"/drawing/text/*.cpp \
  "$root/platform/Utf8.cpp" "$root/platform/ColorPalette.cpp" \
  -o "$work/dxf_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/dxf_fuzz" "$@"
fi

# Words of the format, to help the fuzzer build records.
cat > "$work/dxf.dict" <<'WORDS'
# Words of the DXF format, to help the fuzzer build records.
"  0\x0aSECTION\x0a"
"  2\x0aHEADER\x0a"
"  2\x0aTABLES\x0a"
"  2\x0aBLOCKS\x0a"
"  2\x0aENTITIES\x0a"
"  2\x0aOBJECTS\x0a"
"  0\x0aENDSEC\x0a"
"  0\x0aEOF\x0a"
"  0\x0aTABLE\x0a"
"  0\x0aENDTAB\x0a"
"  0\x0aLAYER\x0a"
"  0\x0aLTYPE\x0a"
"  0\x0aSTYLE\x0a"
"  0\x0aVPORT\x0a"
"  0\x0aBLOCK_RECORD\x0a"
"  0\x0aDIMSTYLE\x0a"
"  0\x0aBLOCK\x0a"
"  0\x0aENDBLK\x0a"
"  0\x0aLINE\x0a"
"  0\x0aLWPOLYLINE\x0a"
"  0\x0aPOLYLINE\x0a"
"  0\x0aVERTEX\x0a"
"  0\x0aSEQEND\x0a"
"  0\x0aINSERT\x0a"
"  0\x0aATTRIB\x0a"
"  0\x0aHATCH\x0a"
"  0\x0aSPLINE\x0a"
"  0\x0aMTEXT\x0a"
"  0\x0aTEXT\x0a"
"  0\x0aVIEWPORT\x0a"
"  0\x0aIMAGE\x0a"
"  0\x0aIMAGEDEF\x0a"
"  0\x0aLAYOUT\x0a"
"  0\x0aACAD_TABLE\x0a"
"  0\x0aDIMENSION\x0a"
"  0\x0aLEADER\x0a"
"100\x0aAcDbEntity\x0a"
"100\x0aAcDbLayout\x0a"
"100\x0aAcDbPlotSettings\x0a"
"102\x0a{ACAD_REACTORS\x0a"
"102\x0a}\x0a"
"101\x0aEmbedded Object\x0a"
"1001\x0aACAD\x0a"
"  9\x0a$ACADVER\x0a"
"  9\x0a$DWGCODEPAGE\x0a"
"  1\x0aAC1015\x0a"
"  1\x0aAC1024\x0a"
"  3\x0aANSI_936\x0a"
"  3\x0aANSI_1251\x0a"
" 93\x0a"
" 92\x0a"
" 91\x0a"
" 72\x0a"
" 66\x0a     1\x0a"
" 67\x0a     1\x0a"
"330\x0a"
"340\x0a"
"331\x0a"
"\\U+"
"\\M+1"
"%%c"
"AutoCAD Binary DXF\x0d\x0a\x1a\x00"
WORDS

seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
if [ -d "$shared/corpus/dxf" ]; then
  find "$shared/corpus/dxf" -name '*.dxf' -exec cp {} "$seeds/" \;
fi
if [ -d "$root/tests/drawing/fuzz-regressions" ]; then
  cp "$root"/tests/drawing/fuzz-regressions/* "$seeds/" 2>/dev/null || true
fi

# Inputs up to 256 KiB: long enough to reach the entities of most seeds, short enough to run a
# few hundred inputs a second.
exec "$work/dxf_fuzz" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
  -dict="$work/dxf.dict" -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
