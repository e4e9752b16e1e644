#!/bin/sh
# Builds the module, the stand-ins and the test suite for 32-bit ARM (armhf) with
# Debian's cross compiler and runs the suite under qemu-arm. The end-to-end
# scenarios and the stand-ins' process tests start a native zol-imsd, so frames
# go from the ARM agent to an x86-64 stack and back over the socket.
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
    ninja -C build/arm-native -j 2 zol-imsd
    imsd=build/arm-native/sim/zol-imsd
fi
[ -x "$imsd" ] || { echo "no zol-imsd at $imsd"; exit 1; }
imsd=$(cd "$(dirname "$imsd")" && pwd)/$(basename "$imsd")

echo "=== arm (armhf under qemu-arm)"
cmake -S . -B build/arm -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake \
    -DZOL_TEST_IMSD="$imsd" -DZOL_WERROR=ON >/dev/null
ninja -C build/arm -j 2
(cd build/arm && ctest --output-on-failure -j 1 --timeout 600)
