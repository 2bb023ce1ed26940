#!/usr/bin/env bash
# A Slurm job array that converts an archive of drawings: task K of N converts share K of the
# list (tarnvelox-cli --shard K/N). Submit with as many tasks as shares:
#
#   sbatch --array=0-15 scripts/cluster/convert-slurm.sh LIST OUT
#
# Each task writes its results as JSON in OUT/.shards/K.json. Resubmitting the array resumes a
# stopped run: drawings whose PDF is newer than the drawing are left as they are.
#SBATCH --job-name=tarnvelox
#SBATCH --cpus-per-task=4
#SBATCH --mem-per-cpu=2G
#SBATCH --output=tarnvelox-%A_%a.log
set -euo pipefail
list=$1
out=$2
mkdir -p "$out/.shards"
task=${SLURM_ARRAY_TASK_ID:?run this as a Slurm array job}
count=${SLURM_ARRAY_TASK_COUNT:?run this as a Slurm array job}
exec "${TARNVELOX_CLI:-tarnvelox-cli}" -q --json --skip-existing -t per-drawing -o "$out" \
  --jobs "${SLURM_CPUS_PER_TASK:-1}" --from-list "$list" ${TARNVELOX_OPTIONS:-} \
  --shard "$task/$count" > "$out/.shards/$task.json"
