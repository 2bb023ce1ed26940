#!/usr/bin/env bash
# tarnvelox-cli beside the open converters, in one run on the same machine: ours with one job
# and with one job per core, LibreCAD's `librecad dxf2pdf` and LibreOffice's
# `soffice --convert-to pdf`, on one small drawing, the whole DXF corpus in one command, the
# corpus's largest drawing and two generated drawings (about 27 MB and 270 MB). For each it
# prints the wall time, the CPU time, the peak resident memory and the bytes written, and then
# the ratios: how many times faster we are than each peer, what the second job gains, and our
# peak against 3 × the input + 100 MB per job.
#
# The figures are measurements only: nothing here judges them. The exit status is not zero only
# when the benchmark itself could not run.
#
# Usage: bench/peers.sh [BUILD_DIR]       (default: build/release)
#   build it first: cmake --preset release && cmake --build --preset release --target tarnvelox-cli
#
# Environment (all optional):
#   PEERS_CORPUS        folder of the DXF corpus (default: ../shared/corpus/dxf beside the checkout)
#   PEERS_SIZES_MB      sizes of the generated drawings in MB (default "27 270")
#   PEERS_SMALL_RUNS    how often the small drawing is converted, for a steadier mean (default 10)
#   PEERS_TIMEOUT       seconds a peer may take for one drawing at most (default 600; LibreCAD
#                       gets 20 s and 10 s per MB below that, as it can hang on a drawing)
#   PEERS_INSTALL=0     do not install missing peers from Debian's packages
#   PEERS_KEEP=1        keep the temporary folder (its path is printed)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
build_dir=${1:-build/release}
cli="$build_dir/cli/tarnvelox-cli"
corpus=${PEERS_CORPUS:-$source_dir/../shared/corpus/dxf}
sizes=${PEERS_SIZES_MB:-27 270}
small_runs=${PEERS_SMALL_RUNS:-10}
timeout_s=${PEERS_TIMEOUT:-600}
cores=$(nproc)

if [ ! -x "$cli" ]; then
  echo "peers.sh: no $cli; build it first:" \
       "cmake --preset release && cmake --build --preset release --target tarnvelox-cli" >&2
  exit 1
fi
cli=$(cd "$(dirname "$cli")" && pwd)/tarnvelox-cli
work=$(mktemp -d /tmp/tarnvelox-peers-XXXXXX)
if [ "${PEERS_KEEP:-0}" = 1 ]; then echo "temporary files: $work" >&2; else trap 'rm -rf "$work"' EXIT; fi
log() { echo "[$(date -u +%H:%M:%S)] $*" >&2; }

# -- the peers ----------------------------------------------------------------------------------
install_peer() {  # command package
  command -v "$1" >/dev/null && return 0
  [ "${PEERS_INSTALL:-1}" = 0 ] && return 1
  log "installing $2 (Debian package)"
  local sudo_cmd=""
  [ "$(id -u)" != 0 ] && sudo_cmd=sudo
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "$2" \
    >>"$work/apt.log" 2>&1 || log "installing $2 failed; see $work/apt.log"
  command -v "$1" >/dev/null
}
tools=("ours-1" "ours-$cores")
install_peer librecad librecad && tools+=(librecad)
install_peer soffice libreoffice-draw-nogui && tools+=(libreoffice)
# LibreOffice keeps a profile of its own; it is made once here so that no run pays for it.
lo_profile="file://$work/lo-profile"
if [[ " ${tools[*]} " == *" libreoffice "* ]]; then
  soffice -env:UserInstallation="$lo_profile" --headless --terminate_after_init >/dev/null 2>&1
fi

# -- the drawings -------------------------------------------------------------------------------
declare -a case_names case_lists
add_case() {  # name, then the drawings
  local name=$1
  shift
  case_names+=("$name")
  printf '%s\n' "$@" > "$work/case-${#case_names[@]}.list"
}
add_case "small (examples/bracket.dxf)" "$source_dir/examples/bracket.dxf"
if [ -d "$corpus" ]; then
  mapfile -t drawings < <(find "$corpus" -type f -iname '*.dxf' | sort)
  add_case "corpus (${#drawings[@]} drawings)" "${drawings[@]}"
  largest=$(printf '%s\n' "${drawings[@]}" | xargs -d '\n' stat -c '%s %n' | sort -n | tail -n 1 |
            cut -d' ' -f2-)
  add_case "largest: $(basename "$largest")" "$largest"
else
  log "no corpus at $corpus: its cases are skipped"
fi
# The generator writes about 139 bytes per entity; the count is scaled from a small probe.
python3 "$here/generate_dxf.py" "$work/probe.dxf" 10000 || exit 1
per_entity=$(( $(stat -c %s "$work/probe.dxf") / 10000 ))
for mb in $sizes; do
  entities=$(( mb * 1048576 / per_entity ))
  log "generating ${mb} MB ($entities entities)"
  python3 "$here/generate_dxf.py" "$work/generated-$mb.dxf" "$entities" || exit 1
  add_case "generated ${mb} MB" "$work/generated-$mb.dxf"
done

# -- measuring ----------------------------------------------------------------------------------
# Runs a command `runs` times and writes "wall_s cpu_s peak_kB status" (means of the runs; the
# peak is the largest) into a file. The peak is getrusage's ru_maxrss of the waited-for
# children, the command's own processes included.
measure_py='
import resource, subprocess, sys, time
result, runs, cmd = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
start, rc = time.perf_counter(), 0
for _ in range(runs):
    rc = subprocess.call(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) or rc
