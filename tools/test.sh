#!/bin/sh
# Builds and runs every test, warnings as errors (ZOL_WERROR) in every build:
#   plain   GCC Release (-O3, whose optimiser finds warnings -O2 misses), the
#           benchmarks: every test (the demo scenario is one), a brief run of the benchmarks
#   asan    AddressSanitizer+UBSan, Debug      } what exercises memory and threads:
#   tsan    ThreadSanitizer, RelWithDebInfo    } the module's tests, the stand-ins as
#           processes, the end-to-end scenarios, oFono, the soak; not what only
#           checks sources, the production flavour's 30 s wait, or the SIP peers
#           and capture decoding beyond one two-phone run (the plain build has them);
#           their soak is 15 s of traffic (as under valgrind), the plain build's 40 s
#   arm     32-bit ARM under qemu-arm (tools/test_arm.sh), against a native stack
#   clang   clang 14 with -Wthread-safety: the libFuzzer targets, bounded runs,
#           and the stand-in programs
# Each build prints how long it took; the last line sums them up.
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
    echo "=== $name"
    cmake -S . -B "build/$name" -G Ninja -DZOL_WERROR=ON "$@" >/dev/null
    ninja -C "build/$name" -j "$jobs"
}
suite() { # <name> <ctest options>...
    name=$1
    shift
    (cd "build/$name" && ctest --output-on-failure -j "$jobs" --timeout 600 "$@")
}
# Checks of the sources alone, the production flavour's fixed 30 s wait, and the
# peer-heavy SIP and capture tests: run once, in the plain build.
once='format|build_lists|layers|e2e_production_flavour|capture|sip_baresip_.*|sip_video_phones|sip_registration'

t=$(date +%s)
build plain -DCMAKE_BUILD_TYPE=Release -DZOL_BENCH=ON
suite plain
took plain "$t"

t=$(date +%s)
build asan -DZOL_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug -DZOL_SOAK_SECONDS=15
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    suite asan -E "^($once)\$"
took asan "$t"

# The stand-ins' single-threaded unit programs have nothing for ThreadSanitizer.
t=$(date +%s)
build tsan -DZOL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOL_STANDIN_UNIT_TESTS=OFF \
    -DZOL_SOAK_SECONDS=15
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 suite tsan -E "^($once)\$"
took tsan "$t"

t=$(date +%s)
ZOL_NATIVE_IMSD=build/plain/sim/zol-imsd tools/test_arm.sh
took arm "$t"

t=$(date +%s)
echo "=== clang (thread-safety analysis, libFuzzer targets with bounded runs)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/clang -G Ninja -DZOL_WERROR=ON \
    -DZOL_THREAD_SAFETY=ON -DZOL_FUZZ=ON >/dev/null
ninja -C build/clang -j "$jobs" fuzz_all zol-imsd zol-host zol-rild ipc_agent
suite clang -R '^fuzz_'
took clang "$t"

echo "all test builds passed in $(($(date +%s) - started)) s:$timing"
