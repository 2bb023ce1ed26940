#!/usr/bin/env bash
# End-to-end benchmark of tarnvelox-cli: converts a large drawing of the corpus and a generated
# drawing of a million entities in merge mode and prints, for each, the wall time, the peak
# resident memory, the output's size and how much of the run went into deflating the content
# streams; then does the same conversions with LibreCAD's `librecad dxf2pdf` for comparison.
#
# The figures are measurements only: nothing here judges them. The exit status is not zero only
# when the benchmark itself could not run (no tarnvelox-cli, no python3).
#
# Usage: bench/cli-bench.sh [BUILD_DIR]        (default: build/release)
#   build it first: cmake --preset release && cmake --build --preset release --target tarnvelox-cli
#
# Environment (all optional):
#   BENCH_ENTITIES          entities of the generated drawing (default 1000000)
#   BENCH_PROFILE_ENTITIES  entities of the smaller drawing profiled under callgrind (100000)
#   BENCH_CORPUS            folder searched for the largest .dxf (/work/shared/corpus/dxf)
#   BENCH_PEER=0            skip LibreCAD; BENCH_PEER_INSTALL=0 only use it when installed
#   BENCH_PEER_TIMEOUT      seconds one LibreCAD conversion may take (default 1200)
#   BENCH_PROFILE=0         skip the zlib profile
#   BENCH_KEEP=1            keep the temporary folder (its path is printed)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${1:-build/release}
cli="$build_dir/cli/tarnvelox-cli"
entities=${BENCH_ENTITIES:-1000000}
profile_entities=${BENCH_PROFILE_ENTITIES:-100000}
corpus=${BENCH_CORPUS:-/work/shared/corpus/dxf}
peer_timeout=${BENCH_PEER_TIMEOUT:-1200}

if [ ! -x "$cli" ]; then
  echo "cli-bench.sh: no $cli; build it first:" \
       "cmake --preset release && cmake --build --preset release --target tarnvelox-cli" >&2
  exit 1
fi
cli=$(cd "$(dirname "$cli")" && pwd)/tarnvelox-cli
if ! command -v python3 >/dev/null; then
  echo "cli-bench.sh: python3 is needed for the generator and the measurements" >&2
  exit 1
fi

work=$(mktemp -d /tmp/tarnvelox-cli-bench-XXXXXX)
if [ "${BENCH_KEEP:-0}" = 1 ]; then
  echo "temporary files: $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi

log() { echo "[$(date -u +%H:%M:%S)] $*" >&2; }

# Runs a command and writes "wall_s peak_rss_kB exit_status cpu_s" into $1. The peak is
# getrusage's ru_maxrss of the waited-for children (the command and anything it waited for),
# not of this wrapper. Standard output and error go to $2, each stderr line prefixed with the
# seconds since the start, so the log shows where a conversion spends its time.
measure_py='
import resource, subprocess, sys, time
result, logfile, cmd = sys.argv[1], sys.argv[2], sys.argv[3:]
start = time.perf_counter()
with open(logfile, "w") as log:
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                         errors="replace")
    for line in p.stderr:
        log.write(f"{time.perf_counter() - start:9.3f}s  {line}")
    rc = p.wait()
wall = time.perf_counter() - start
r = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(result, "w") as f:
    f.write(f"{wall:.3f} {r.ru_maxrss} {rc} {r.ru_utime + r.ru_stime:.3f}\n")
'
measure() { python3 -c "$measure_py" "$@"; }

size_of() { if [ -f "$1" ]; then stat -c %s "$1"; else echo 0; fi; }
mb() { awk -v b="$1" 'BEGIN { printf "%.2f", b / 1048576 }'; }

# -- 1. the drawings -------------------------------------------------------------------------
names=()
inputs=()
if [ -d "$corpus" ]; then
  largest=$(find "$corpus" -type f -iname '*.dxf' -printf '%s\t%p\n' 2>/dev/null |
            sort -n | tail -n 1 | cut -f 2-)
  if [ -n "$largest" ]; then
    names+=("corpus:$(basename "$largest")")
    inputs+=("$largest")
  fi
