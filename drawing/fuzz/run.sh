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

# The reader needs nothing but its own sources and the C++ library.
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/DxfFuzz.cpp" "$root/drawing/DxfReader.cpp" "$root"/drawing/detail/Dxf*.cpp \
  -o "$work/dxf_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/dxf_fuzz" "$@"
fi

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
  -dict="$here/dxf.dict" -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
