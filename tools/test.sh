#!/bin/sh
# Builds and runs every test, warnings as errors (ZOL_WERROR) in every build:
#   plain   GCC Release (-O3, whose optimiser finds warnings -O2 misses) with the
#           benchmarks: every test (the demo scenario is one), a brief benchmark run
#   asan    clang 14, AddressSanitizer+UBSan, Debug, with -Wthread-safety and the
#           libFuzzer targets: what exercises memory, and a bounded run of each target
#   tsan    GCC ThreadSanitizer, RelWithDebInfo: what exercises threads
#   arm     32-bit ARM under qemu-arm (tools/test_arm.sh), against a native stack
# The sanitizer builds leave out what only checks sources, the production
# flavour's 30 s wait, and the SIP peers and capture decoding beyond one
# two-phone run (the plain build has them); their soak is 15 s of traffic, the
# plain build's 40 s. ThreadSanitizer leaves out the stand-ins' single-threaded
# unit programs.
#
# A build's tests run while the next build compiles, the compiler at a lower
# priority: the tests mostly wait on processes and sockets. Each step prints how
# long it took; the last line sums them up.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh

jobs=$(nproc)
started=$(date +%s)
timing=""
took() { # <name> <since>
    timing="$timing $1 $(($(date +%s) - $2))s"
    echo "=== $1 took $(($(date +%s) - $2)) s"
}
build() { # <name> <cmake options>...: configure and build everything
    name=$1
    shift
    t=$(date +%s)
    echo "=== $name: build"
    cmake -S . -B "build/$name" -G Ninja -DZOL_WERROR=ON "$@" >/dev/null
    nice -n 10 ninja -C "build/$name" -j "$jobs"
    took "$name-build" "$t"
}
suite_name=""
start_suite() { # <name> <environment> <ctest options>...: in the background
    finish_suite
    suite_name=$1
    environment=$2
    shift 2
    suite_started=$(date +%s)
    echo "=== $suite_name: tests started"
    (cd "build/$suite_name" &&
        { env $environment ctest --output-on-failure -j "$jobs" --timeout 600 "$@" \
            >tests.log 2>&1 && echo 0 || echo 1; } >tests.status) &
    suite_pid=$!
}
finish_suite() { # waits for the suite in the background, shows its output, stops on failure
    [ -n "$suite_name" ] || return 0
    wait "$suite_pid"
    echo "=== $suite_name: tests"
    cat "build/$suite_name/tests.log"
    took "$suite_name-tests" "$suite_started"
    if [ "$(cat "build/$suite_name/tests.status")" != 0 ]; then
        echo "=== $suite_name: tests FAILED"
        exit 1
    fi
    suite_name=""
}
# Checks of the sources alone, the production flavour's fixed 30 s wait, and the
# peer-heavy SIP and capture tests: run once, in the plain build.
once='format|build_lists|layers|e2e_production_flavour|capture|sip_baresip_.*|sip_video_phones|sip_registration'

build plain -DCMAKE_BUILD_TYPE=Release -DZOL_BENCH=ON
start_suite plain ""

build asan -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
    -DZOL_SANITIZE=address,undefined -DZOL_THREAD_SAFETY=ON -DZOL_FUZZ=ON -DZOL_SOAK_SECONDS=15
start_suite asan "ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1" \
    -E "^($once)\$"

build tsan -DZOL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOL_STANDIN_UNIT_TESTS=OFF \
    -DZOL_SOAK_SECONDS=15
start_suite tsan "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1" -E "^($once)\$"

t=$(date +%s)
ZOL_NATIVE_IMSD=build/plain/sim/zol-imsd nice -n 10 tools/test_arm.sh
took arm "$t"
finish_suite

echo "all test builds passed in $(($(date +%s) - started)) s:$timing"
