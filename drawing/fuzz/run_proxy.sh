#!/bin/sh
# Builds the fuzz target of the proxy graphics decoder with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for SECONDS (default 60), seeded with the graphics of
# the proxy and custom entities in the DXF files of the shared corpus (and the regression inputs
# named *.proxy). New interesting inputs collect in build/fuzz-proxy/corpus, inputs that fail
# in build/fuzz-proxy/crashes. Extra arguments go to libFuzzer.
#
#   drawing/fuzz/run_proxy.sh 600
#   drawing/fuzz/run_proxy.sh 0 build/fuzz-proxy/crashes/crash-1234   # replay one input
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${TARNVELOX_FUZZ_DIR:-$root/build/fuzz-proxy}
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
mkdir -p "$work/corpus" "$work/crashes"

clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root" "$here/ProxyGraphicsFuzz.cpp" "$root/drawing/Model.cpp" \
  "$root/drawing/ProxyGraphics.cpp" "$root/drawing/text/TextDecoder.cpp" \
  "$root/platform/Utf8.cpp" "$root/platform/ColorPalette.cpp" -o "$work/proxy_fuzz"

if [ "$seconds" = 0 ] && [ $# -gt 0 ]; then
  exec "$work/proxy_fuzz" "$@"
fi

# Seeds: each entity's graphics (a size in group 92 or 160, then 310 groups of hex) from the
# ASCII DXF files, behind a first byte of 0 (R2000 forms) and of 2 (R2010 forms).
seeds="$work/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
find "$shared/corpus" -name '*.dxf' 2>/dev/null | python3 -c '
import pathlib, sys
seeds = pathlib.Path(sys.argv[1])
count = 0
for name in sys.stdin.read().split():
    lines = [line.strip() for line in open(name, encoding="latin-1").read().split("\n")]
    for i in range(0, len(lines) - 3, 2):
        if lines[i] in ("92", "160") and lines[i + 2] == "310":
            data = b""
            j = i + 2
            while j + 1 < len(lines) and lines[j] == "310":
                try:
                    data += bytes.fromhex(lines[j + 1])
                except ValueError:
                    break
                j += 2
            if len(data) >= 8 and data[:4] == len(data).to_bytes(4, "little"):
                for form in (0, 2):
                    (seeds / f"seed-{count}-{form}").write_bytes(bytes([form]) + data)
                count += 1
print(f"{count} graphics from the corpus", file=sys.stderr)
' "$seeds"
if [ -d "$root/tests/drawing/fuzz-regressions" ]; then
  for input in "$root"/tests/drawing/fuzz-regressions/*.proxy; do
    [ -e "$input" ] && cp "$input" "$seeds/"
  done
fi

exec "$work/proxy_fuzz" "$work/corpus" "$seeds" \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$work/crashes/" -print_final_stats=1 "$@"
