#!/usr/bin/env bash
# Runs every case of every benchmark program in a process of its own and prints a table.
#
# A process's peak resident set size (getrusage ru_maxrss) only ever grows, so a case that
# shared its process with a larger one would report the larger one's peak; one process per
# case makes each peak_rss_MB the case's own. The figures are measurements only: nothing here
# judges them, and the exit status is not zero only when a case could not run.
#
# Usage: bench/run.sh [build folder] [name filter]   (default: build/release, every case)
set -euo pipefail

build_dir=${1:-build/release}
filter=${2:-}
mapfile -t programs < <(find "$build_dir/bench" -maxdepth 1 -type f -name '*_bench' -perm -u+x | sort)
if [ ${#programs[@]} -eq 0 ]; then
  echo "run.sh: no benchmark programs in $build_dir/bench; build them first:" \
       "cmake --preset release && cmake --build --preset release" >&2
  exit 1
fi

results=$(mktemp -d /tmp/tarnvelox-bench-results-XXXXXX)
trap 'rm -rf "$results"' EXIT

status=0
index=0
for bench in "${programs[@]}"; do
  mapfile -t cases < <("$bench" --benchmark_list_tests)
  for name in "${cases[@]}"; do
    if [ -n "$filter" ] && [[ "$name" != *"$filter"* ]]; then continue; fi
    index=$((index + 1))
    # Case names hold only letters, digits, "_", "/" and ":", which the filter's regular
    # expressions take literally; the anchors keep one case from selecting another.
    if ! "$bench" --benchmark_filter="^${name}\$" \
        --benchmark_out="$results/$(printf '%03d' "$index").json" \
        --benchmark_out_format=json >/dev/null 2>&1; then
      echo "run.sh: $name of $(basename "$bench") did not complete" >&2
      status=1
    fi
  done
done

python3 - "$results" <<'PYTHON'
import glob, json, os, sys

MIB = 1024.0 * 1024.0
TO_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
STANDARD = {"name", "family_index", "per_family_instance_index", "run_name", "run_type",
            "repetitions", "repetition_index", "threads", "iterations", "real_time", "cpu_time",
            "time_unit", "bytes_per_second", "items_per_second", "peak_rss_MB", "label",
            "aggregate_name", "aggregate_unit", "error_occurred", "error_message"}

rows = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.json"))):
    with open(path) as f:
        rows.extend(json.load(f).get("benchmarks", []))

print(f"{'case':<40} {'ms/iter':>10} {'MB/s':>10} {'items/s':>12} {'peak RSS MB':>12}  other counters")
for row in rows:
    if row.get("error_occurred"):
        print(f"{row['name']:<40} error: {row.get('error_message', '')}")
        continue
    ms = row["real_time"] * TO_MS.get(row.get("time_unit", "ns"), 1e-6)
    rate = row.get("bytes_per_second")
    items = row.get("items_per_second")
    rss = row.get("peak_rss_MB")
    other = "; ".join(f"{k} {v:.4g}" for k, v in row.items()
                      if k not in STANDARD and isinstance(v, (int, float)))
    print(f"{row['name']:<40} {ms:>10.3f} {(rate / MIB if rate else 0):>10.1f} "
          f"{(items or 0):>12.4g} {(rss or 0):>12.1f}  {other}")
rates = {r["name"].split("/")[0]: r for r in rows if not r.get("error_occurred")}
if "BM_ContentAppend" in rates and "BM_Compress" in rates:
    a, z = rates["BM_ContentAppend"]["bytes_per_second"], rates["BM_Compress"]["bytes_per_second"]
    print(f"appending {a / MIB:.0f} MB/s against deflating {z / MIB:.1f} MB/s: {a / z:.0f}x")
if "BM_DeviceSegments" in rates:
    r = rates["BM_DeviceSegments"]
    a, z = r["bytes_per_second"] / MIB, r["compress_MB_per_s"]
    print(f"device operators {a:.0f} MB/s against deflating them {z:.1f} MB/s: {a / z:.1f}x")
print("MB = MiB (2^20 bytes); peak RSS is per case, each in its own process.")
PYTHON

exit "$status"
