#!/bin/sh
# Runs the oFono end-to-end test: oFono on a private D-Bus bus drives the module
# through zol-rild on /dev/socket/rild, with zol-imsd behind the module.
# Private mount and PID namespaces give it /dev/socket, and a /var/lib where
# oFono's stored settings land in a scratch folder, without touching the
# machine; every process dies with the test.
# usage: run.sh <build dir> [test names...]
set -u
bindir=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

for tool in ofonod dbus-daemon unshare; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (tools/setup.sh installs it)"
        exit 1
    fi
done
if ! "$python" -c 'import dbus, gi' 2>/dev/null; then
    echo "FAIL: $python lacks the dbus or gi module (tools/setup.sh installs python3-dbus)"
    exit 1
fi
if ! unshare --mount --pid --fork true 2>/dev/null; then
    echo "SKIP: mount and PID namespaces are not permitted here"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zol-ofono.XXXXXX")
[ -n "${ZOL_OFONO_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/dev-upper" "$work/dev-work" "$work/lib-upper" "$work/lib-work"

# Overlays whose writes land in $work: /dev (for /dev/socket) and /var/lib.
unshare --mount --pid --fork --mount-proc sh -eu -c '
    work=$1; shift
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=/dev,upperdir=$work/dev-upper,workdir=$work/dev-work" /dev
    mkdir -p /dev/socket
    mount -t tmpfs -o mode=0755 tmpfs /dev/socket
    mount -t overlay overlay -o "lowerdir=/var/lib,upperdir=$work/lib-upper,workdir=$work/lib-work" /var/lib
    exec "$@"
' sh "$work" "$python" "$here/test_ofono.py" --bindir "$bindir" --work "$work" "$@"
