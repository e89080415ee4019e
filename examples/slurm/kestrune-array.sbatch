#!/bin/bash
# Converts a list of PDF files as a Slurm job array: each array task takes its
# share of the list (every Nth line, from its own offset), converts it with
# kestrune-text into a shared output folder, and writes its own report.
#
#   find /data/pdf -name '*.pdf' > list.txt      # one path per line
#   sbatch --array=0-15 kestrune-array.sbatch list.txt /data/text reports
#   cat reports/report-*.jsonl > report.jsonl    # once every task has ended
#
# Paths in the list are taken relative to the folder sbatch was run from
# (Slurm starts the tasks there); with --output-dir each text file keeps that
# relative path, so list paths must lie below that folder. A task that is
# stopped (time limit, preemption) leaves no partial text file: submitting the
# same array again converts only what is missing or out of date (--update).
#SBATCH --job-name=kestrune-text
#SBATCH --cpus-per-task=4
#SBATCH --time=04:00:00
#SBATCH --output=kestrune-%A_%a.log
set -euo pipefail

list=${1:?usage: sbatch --array=0-N kestrune-array.sbatch LIST OUTPUT_DIR [REPORT_DIR]}
output=${2:?usage: sbatch --array=0-N kestrune-array.sbatch LIST OUTPUT_DIR [REPORT_DIR]}
reports=${3:-reports}
tasks=${SLURM_ARRAY_TASK_COUNT:?run this script as a job array: sbatch --array=0-N}
task=$(( SLURM_ARRAY_TASK_ID - ${SLURM_ARRAY_TASK_MIN:-0} ))

mkdir -p "$reports"
awk -v tasks="$tasks" -v task="$task" '(NR - 1) % tasks == task' "$list" |
    kestrune-text --files-from - --jobs "${SLURM_CPUS_PER_TASK:-1}" --timeout 600 --update -q \
        --output-dir "$output" --report "$reports/report-$SLURM_ARRAY_TASK_ID.jsonl"
