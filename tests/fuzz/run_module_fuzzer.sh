#!/usr/bin/env bash
# Builds the module loader's fuzzer with clang and runs it.
#
#   run_module_fuzzer.sh SOURCE_DIR BUILD_DIR [SECONDS] [libFuzzer options...]
#
# SECONDS defaults to 60, what CI runs. The corpus grows in BUILD_DIR/corpus from the
# committed seeds (tests/fuzz/seeds) and the embedded module. A finding leaves its input
# as BUILD_DIR/crash-* (or leak-*, oom-*, timeout-*) and fails. Exits 77, which the test
# suite counts as skipped, when clang or its fuzzing runtime is not installed.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build_dir=$2
seconds=${3:-60}
shift $(($# < 3 ? $# : 3))
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
    echo "module fuzzer skipped: clang++ is not installed (scripts/install-deps --test)"
    exit 77
fi
probe="$build_dir/probe"
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        "$cxx" -x c++ -fsanitize=fuzzer,address,undefined - -o "$probe" 2>/dev/null; then
    echo "module fuzzer skipped: $cxx cannot link a fuzzer (libclang-rt-dev is missing)"
    exit 77
fi
rm -f "$probe"
cc=${cxx/clang++/clang}

cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" -DTESSIVANE_FUZZ=ON >/dev/null
cmake --build "$build_dir" --target module_fuzzer

mkdir -p "$build_dir/corpus"
cp "$source_dir"/tests/fuzz/seeds/*.xm "$source_dir/assets/music.xm" "$build_dir/corpus/"
cd "$build_dir"
# No single allocation may come near what a file of at most 64 KiB describes: the loader
# bounds every allocation by the bytes behind it.
exec ./module_fuzzer -max_total_time="$seconds" -max_len=65536 -malloc_limit_mb=32 \
    -timeout=10 -print_final_stats=1 "$@" corpus
