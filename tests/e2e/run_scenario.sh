#!/bin/sh
# Runs one scenario across three processes: the simulated IMS stack, and the
# RIL host with the module (and, inside the module, the agent library).
# usage: run_scenario.sh <build dir> <scenario> [module]
# ZOL_E2E_EMULATOR, when set, is the command that runs the host (and so the module
# and the agent library), e.g. "qemu-arm -L /" for an ARM build or valgrind (the
# host waits long enough for either); ZOL_E2E_IMSD names the zol-imsd to start
# instead of the build's own, e.g. a native one.
set -u
bindir=$1
scenario=$2
module=${3:-$bindir/sim/libreference-zol.so}
imsd=${ZOL_E2E_IMSD:-$bindir/sim/zol-imsd}
emulator=${ZOL_E2E_EMULATOR:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/zol-e2e.XXXXXX")
imsd_pid=""
cleanup() {
    [ -z "$imsd_pid" ] || { kill "$imsd_pid" 2>/dev/null; wait "$imsd_pid" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$imsd" --socket "$work/imsd.sock" --control "$work/imsd.ctl" >"$work/imsd.log" 2>&1 &
imsd_pid=$!
for _ in $(seq 200); do [ -S "$work/imsd.ctl" ] && break; sleep 0.05; done
[ -S "$work/imsd.ctl" ] || { echo "zol-imsd did not come up"; cat "$work/imsd.log"; exit 1; }

# shellcheck disable=SC2086
ZOL_IMSD_SOCKET="$work/imsd.sock" $emulator "$bindir/sim/zol-host" --module "$module" --script "$scenario" \
    --imsd-control "$work/imsd.ctl" --log "$work/radio.log" --timeout-ms 30000 >"$work/host.log" 2>&1
rc=$?
cat "$work/host.log"
if [ $rc -ne 0 ]; then
    echo "--- simulated stack"; cat "$work/imsd.log"
    echo "--- radio log (last 60 lines)"; tail -n 60 "$work/radio.log"
fi
exit $rc
