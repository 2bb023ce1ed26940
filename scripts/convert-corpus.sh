#!/usr/bin/env bash
# Converts the example drawings and the shared corpus's DXF drawings in the three output modes
# (and the examples with a few colour and pen options) into OUT, with a fixed creation date, so
# that two builds can be compared file by file:
#
#   scripts/convert-corpus.sh build/dev/cli/tarnvelox-cli /tmp/before
#   scripts/convert-corpus.sh build/dev/cli/tarnvelox-cli /tmp/after
#   diff -r /tmp/before /tmp/after && echo identical
set -uo pipefail
cli=$(realpath "$1")
out=$2
root=$(cd "$(dirname "$0")/.." && pwd)
shared=${TARNVELOX_SHARED_DIR:-$root/../shared}
export SOURCE_DATE_EPOCH=1700000000 TZ=UTC
mkdir -p "$out"
log=$out/log.txt
: > "$log"

drawings=("$root"/examples/*.dxf)
if [ -d "$shared/corpus/dxf" ]; then
  while IFS= read -r f; do drawings+=("$f"); done < <(find "$shared/corpus/dxf" -iname '*.dxf' | sort)
fi

for f in "${drawings[@]}"; do
  rel=${f#"$root"/}
  rel=${rel#"$shared"/}
  name=${rel%.*}
  for mode in per-drawing merge per-layout; do
    dir=$out/$mode/$name
    mkdir -p "$dir"
    if [ "$mode" = merge ]; then target=$dir/merged.pdf; else target=$dir; fi
    "$cli" -q -t "$mode" -o "$target" "$f" >>"$log" 2>&1
    echo "$mode $rel status $?" >>"$log"
  done
done

# The examples once more with the options that change colours, widths and layers.
ex=("$root"/examples/*.dxf)
run() { local name=$1; shift; mkdir -p "$out/options"; "$cli" -q -t merge -o "$out/options/$name.pdf" "$@" "${ex[@]}" >>"$log" 2>&1; echo "options $name status $?" >>"$log"; }
run gray --colors gray
run bw --colors bw --no-layers
run paper --layout paper --paper A3 --margin 10mm --area layout
run model --layout model --area view --dpi 72
if [ -f "$shared/corpus/ctb/mod2_acad.ctb" ]; then
  run ctb --ctb "$shared/corpus/ctb/mod2_acad.ctb"
fi
find "$out" -name '*.pdf' | wc -l