else
  log "no $corpus: the corpus drawing is skipped"
fi

generated="$work/generated-$entities.dxf"
log "generating $generated ($entities entities)"
gen_start=$(date +%s.%N)
if ! python3 "$here/generate_dxf.py" "$generated" "$entities"; then
  echo "cli-bench.sh: the generator failed" >&2
  exit 1
fi
log "generated $(mb "$(size_of "$generated")") MB in" \
    "$(awk -v a="$gen_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
names+=("generated:${entities}")
inputs+=("$generated")

# -- 2. tarnvelox-cli ------------------------------------------------------------------------
declare -A wall rss status outsize peer_wall peer_rss peer_status peer_outsize share share_note

for i in "${!inputs[@]}"; do
  in=${inputs[$i]}
  out="$work/ours-$i.pdf"
  log "tarnvelox-cli: ${names[$i]} ($(mb "$(size_of "$in")") MB)"
  measure "$work/ours-$i.time" "$work/ours-$i.log" \
    "$cli" -t merge -o "$out" --area extents "$in"
  w=0; m=0; s="not run"
  [ -s "$work/ours-$i.time" ] && read -r w m s _ < "$work/ours-$i.time"
  wall[$i]=$w; rss[$i]=$m; status[$i]=$s; outsize[$i]=$(size_of "$out")
  log "  ${w} s, peak $(mb $((m * 1024))) MB, exit $s; log with seconds since start:"
  sed 's/^/    /' "$work/ours-$i.log" | head -n 20 >&2
  rm -f "$out"
done

# -- the share of deflate ---------------------------------------------------------------------
# callgrind counts instructions on a smaller drawing of the same make-up (and on each corpus
# drawing, which are small), and the share is the inclusive cost of zlib's deflate (called by
# CPdfContentStream while a page is drawn, by Compress at its end, and through compress2 for
# the small streams) against the program's total: instructions stand in for time.
# Where perf can sample (the cpu-clock software event needs no hardware counters, so it works
# in virtual machines too), the real runs are sampled as well and perf_z% is the share of
# samples in libz: time rather than instructions. Without valgrind perf's share is the one used.
profile_with=none
perf_works=0
if [ "${BENCH_PROFILE:-1}" != 0 ]; then
  if command -v perf >/dev/null &&
     perf record -q -e cpu-clock -o "$work/probe.data" -- true >/dev/null 2>&1; then
    perf_works=1
  fi
  rm -f "$work/probe.data"
  if command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
    profile_with=callgrind
  elif [ "$perf_works" = 1 ]; then
    profile_with=perf
  fi
fi
log "zlib share measured with: $profile_with (perf sampling: $([ "$perf_works" = 1 ] && echo yes || echo no))"

