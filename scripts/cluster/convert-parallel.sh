#!/usr/bin/env bash
# Converts an archive of drawings on several machines with GNU parallel: each host converts one
# share of the same list (tarnvelox-cli --shard K/N), so no coordinator is needed. Every host
# must see the drawings and the output folder at the same paths (a shared file system), and have
# tarnvelox-cli on its PATH. The results of each share are collected as JSON in OUT/.shards/.
#
#   scripts/cluster/convert-parallel.sh LIST OUT HOST...
#
#   LIST   a file naming one drawing (or folder) per line
#   OUT    the output folder (one PDF per drawing)
#   HOST   ssh logins as GNU parallel takes them ("user@host", "4/host" for 4 jobs there,
#          ":" for this machine)
#
# A stopped run resumes where it was: run it again; drawings whose PDF is newer are left.
# Extra options for tarnvelox-cli can be given in TARNVELOX_OPTIONS (e.g. "--paper A3").
set -euo pipefail
list=$(realpath "$1")
out=$(realpath -m "$2")
shift 2
[ $# -gt 0 ] || { echo "usage: $0 LIST OUT HOST..." >&2; exit 64; }
cli=${TARNVELOX_CLI:-tarnvelox-cli}
shares=$#
logins=()
for host in "$@"; do logins+=(-S "1/$host"); done
mkdir -p "$out/.shards"
# One share per host; each share uses every core of its host (--jobs defaults to the cores). The
# command is one line for the remote shell, its paths quoted.
command=$(printf '%q -q --json --skip-existing -t per-drawing -o %q --from-list %q %s' \
  "$cli" "$out" "$list" "${TARNVELOX_OPTIONS:-}")
seq 0 $((shares - 1)) | parallel --no-notice "${logins[@]}" --halt never \
  "$command --shard {}/$shares > $(printf %q "$out/.shards")/{}.json"
