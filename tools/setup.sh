#!/bin/sh
# Installs what a fresh Debian machine lacks, in tiers:
#   tools/setup.sh demo   what building the stand-ins and running the demo needs
#   tools/setup.sh sip    that plus the SIP peers the two-phone demo talks through
#   tools/setup.sh        (or "test") all of that plus everything the test command
#                         uses: sanitizer and fuzzing runtimes, GoogleTest, Google
#                         Benchmark, valgrind, the 32-bit ARM cross build under
#                         qemu-user (armhf libraries through Debian multiarch), and
#                         the real peers of the end-to-end tests.
set -eu
tier=${1:-test}
case "$tier" in
    demo|sip|test) ;;
    *) echo "usage: tools/setup.sh [demo|sip|test]" >&2; exit 2 ;;
esac

# Building the module and the stand-ins.
packages="cmake ninja-build g++ android-liblog-dev"
# The simulated stack: SIP network side and frame capture.
packages="$packages libre-dev libpcap-dev"

arm_packages=""
if [ "$tier" != demo ]; then
    # SIP test bed: a proxy/registrar and a second user agent, run by Python.
    packages="$packages kamailio baresip-core sipsak python3"
fi
if [ "$tier" = test ]; then
    # Test frameworks, sanitizers, fuzzing, benchmarks, memory checking.
    packages="$packages clang-14 libclang-rt-14-dev googletest libgtest-dev libgmock-dev
              libbenchmark-dev binutils valgrind"
    # The style check (tools/check_format.sh).
    packages="$packages clang-format-14"
    # oFono driving the module through zol-rild, on a private D-Bus bus.
    packages="$packages ofono dbus python3-dbus python3-gi"
    # Decoding captures with the project's Wireshark dissector.
    packages="$packages tshark"
    if [ "$(dpkg --print-architecture)" != armhf ]; then
        packages="$packages g++-arm-linux-gnueabihf qemu-user"
        arm_packages="android-liblog-dev:armhf libgtest-dev:armhf libgmock-dev:armhf"
    fi
fi

missing=""
for p in $packages $arm_packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0
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
