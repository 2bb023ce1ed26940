#!/bin/sh
# Builds the DWF reader's fuzz target (packages and W2D streams) with libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it for SECONDS (default 60). MODE
# "w2d" (default) seeds it with the shared corpus's W2D streams (those inside the packages
# too) without their header, so that it works on the graphics decoder; "package" seeds it with
# the whole DWF files. New interesting inputs collect in build/fuzz-dwf-MODE/corpus, failing
# inputs in build/fuzz-dwf-MODE/crashes. Extra arguments go to libFuzzer. TIMEOUT sets the
# seconds one input may take (default 10; raise it on a machine busy with other work, where
# wall time is not the input's own).
#
#   drawing/fuzz/run_dwf.sh 1800 w2d
#   drawing/fuzz/run_dwf.sh 1800 package
#   drawing/fuzz/run_dwf.sh 0 w2d build/fuzz-dwf-w2d/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
mode=${1:-w2d}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz-dwf-$mode}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes"

# The reader, the model's promises and the platform helpers it uses; libzip, pugixml and zlib
# from the system.
clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/DwfFuzz.cpp" "$root"/drawing/dwf/DwfReader.cpp "$root"/drawing/dwf/W2dDecoder.cpp \
  "$root"/drawing/Model.cpp "$root"/platform/ColorPalette.cpp "$root"/platform/Utf8.cpp \
  -lzip -lpugixml -lz -o "$work/dwf_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/dwf_fuzz" "$@"
fi

# Words of the format: opcodes, option names and package names.
cat > "$work/dwf.dict" <<'WORDS'
"(W2D V06.00)"
"(DWF V00.55)"
"(DWF V06.00)"
"(EndOfDWF)"
"(Color "
"(ColorMap "
"(LineWeight "
"(Layer "
"(Contour "
"(Circle "
"(Ellipse "
"(Bezier "
"(Text "
"(Font (Name "
"(Height "
"(Viewport "
"(PlotInfo show 0 in 11 8.5 0 0 11 8.5 ((1 0 0)(0 1 0)(0 0 1)))"
"(View "
"(Gouraud "
"(LinePattern "
"\x7b\x10\x00\x00\x00\x0c\x00"
"\x7b\x10\x00\x00\x00\x11\x00"
"\x7b\x10\x00\x00\x00\x10\x00"
"\x7b\x10\x00\x00\x00\x01\x00"
"\x7b\x10\x00\x00\x00\x09\x00"
"manifest.xml"
"descriptor.xml"
"com.autodesk.dwf.ePlot"
"2d streaming graphics"
"PK\x03\x04"
"PK\x01\x02"
"PK\x05\x06"
WORDS

seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
if [ -d "$shared/corpus/dwf" ]; then
  if [ "$mode" = package ]; then
    # The corpus's packages are up to megabytes of pictures and fonts, which makes each run
    # slow (a few runs a second): small copies of them (members other than the XML and the
    # graphics left out, the graphics cut to 16 KB, stored uncompressed) let the fuzzer try
    # far more structures. The whole packages were fuzzed before; FULL=1 seeds with them.
    [ "${FULL:-0}" = 1 ] && cp "$shared"/corpus/dwf/*.dwf "$seeds/"
    python3 - "$shared/corpus/dwf" "$seeds" <<'PY'
import glob, io, os, sys, zipfile
source, seeds = sys.argv[1], sys.argv[2]
for path in sorted(glob.glob(os.path.join(source, '*.dwf'))):
    data = open(path, 'rb').read()
    start = data.find(b'PK\x03\x04')
    if start < 0:
        continue
    try:
        archive = zipfile.ZipFile(io.BytesIO(data[start:]))
    except zipfile.BadZipFile:
        continue
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED) as small:
        for member in archive.namelist():
            lower = member.lower()
            if lower.endswith('.xml'):
                small.writestr(member, archive.read(member))
            elif lower.endswith('.w2d'):
                small.writestr(member, archive.read(member)[:16384])
    name = 'small-' + os.path.basename(path)
    open(os.path.join(seeds, name), 'wb').write(data[:start] + out.getvalue())
PY
  else
    # Each W2D stream of the corpus, without its 12-byte header (the target adds one).
    python3 - "$shared/corpus/dwf" "$seeds" <<'PY'
import glob, os, sys, zipfile
source, seeds = sys.argv[1], sys.argv[2]
n = 0
for path in sorted(glob.glob(os.path.join(source, '*'))):
    if path.endswith('.w2d'):
        streams = [open(path, 'rb').read()]
    elif path.endswith('.dwf'):
        try:
            archive = zipfile.ZipFile(path)
        except zipfile.BadZipFile:
            continue
        streams = [archive.read(m) for m in archive.namelist() if m.lower().endswith('.w2d')]
    else:
        continue
    for stream in streams:
        n += 1
        open(os.path.join(seeds, 'w2d-%02d' % n), 'wb').write(stream[12:])
PY
  fi
fi
if [ -d "$root/tests/drawing/fuzz-regressions" ]; then
  cp "$root"/tests/drawing/fuzz-regressions/*.w2d "$root"/tests/drawing/fuzz-regressions/*.dwf \
    "$seeds/" 2>/dev/null || true
fi

exec "$work/dwf_fuzz" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -max_len=2000000 -rss_limit_mb=2048 -timeout="${TIMEOUT:-10}" \
  -dict="$work/dwf.dict" -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
