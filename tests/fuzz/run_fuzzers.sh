#!/usr/bin/env bash
# Builds the fuzzers with clang and runs each in turn.
#
#   run_fuzzers.sh SOURCE_DIR BUILD_DIR [SECONDS] [FUZZER...] [-- libFuzzer options...]
#
# SECONDS (default 10) is each fuzzer's time; FUZZER names some of module_fuzzer,
# replay_fuzzer and shader_fuzzer (default: all three). Each corpus grows in
# BUILD_DIR/corpus/NAME from the committed seeds (tests/fuzz/seeds). A finding leaves its
# input as BUILD_DIR/crash-* (or leak-*, oom-*, timeout-*, slow-unit-*) and fails. Exits 77,
# which the test suite counts as skipped, when clang or its fuzzing runtime is missing.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$2
seconds=${3:-10}
shift $(($# < 3 ? $# : 3))
fuzzers=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    fuzzers+=("$1")
    shift
done
[ $# -gt 0 ] && shift
[ ${#fuzzers[@]} -eq 0 ] && fuzzers=(module_fuzzer replay_fuzzer shader_fuzzer)
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

cxx=""
for candidate in "${FUZZ_CXX:-}" clang++ clang++-14 clang++-15 clang++-16; do
    if [ -n "$candidate" ] && command -v "$candidate" >/dev/null; then
        cxx=$candidate
        break
    fi
done
if [ -z "$cxx" ]; then
    echo "fuzzers skipped: clang++ is not installed (scripts/install-deps --test)"
    exit 77
fi
probe="$build_dir/probe"
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        "$cxx" -x c++ -fsanitize=fuzzer,address,undefined - -o "$probe" 2>/dev/null; then
    echo "fuzzers skipped: $cxx cannot link a fuzzer (libclang-rt-dev is missing)"
    exit 77
fi
rm -f "$probe"
cc=${cxx/clang++/clang}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" -DTESSIVANE_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target "${fuzzers[@]}"

seeds=$source_dir/tests/fuzz/seeds
cd "$build_dir"
for fuzzer in "${fuzzers[@]}"; do
    corpus=corpus/$fuzzer
    mkdir -p "$corpus"
    case $fuzzer in
    shader_fuzzer)
        cp "$seeds"/shader/*.bin "$corpus/"
        # Streams of the versions decoded are short: 12 pixel or 128 vertex instructions of
        # at most 5 tokens, definitions and declarations, comments.
        max_len=4096
        ;;
    *)
        cp "$seeds"/module/*.xm "$source_dir/assets/music.xm" "$corpus/"
        # No single allocation may come near what a file of at most 64 KiB describes: the
        # loader bounds every allocation by the bytes behind it.
        max_len=65536
        ;;
    esac
    echo "== $fuzzer: $seconds s"
    # An input runs in milliseconds; the time-out, in wall-clock seconds, leaves room for a
    # machine so busy that the fuzzer waits long for a core.
    ./"$fuzzer" -max_total_time="$seconds" -max_len=$max_len -malloc_limit_mb=32 \
        -timeout=30 -print_final_stats=1 "$@" "$corpus"
done
