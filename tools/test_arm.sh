#!/bin/sh
# Builds the module, the agent library, the host and the test suite for 32-bit
# ARM (armhf) with Debian's cross compiler and runs the suite under qemu-arm. The
# end-to-end scenarios and the process tests start a native zol-imsd, so frames
# go from the ARM agent to an x86-64 stack and back over the socket; the ARM
# zol-imsd is left out (ninja -C build/arm zol-imsd builds it).
#
# The soak is 15 s of traffic here: under emulation each second is costly, and the
# native builds run the long one.
#
# ZOL_NATIVE_IMSD may name a zol-imsd that is already built (build/plain/sim/zol-imsd
# after tools/test.sh's plain run); otherwise one is built in build/arm-native.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh

imsd=${ZOL_NATIVE_IMSD:-}
if [ -z "$imsd" ]; then
    echo "=== arm: native zol-imsd"
    cmake -S . -B build/arm-native -G Ninja -DZOL_BUILD_TESTS=OFF -DZOL_WERROR=ON >/dev/null
    ninja -C build/arm-native -j "$(nproc)" zol-imsd
    imsd=build/arm-native/sim/zol-imsd
fi
[ -x "$imsd" ] || { echo "no zol-imsd at $imsd"; exit 1; }
imsd=$(cd "$(dirname "$imsd")" && pwd)/$(basename "$imsd")

echo "=== arm (armhf under qemu-arm)"
cmake -S . -B build/arm -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake \
    -DZOL_TEST_IMSD="$imsd" -DZOL_WERROR=ON -DZOL_SOAK_SECONDS=15 >/dev/null
ninja -C build/arm -j "$(nproc)"
# What only checks the sources, and the production flavour's fixed 30 s wait,
# say nothing new about ARM: the native builds run them.
(cd build/arm && ctest --output-on-failure -j "$(nproc)" --timeout 600 \
    -E '^(format|build_lists|layers|e2e_production_flavour)$')
