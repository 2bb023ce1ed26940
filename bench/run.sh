#!/usr/bin/env bash
# Runs every case of pdf_bench in a process of its own and prints a summary table.
#
# A process's peak resident set size (getrusage ru_maxrss) only ever grows, so a case that
# shared its process with a larger one would report the larger one's peak; one process per
# case makes each peak_rss_MB the case's own. The figures are measurements only: nothing here
# judges them, and the exit status is not zero only when a case could not run.
#
# Usage: bench/run.sh [build folder]   (default: build/release)
set -euo pipefail

build_dir=${1:-build/release}
bench="$build_dir/bench/pdf_bench"
if [ ! -x "$bench" ]; then
  echo "run.sh: $bench not found; build it first: cmake --preset release && cmake --build --preset release" >&2
  exit 1
fi

results=$(mktemp -d /tmp/tarnvelox-bench-results-XXXXXX)
trap 'rm -rf "$results"' EXIT

mapfile -t cases < <("$bench" --benchmark_list_tests)
if [ ${#cases[@]} -eq 0 ]; then
  echo "run.sh: $bench lists no cases" >&2
  exit 1
fi

status=0
index=0
for name in "${cases[@]}"; do
  index=$((index + 1))
  # Case names hold only letters, digits, "_", "/" and ":", which the filter's regular
  # expressions take literally; the anchors keep one case from selecting another.
  if ! "$bench" --benchmark_filter="^${name}\$" \
      --benchmark_out="$results/$(printf '%02d' "$index").json" --benchmark_out_format=json; then
    echo "run.sh: $name did not complete" >&2
    status=1
  fi
done

if ! command -v python3 >/dev/null 2>&1; then
  echo "run.sh: python3 is not installed; the table is left out (the console output above has every figure)" >&2
  exit "$status"
fi

python3 - "$results" <<'PYTHON'
import glob
import json
import os
import sys

MIB = 1024.0 * 1024.0
TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}

rows = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    with open(path) as f:
        rows.extend(json.load(f).get("benchmarks", []))

def number(value, digits=1):
    return "-" if value is None else f"{value:.{digits}f}"

def base_name(row):
    return row["name"].split("/")[0]

print()
header = f"{'case':<36} {'ms/iter':>9} {'MB/s':>9} {'peak RSS MB':>12} {'file MB':>9}  notes"
print(header)
print("-" * len(header))
rates = {}
for row in rows:
    if row.get("error_occurred"):
        print(f"{row['name']:<36} {'error: ' + row.get('error_message', ''):>9}")
        continue
    ms = row["real_time"] * TO_MS.get(row.get("time_unit", "ns"), 1e-6)
    rate = row.get("bytes_per_second")
    rate_mib = rate / MIB if rate else None
    if rate_mib:
        rates[base_name(row)] = rate_mib
    notes = []
    if "faults_per_iter" in row:
        notes.append(f"{row['faults_per_iter']:.0f} page faults/iter")
    if "deflated_pct" in row:
        notes.append(f"deflated to {row['deflated_pct']:.1f}%")
    if "objects" in row:
        notes.append(f"{row['objects']:.0f} objects")
    if "budget_MB" in row:
        notes.append(f"bitmap {row['bitmap_MB']:.1f} + hex text {row['hex_text_MB']:.1f}"
                     f" + deflated ~{row['file_MB']:.1f}; expected peak ~{row['budget_MB']:.1f}")
    print(f"{row['name']:<36} {number(ms):>9} {number(rate_mib):>9} "
          f"{number(row.get('peak_rss_MB')):>12} {number(row.get('file_MB'), 2):>9}  "
          + "; ".join(notes))

append, compress = rates.get("BM_ContentAppend"), rates.get("BM_Compress")
print()
if append and compress:
    print(f"append {append:.1f} MB/s / compress {compress:.1f} MB/s = {append / compress:.1f}x"
          " (project goal: at least 10x)")
else:
    print("append / compress ratio: not available (a case is missing)")
print("MB = MiB (2^20 bytes); peak RSS is per case, each in its own process.")
PYTHON

exit "$status"
