#!/bin/sh
# Builds and runs every test: plain, with AddressSanitizer+UndefinedBehaviorSanitizer,
# with ThreadSanitizer, the 32-bit ARM build under qemu-arm, the clang
# thread-safety analysis build, and bounded runs of the libFuzzer targets. The
# plain build also runs the benchmarks once, briefly, to keep them working; a GCC
# Release build (the optimiser finds other warnings) runs the demo scenario.
# Warnings are errors in all of them (ZOL_WERROR).
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh

jobs=$(nproc)
run() {
    name=$1; shift
    dir=build/$name
    echo "=== $name"
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    ninja -C "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j 1 --timeout 600)
}

run plain -DZOL_BENCH=ON -DZOL_WERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run asan -DZOL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug -DZOL_WERROR=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run tsan -DZOL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOL_WERROR=ON
echo "=== release (GCC): build, then the demo scenario"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOL_WERROR=ON \
    -DZOL_BUILD_TESTS=OFF >/dev/null
ninja -C build/release -j "$jobs"
tests/e2e/run_scenario.sh build/release tools/demo.scn >build/release/demo.log ||
    { cat build/release/demo.log; exit 1; }
echo "=== arm (32-bit, qemu-arm)"
ZOL_NATIVE_IMSD=build/plain/sim/zol-imsd tools/test_arm.sh
echo "=== thread-safety analysis (clang 14, Release)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/tsa -G Ninja -DZOL_THREAD_SAFETY=ON \
    -DCMAKE_BUILD_TYPE=Release -DZOL_WERROR=ON -DZOL_BUILD_TESTS=OFF >/dev/null
ninja -C build/tsa -j "$jobs"
echo "=== fuzz (clang 14, bounded runs)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DZOL_FUZZ=ON -DZOL_BUILD_TESTS=ON \
    -DZOL_WERROR=ON >/dev/null
ninja -C build/fuzz -j "$jobs" fuzz_all
(cd build/fuzz && ctest --output-on-failure -j 1 --timeout 600 -R fuzz)
echo "all test builds passed"
