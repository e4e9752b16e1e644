#!/bin/sh
# Installs what a fresh Debian machine lacks to build and test the project,
# including the 32-bit ARM cross build run under qemu (tools/test_arm.sh): the
# cross compiler, qemu-user, and the armhf log library and GoogleTest through
# Debian multiarch.
set -eu
packages="cmake ninja-build g++ clang-14 libclang-rt-14-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev android-liblog-dev binutils valgrind"
arm_packages=""
if [ "$(dpkg --print-architecture)" != armhf ]; then
    packages="$packages g++-arm-linux-gnueabihf qemu-user"
    arm_packages="android-liblog-dev:armhf libgtest-dev:armhf libgmock-dev:armhf"
fi
missing=""
for p in $packages $arm_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "installing:$missing"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    if [ -n "$arm_packages" ] && ! dpkg --print-foreign-architectures | grep -qx armhf; then
        $SUDO dpkg --add-architecture armhf
    fi
    # A mirror caught mid-sync fails one index now and then; the install below
    # still finds what the other indexes list, or fails on its own.
    $SUDO apt-get update -qq || echo "apt-get update reported errors; installing from the indexes it has"
    # --no-remove: an armhf package must never make apt remove a native one.
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-remove $missing >/dev/null
fi
