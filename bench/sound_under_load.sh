#!/usr/bin/env bash
# Plays the whole show in real time while other processes keep every core busy, and prints
# how often the sound output fell behind the device (the wave device's underrun count; 0 is
# the goal) and the show's peak memory.
#
#   bench/sound_under_load.sh [BUILD_DIR] [BUSY_PROCESSES]
#
# BUILD_DIR defaults to build; BUSY_PROCESSES to one per core. The show plays in a window on
# SDL's dummy video and sound drivers, so it needs no display or sound card, and both run
# in real time: it takes the show's 96 seconds.
set -euo pipefail
build=${1:-build}
busy=${2:-$(nproc)}
log=$(mktemp)
pids=()
cleanup() {
    [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    rm -f "$log"
}
trap cleanup EXIT
for _ in $(seq "$busy"); do
    (while :; do :; done) &
    pids+=($!)
done
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy /usr/bin/time -f "peak memory: %M KiB" \
    "$build/tessivane" --window --verbose 2>"$log"
grep -E "^(shutdown: sound underruns|peak memory|tessivane:)" "$log"
echo "with $busy busy processes on $(nproc) cores"
