#!/bin/bash
# Converts a list of PDF files as a Slurm job array: each array task takes its
# share of the list (every Nth line, from its own position among the tasks),
# converts it with kestrune-text into a shared output folder, and writes a
# report of its own.
#
#   find /data/pdf -name '*.pdf' > list.txt      # one path per line
#   sbatch --array=0-15 --cpus-per-task=4 kestrune-array.sbatch list.txt /data/text reports
#   cat reports/report-*.jsonl > report.jsonl    # once every task has ended
#
# Any evenly spaced array serves (0-15, 1-16, 0-30:2, or a list such as
# 3,5,7); one whose task ids are not evenly spaced (0,5,7) is refused by every
# task with a line saying so, before anything is converted. Each task uses the
# processors Slurm gave it (--cpus-per-task, else those of the node), as many
# worker processes as those.
#
# Paths in the list are taken relative to the folder sbatch was run from
# (Slurm starts the tasks there); with --output-dir each text file keeps that
# relative path, so list paths must lie below that folder. A task that is
# stopped (time limit, preemption, scancel) leaves no partial text file:
# submitting the same array again converts only what is missing or out of
# date (--update). Each attempt writes a report of its own
# (report-TASK-JOB[-N].jsonl); none is overwritten.
#SBATCH --job-name=kestrune-text
#SBATCH --time=04:00:00
#SBATCH --output=kestrune-%A_%a.log

# This task's position among the array's tasks and their number, "INDEX
# COUNT", from Slurm's variables; fails with a message for an array whose task
# ids are not evenly spaced, as no task could then tell its share.
array_share() {
    local id=${SLURM_ARRAY_TASK_ID:?run this script as a job array: sbatch --array=0-N}
    local count=${SLURM_ARRAY_TASK_COUNT:?run this script as a job array: sbatch --array=0-N}
    local min=${SLURM_ARRAY_TASK_MIN:-$id} max=${SLURM_ARRAY_TASK_MAX:-$id}
    local step=${SLURM_ARRAY_TASK_STEP:-}
    # A list (3,5,7) may come without a step: the spacing its ends imply.
    if [[ -z $step ]]; then
        if (( count > 1 && (max - min) % (count - 1) == 0 )); then step=$(( (max - min) / (count - 1) )); else step=1; fi
    fi
    if (( step < 1 || (max - min) % step != 0 || (max - min) / step + 1 != count || (id - min) % step != 0 )); then
        echo "kestrune-array: the array's task ids ($min to $max, $count tasks) are not evenly spaced;" \
             "submit a range such as --array=0-15 or --array=0-30:2" >&2
        return 1
    fi
    echo "$(( (id - min) / step )) $count"
}

main() {
    set -euo pipefail
    local usage="usage: sbatch --array=0-N kestrune-array.sbatch LIST OUTPUT_DIR [REPORT_DIR]"
    local list=${1:?$usage} output=${2:?$usage} reports=${3:-reports}
    local share index count
    share=$(array_share)
    read -r index count <<< "$share"
    local jobs=${SLURM_CPUS_PER_TASK:-${SLURM_CPUS_ON_NODE:-1}}
    # One report per attempt: a requeued or resubmitted task keeps the earlier one.
    local base="$reports/report-$SLURM_ARRAY_TASK_ID-${SLURM_ARRAY_JOB_ID:-${SLURM_JOB_ID:-0}}"
    local report="$base.jsonl" attempt=1
    mkdir -p "$reports"
    while [[ -e $report ]]; do
        attempt=$(( attempt + 1 ))
        report="$base-$attempt.jsonl"
    done
    awk -v tasks="$count" -v task="$index" '(NR - 1) % tasks == task' "$list" |
        kestrune-text --files-from - --jobs "$jobs" --timeout 600 --update -q \
            --output-dir "$output" --report "$report"
}

# Run as a script (sbatch); sourced, it only defines array_share.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then main "$@"; fi
