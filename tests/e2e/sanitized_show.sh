#!/usr/bin/env bash
# The whole show under the address, leak and undefined-behaviour checkers: a headless run of
# the full timeline with its music on the null device, and a few seconds in a window with
# music under a virtual X server (skipped without xvfb-run). Any report fails.
#
#   sanitized_show.sh SOURCE_DIR SANITIZER_BUILD_DIR [WINDOW_SECONDS]
#
# Meant for the sanitizer build (-DTESSIVANE_SANITIZE=ON); the headless run takes as long as
# that build needs to draw 96 seconds of the show.
set -u
source_dir=$(cd "$1" && pwd)
program=$2/tessivane
window_seconds=${3:-5}
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$source_dir/tests/lsan.supp
status=0

echo "== headless show"
log=$(mktemp)
"$program" --headless --verbose 2>"$log"
result=$?
if [ $result -ne 0 ] || ! grep -q "timeline: quit" "$log"; then
    echo "headless show failed (exit $result):"
    tail -n 60 "$log"
    status=1
fi
grep -E "^shutdown: sound underruns" "$log"
rm -f "$log"

echo "== windowed show, $window_seconds s"
if ! command -v xvfb-run >/dev/null; then
    echo "xvfb-run missing: the windowed run is skipped"
else
    # The real X11 path, with sound through SDL's dummy driver, and the system's GL drivers
    # kept out: their compiler keeps allocations that LeakSanitizer cannot attribute.
    log=$(mktemp)
    env -u SDL_VIDEODRIVER SDL_AUDIODRIVER=dummy LIBGL_DRIVERS_PATH=/nonexistent \
        xvfb-run -a -s "-screen 0 1024x768x24" \
        timeout --preserve-status -s TERM "$window_seconds" "$program" --window --verbose 2>"$log"
    result=$?
    # Ended by the timeout's TERM, the show stops cleanly and exits 0.
    if [ $result -ne 0 ] || ! grep -q "start-up: music started" "$log"; then
        echo "windowed show failed (exit $result):"
        tail -n 60 "$log"
        status=1
    fi
    rm -f "$log"
fi
exit $status
