#!/bin/sh
# Builds the fuzz targets with clang 14 in build/fuzz and runs each one for
# the given number of seconds (default 60), starting from the checked-in
# corpus. New inputs go to build/fuzz/fuzz/corpus-work/<target>, crashing
# ones to build/fuzz/fuzz/artifacts/.
#   fuzz/run.sh [seconds]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
dir=build/fuzz
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DZOL_FUZZ=ON -DZOL_BUILD_TESTS=ON >/dev/null
ninja -C "$dir" -j "$(nproc)" fuzz_stack_frames fuzz_host_requests
mkdir -p "$dir/fuzz/artifacts"
for target in fuzz_stack_frames fuzz_host_requests; do
    echo "=== $target, $seconds s"
    work=$dir/fuzz/corpus-work/$target
    mkdir -p "$work"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$dir/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$dir/fuzz/artifacts/$target-" "$work" "fuzz/corpus/$target"
done
