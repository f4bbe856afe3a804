#!/usr/bin/env bash
# Escape in the show's window ends it at once, in a window and fullscreen, under a virtual
# X server. Usage: window_escape.sh PROGRAM
set -u
program=$1
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || {
    echo "xvfb-run or xdotool missing: skipped"
    exit 77
}
# The real X11 path, whatever the caller chose.
unset SDL_VIDEODRIVER
export SDL_AUDIODRIVER=dummy
# Keep the system's GL drivers out: their compiler keeps allocations past unloading that
# LeakSanitizer cannot attribute. The window then draws through SDL's software renderer.
export LIBGL_DRIVERS_PATH=/nonexistent
# In a sanitizer build, the session bus library's buffer for the life of the process is not
# ours to free (where a session bus answers).
export LSAN_OPTIONS=suppressions=$(cd "$(dirname "$0")/.." && pwd)/lsan.supp
for mode in --window ""; do
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        program=$1 mode=$2
        "$program" $mode --mute & pid=$!
        window=""
        for _ in $(seq 300); do
            window=$(xdotool search --onlyvisible --name "^Tessivane$" 2>/dev/null | head -n 1)
            [ -n "$window" ] && break
            sleep 0.1
        done
        [ -n "$window" ] || { echo "no Tessivane window appeared"; kill $pid; exit 1; }
        sleep 0.5
        start=$(date +%s%N)
        xdotool key --window "$window" Escape
        wait $pid; status=$?
        ms=$(( ($(date +%s%N) - start) / 1000000 ))
        echo "${mode:-fullscreen}: exit $status, ${ms} ms after Escape"
        [ $status -eq 0 ] && [ $ms -lt 2000 ]
    ' _ "$program" "$mode" || exit 1
done