wall = (time.perf_counter() - start) / runs
r = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(result, "w") as f:
    f.write(f"{wall:.4f} {(r.ru_utime + r.ru_stime) / runs:.4f} {r.ru_maxrss} {rc}\n")
'
run_tool() {  # tool, case index, result file, output folder
  local tool=$1 list="$work/case-$2.list" result=$3 out=$4 runs=1
  mapfile -t files < "$list"
  [ "$2" = 1 ] && runs=$small_runs
  mkdir -p "$out"
  case $tool in
    ours-*)
      python3 -c "$measure_py" "$result" "$runs" "$cli" -q -j "${tool#ours-}" -t per-drawing \
        -o "$out" --from-list "$list" ;;
    librecad)
      # One process per drawing, each with a time limit of its own: given the whole corpus in
      # one command, dxf2pdf 2.2 stops for good at the drawing it cannot read. -a fits each
      # drawing to its page.
      QT_QPA_PLATFORM=offscreen python3 -c "$measure_py" "$result" "$runs" bash -c '
        out=$1 limit=$2; shift 2; failed=0
        for f in "$@"; do
          # 20 s and 10 s per MB: a drawing it hangs on (waiting for a dialog) ends soon.
          mb=$(( $(stat -c %s "$f") / 1048576 ))
          seconds=$(( 20 + 10 * mb < limit ? 20 + 10 * mb : limit ))
          timeout "$seconds" librecad dxf2pdf -a -t "$out" "$f" || failed=1
        done
        exit $failed' peer "$out" "$timeout_s" "${files[@]}" ;;
    libreoffice)
      python3 -c "$measure_py" "$result" "$runs" timeout "$timeout_s" \
        soffice -env:UserInstallation="$lo_profile" --headless --convert-to pdf \
        --outdir "$out" "${files[@]}" ;;
  esac
}

declare -A wall cpu peak status bytes pdfs
for c in "${!case_names[@]}"; do
  k=$((c + 1))
  for tool in "${tools[@]}"; do
    log "${case_names[$c]}: $tool"
    out="$work/out-$k-$tool"
    rm -rf "$out"
    run_tool "$tool" "$k" "$work/t-$k-$tool" "$out"
    read -r w u m s < "$work/t-$k-$tool"
    wall[$k,$tool]=$w; cpu[$k,$tool]=$u; peak[$k,$tool]=$m; status[$k,$tool]=$s
    bytes[$k,$tool]=$(du -sb "$out" | cut -f1)
    pdfs[$k,$tool]=$(find "$out" -name '*.pdf' | wc -l)
    rm -rf "$out"
  done
done

# -- the table ----------------------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
echo
echo "$("$cli" --version | head -n 1) on $cores cores; one PDF per drawing; peers:" \
     "$(dpkg-query -W -f '${Package} ${Version}  ' librecad libreoffice-draw-nogui 2>/dev/null)"
printf '%-34s %-12s %9s %9s %9s %6s %10s %5s\n' case tool wall_s cpu_s peak_MB exit out_MB pdfs
for c in "${!case_names[@]}"; do
  k=$((c + 1))
  for tool in "${tools[@]}"; do
    printf '%-34s %-12s %9s %9s %9s %6s %10s %5s\n' "${case_names[$c]:0:34}" "$tool" \
      "${wall[$k,$tool]}" "${cpu[$k,$tool]}" "$(awk -v k="${peak[$k,$tool]}" \
      'BEGIN { printf "%.1f", k / 1024 }')" "${status[$k,$tool]}" \
      "$(awk -v b="${bytes[$k,$tool]}" 'BEGIN { printf "%.2f", b / 1048576 }')" \
      "${pdfs[$k,$tool]}"
  done
done
echo
printf '%-34s %12s %12s %12s %12s\n' case "LO/ours-$cores" "LC/ours-$cores" "ours-1/-$cores" \
  "peak/budget"
for c in "${!case_names[@]}"; do
  k=$((c + 1))
  mapfile -t files < "$work/case-$k.list"
  in_bytes=$(cat "${files[@]}" | wc -c)
  largest_in=$(stat -c %s "${files[@]}" | sort -n | tail -n 1)
  # Each job holds at most one drawing: the budget counts the largest one per job.
  jobs=$(( cores < ${#files[@]} ? cores : ${#files[@]} ))
  budget_kb=$(( (3 * largest_in * jobs + jobs * 100 * 1048576) / 1024 ))
  lo="-"; lc="-"
  [ -n "${wall[$k,libreoffice]:-}" ] && lo=$(ratio "${wall[$k,libreoffice]}" "${wall[$k,ours-$cores]}")
  [ -n "${wall[$k,librecad]:-}" ] && lc=$(ratio "${wall[$k,librecad]}" "${wall[$k,ours-$cores]}")
  printf '%-34s %12s %12s %12s %12s\n' "${case_names[$c]:0:34}" "$lo" "$lc" \
    "$(ratio "${wall[$k,ours-1]}" "${wall[$k,ours-$cores]}")" \
    "$(ratio "${peak[$k,ours-$cores]}" "$budget_kb")"
done
echo
echo "LO/ours and LC/ours: the peer's wall time over ours with $cores jobs (above 1: we are faster)."
echo "ours-1/-$cores: what the jobs gain. peak/budget: our peak over 3 x the largest input + 100 MB,"
echo "per job (at most 1 meets it). The small drawing's figures are means of $small_runs runs."
echo "Targets: large drawings at least 5 x LibreOffice and above 1 x LibreCAD; the corpus above"
echo "1 x LibreOffice; the small drawing at least 1 x LibreCAD; the corpus ours-1/-2 at least 1.7."
exit 0
