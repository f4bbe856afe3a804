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
server_log=$(mktemp)
trap 'rm -f "$server_log"' EXIT

# One run in a fresh virtual server. Exits 0 when Escape ended the show in time, 1 when it did
# not, and 2 when the show ended before its window appeared. Once, on a busy machine, a fresh
# show found no window system in a server that had just said it was ready; a second server
# tells that apart from a show that never reaches one.
run_once() {
    xvfb-run -a -e "$server_log" -s "-screen 0 1024x768x24" bash -c '
        program=$1 mode=$2
        # The server has said it is ready; make sure it also answers a client.
        for _ in $(seq 100); do
            xdotool getdisplaygeometry >/dev/null 2>&1 && break
            sleep 0.1
        done
        "$program" $mode --mute & pid=$!
        window=""
        for _ in $(seq 300); do
            window=$(xdotool search --onlyvisible --name "^Tessivane$" 2>/dev/null | head -n 1)
            [ -n "$window" ] && break
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
        done
        if [ -z "$window" ]; then
            if kill -0 $pid 2>/dev/null; then
                echo "no Tessivane window appeared"
                kill $pid
                exit 1
            fi
            wait $pid
            echo "the show ended, status $?, before its window appeared"
            xdotool getdisplaygeometry >/dev/null 2>&1 || echo "and the server no longer answers"
            exit 2
        fi
        sleep 0.5
        start=$(date +%s%N)
        xdotool key --window "$window" Escape
        wait $pid; status=$?
        ms=$(( ($(date +%s%N) - start) / 1000000 ))
        echo "${mode:-fullscreen}: exit $status, ${ms} ms after Escape"
        [ $status -eq 0 ] && [ $ms -lt 2000 ]
    ' _ "$program" "$1"
}

for mode in --window ""; do
    run_once "$mode"
    status=$?
    if [ $status -eq 2 ]; then
        echo "the virtual X server's log:"
        cat "$server_log"
        echo "once more in a fresh server"
        run_once "$mode"
        status=$?
    fi
    [ $status -eq 0 ] || { cat "$server_log"; exit 1; }
done
