#!/bin/sh
# Builds the fuzz target of the whole drawing library (reading any format, fitting and drawing
# every layout into the PDF device) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for SECONDS (default 60) with a time limit of 10 s and
# a memory limit of 2 GB per input, so that a hang or a blow-up is a finding. Seeds: the shared
# DXF and DWG drawings and the regression inputs. New inputs collect in build/fuzz-render/corpus,
# failing ones in build/fuzz-render/crashes. Extra arguments go to libFuzzer.
#
#   drawing/fuzz/run_render.sh 3600
#   drawing/fuzz/run_render.sh 0 build/fuzz-render/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz-render}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes" "$work/objects"

# The engine's sources below the conversion job, instrumented; the system's libraries as they
# are. Objects are kept, so that a second run compiles only what changed; a changed header
# makes every object again.
sources=$(ls "$here/RenderFuzz.cpp" "$root"/drawing/*.cpp "$root"/drawing/text/*.cpp \
  "$root"/drawing/dxf/*.cpp "$root"/drawing/dxf/detail/*.cpp "$root"/drawing/dwg/*.cpp \
  "$root"/drawing/dwg/detail/*.cpp "$root"/render/*.cpp "$root"/pdf/*.cpp \
  "$root"/pensets/PenSet.cpp "$root"/platform/*.cpp)
flags="-std=c++20 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined \
  -fno-sanitize-recover=undefined -I$root $(pkg-config --cflags freetype2 fontconfig)"
objects=""
stamp="$work/objects/.stamp"
if [ ! -f "$stamp" ] || [ -n "$(find "$root/drawing" "$root/render" "$root/pdf" "$root/pensets" \
  "$root/platform" -name '*.h' -newer "$stamp" | head -1)" ]; then
  rm -f "$work"/objects/*.o
fi
touch "$stamp"
for source in $sources; do
  object="$work/objects/$(echo "$source" | sed "s|$root/||; s|/|_|g").o"
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ]; then
    # shellcheck disable=SC2086
    clang++ $flags -c "$source" -o "$object"
  fi
  objects="$objects $object"
done
# shellcheck disable=SC2086
clang++ -fsanitize=fuzzer,address,undefined $objects -o "$work/render_fuzz" \
  $(pkg-config --libs freetype2 fontconfig libpng libjpeg libtiff-4 zlib)

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/render_fuzz" "$@"
fi

seeds="$work/corpus"
for folder in "$shared/corpus/dxf" "$shared/corpus/dwg" "$root/tests/drawing/fuzz-regressions" \
  "$root/examples"; do
  [ -d "$folder" ] && seeds="$seeds $folder"
done
# shellcheck disable=SC2086
exec "$work/render_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=262144 -artifact_prefix="$work/crashes/" "$@" $seeds