declare -A perf_share
if [ "$perf_works" = 1 ]; then
  for i in "${!inputs[@]}"; do
    log "perf record: ${names[$i]}"
    perf record -q -e cpu-clock -o "$work/perf-$i.data" -- \
      "$cli" -q -t merge -o "$work/perf-$i.pdf" --area extents "${inputs[$i]}" \
      >/dev/null 2>&1
    perf report -i "$work/perf-$i.data" --sort dso --stdio 2>/dev/null |
      grep -v '^#' | grep . > "$work/perf-$i.txt"
    perf_share[$i]=$(awk '/libz\.so/ { gsub("%", "", $1); s += $1 }
                          END { printf "%.4f", s / 100 }' "$work/perf-$i.txt")
    log "  samples by library:"
    head -n 6 "$work/perf-$i.txt" | sed 's/^/    /' >&2
    if [ "$profile_with" = perf ]; then
      share[$i]=${perf_share[$i]}
      share_note[$i]="perf cpu-clock, libz samples"
    fi
    rm -f "$work/perf-$i.data" "$work/perf-$i.pdf"
  done
fi

if [ "$profile_with" = callgrind ]; then
  # The profile of each corpus drawing is its own (they are small); the generated drawing's
  # comes from the smaller generated one.
  profiled=()
  for i in "${!inputs[@]}"; do
    if [ "${inputs[$i]}" = "$generated" ]; then
      small="$work/generated-$profile_entities.dxf"
      python3 "$here/generate_dxf.py" "$small" "$profile_entities" 2>/dev/null
      profiled[$i]=$small
      share_note[$i]="callgrind Ir, ${profile_entities} entities"
    else
      profiled[$i]=${inputs[$i]}
      share_note[$i]="callgrind Ir"
    fi
  done
  for i in "${!inputs[@]}"; do
    log "callgrind: $(basename "${profiled[$i]}")"
    valgrind --tool=callgrind --callgrind-out-file="$work/cg-$i.out" \
      "$cli" -q -t merge -o "$work/cg-$i.pdf" --area extents "${profiled[$i]}" \
      >/dev/null 2>"$work/cg-$i.log"
    callgrind_annotate --inclusive=yes "$work/cg-$i.out" > "$work/cg-$i.txt" 2>/dev/null
    share[$i]=$(awk '
      /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
      /:deflate \[.*libz/ { gsub(",", "", $1); compress += $1 }
      END { if (total > 0) printf "%.4f", compress / total; else print "" }' "$work/cg-$i.txt")
    zlib_all=$(awk '
      /PROGRAM TOTALS/ { gsub(",", "", $1); total = $1 }
      /:compress2 \[.*libz/ { gsub(",", "", $1); z += $1 }
      END { if (total > 0) printf "%.1f", 100 * z / total }' "$work/cg-$i.txt")
    log "  deflate inclusive $(awk -v s="${share[$i]:-0}" 'BEGIN { printf "%.1f", 100 * s }')%," \
        "all of zlib's compress2 ${zlib_all}%; the heaviest functions (inclusive):"
    grep -E '^ *[0-9,]+ \( *[0-9.]+%\)' "$work/cg-$i.txt" | grep -v 'PROGRAM TOTALS' |
      grep -v -E 'start_thread|_M_run|ThreadProc|libstdc\+\+|\(below main\)|_start|clone' |
      head -n 14 | sed -e 's/^/    /' -e 's/\[[^]]*\]$//' >&2
    rm -f "$work/cg-$i.out" "$work/cg-$i.pdf"
  done
fi

# -- 3. the peer: LibreCAD's dxf2pdf ---------------------------------------------------------
peer=none
if [ "${BENCH_PEER:-1}" != 0 ]; then
  if ! command -v librecad >/dev/null && [ "${BENCH_PEER_INSTALL:-1}" != 0 ]; then
    log "installing librecad (Debian package)"
    sudo_cmd=""
    [ "$(id -u)" != 0 ] && sudo_cmd=sudo
    if ! { $sudo_cmd apt-get install -y librecad >"$work/apt.log" 2>&1 ||
           { $sudo_cmd apt-get update >>"$work/apt.log" 2>&1 &&
             $sudo_cmd apt-get install -y librecad >>"$work/apt.log" 2>&1; }; }; then
      log "installing librecad failed (last lines below); the peer is skipped"
      tail -n 5 "$work/apt.log" >&2
    fi
  fi
  if command -v librecad >/dev/null; then
    peer="librecad $(dpkg-query -W -f '${Version}' librecad 2>/dev/null)"
    for i in "${!inputs[@]}"; do
      # dxf2pdf 2.2 takes -o as a switch and writes NAME.pdf next to the drawing, so the
      # output goes to a folder of its own with -t (the corpus may be read-only, too).
      outdir="$work/peer-$i"
      mkdir -p "$outdir"
      out="$outdir/$(basename "${inputs[$i]%.*}").pdf"
      log "librecad dxf2pdf: ${names[$i]} (timeout ${peer_timeout} s)"
      # -a fits and centres the drawing on the page, as --area extents does.
      QT_QPA_PLATFORM=offscreen measure "$work/peer-$i.time" "$work/peer-$i.log" \
        timeout "$peer_timeout" librecad dxf2pdf -a -t "$outdir" "${inputs[$i]}"
      w=0; m=0; s="not run"
      [ -s "$work/peer-$i.time" ] && read -r w m s _ < "$work/peer-$i.time"
      peer_wall[$i]=$w; peer_rss[$i]=$m; peer_status[$i]=$s; peer_outsize[$i]=$(size_of "$out")
      [ "$s" = 124 ] && peer_status[$i]="124 (timed out)"
      log "  ${w} s, peak $(mb $((m * 1024))) MB, exit ${peer_status[$i]}"
      rm -rf "$outdir"
    done
  fi
fi

# -- the table ---------------------------------------------------------------------------------
echo
echo "$("$cli" --version 2>/dev/null | head -n 1), merge mode, --area extents;" \
     "peer: $peer"
printf '%-30s %8s %9s %8s %9s %8s %7s %11s %7s %9s %9s %8s\n' \
  drawing in_MB wall_s peak_MB mem_ratio out_MB zlib_% out/in_zlib perf_z% peer_s peer_MB ours/peer
for i in "${!inputs[@]}"; do
  in_bytes=$(size_of "${inputs[$i]}")
  peak_bytes=$(( ${rss[$i]} * 1024 ))
  mem_ratio=$(awk -v p="$peak_bytes" -v n="$in_bytes" \
              'BEGIN { printf "%.2f", p / (3 * n + 100 * 1048576) }')
  s=${share[$i]:-}
  if [ -n "$s" ]; then
    zpct=$(awk -v s="$s" 'BEGIN { printf "%.1f", 100 * s }')
    zratio=$(awk -v s="$s" 'BEGIN { if (s > 0) printf "%.2f", (1 - s) / s; else print "inf" }')
  else
    zpct="-"; zratio="-"
  fi
  if [ -n "${peer_wall[$i]:-}" ]; then
    pw=${peer_wall[$i]}; pm=$(mb $(( ${peer_outsize[$i]} )))
    ratio=$(awk -v a="${wall[$i]}" -v b="$pw" 'BEGIN { if (b > 0) printf "%.2f", a / b }')
    [ "${peer_status[$i]}" != 0 ] && ratio="(exit ${peer_status[$i]%% *})"
  else
    pw="-"; pm="-"; ratio="-"
  fi
  ours_out=$(mb "${outsize[$i]}")
  [ "${status[$i]}" != 0 ] && ours_out="exit${status[$i]}"
  pz="-"
  [ -n "${perf_share[$i]:-}" ] && pz=$(awk -v s="${perf_share[$i]}" 'BEGIN { printf "%.1f", 100 * s }')
  printf '%-30s %8s %9s %8s %9s %8s %7s %11s %7s %9s %9s %8s\n' \
    "${names[$i]:0:30}" "$(mb "$in_bytes")" "${wall[$i]}" "$(mb "$peak_bytes")" "$mem_ratio" \
    "$ours_out" "$zpct" "$zratio" "$pz" "$pw" "$pm" "$ratio"
done
echo
echo "mem_ratio = peak RSS / (3 x input + 100 MB), target <= 1."
echo "zlib_% = share of the run in zlib's deflate (content and images); out/in_zlib = time"
notes=()
for i in "${!inputs[@]}"; do notes+=("${names[$i]}: ${share_note[$i]:-none}"); done
echo "outside zlib / time inside zlib, target <= 1. zlib share from: $profile_with" \
     "($(IFS=';'; echo "${notes[*]}" | sed 's/;/; /g'))"
echo "perf_z% = share of cpu-clock samples in libz on the full run (time, where zlib_% counts"
echo "instructions). peer_MB = the peer's output size; ours/peer = our wall time / the peer's (not shown when"
echo "the peer failed or timed out). MB = MiB."
exit 0
