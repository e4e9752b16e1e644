#!/bin/sh
# Runs a scenario against the production flavour of the module, which loads
# /system/lib/libipc_agent.so and waits 30 seconds before opening its channel.
# A private mount namespace gives it that path: an overlay of / whose writes
# land in a temporary folder, so nothing is created outside it.
# usage: production_ns.sh <build dir> <scenario>
set -u
bindir=$(cd "$1" && pwd)
scenario=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)

if ! unshare --mount --fork true 2>/dev/null; then
    echo "SKIP: mount namespaces are not permitted here"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/zol-prod.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/upper" "$work/work" "$work/root"

unshare --mount --fork sh -eu -c '
    work=$1; bindir=$2; scenario=$3; here=$4
    mount --make-rprivate /
    mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$work/root"
    for dir in /proc /dev /tmp "$bindir" "$(dirname "$scenario")" "$here"; do
        mount --rbind "$dir" "$work/root$dir"
    done
    mkdir -p "$work/root/system/lib"
    cp "$bindir/sim/libipc_agent.so" "$work/root/system/lib/libipc_agent.so"
    exec chroot "$work/root" "$here/run_scenario.sh" "$bindir" "$scenario" \
        "$bindir/production/libreference-zol.so"
' sh "$work" "$bindir" "$scenario" "$here"
