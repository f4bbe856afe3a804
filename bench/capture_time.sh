#!/usr/bin/env bash
# Captures the whole show to a video file RUNS times and prints how long each capture took,
# with its CPU use and peak memory, then the median against the goal: a third of the show's
# 96 seconds.
#
#   bench/capture_time.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR defaults to build, RUNS to 3. Each capture takes about half a minute on two
# cores; the files are written to a temporary folder and removed.
set -euo pipefail
build=${1:-build}
runs=${2:-3}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
times=()
for run in $(seq "$runs"); do
    /usr/bin/time -o "$folder/time" -f "%e %P %M" \
        "$build/tessivane" --capture "$folder/show.mp4" 2>/dev/null
    read -r seconds cpu memory <"$folder/time"
    echo "capture $run: $seconds s, CPU $cpu, peak memory $memory KiB"
    times+=("$seconds")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
echo "median: $median s (goal: at most 32 s) on $(nproc) cores"
