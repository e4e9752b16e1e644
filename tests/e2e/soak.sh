#!/bin/sh
# The soak across the three processes: zol-host (with the module and, inside it,
# the agent library) sends a mix of requests from several threads while it
# drives faults of the simulated stack, kills it and starts it again; then the
# stack answers what it owes and every request must have been completed exactly
# once. Prints the host's figures; on failure also the end of the stack's trace.
# usage: soak.sh <build dir> [seconds] [seed]
# ZOL_SOAK_SECONDS and ZOL_SOAK_SEED stand in for the arguments; ZOL_E2E_EMULATOR
# and ZOL_E2E_IMSD work as for run_scenario.sh.
set -u
bindir=$1
seconds=${2:-${ZOL_SOAK_SECONDS:-40}}
seed=${3:-${ZOL_SOAK_SEED:-1}}
imsd=${ZOL_E2E_IMSD:-$bindir/sim/zol-imsd}
emulator=${ZOL_E2E_EMULATOR:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/zol-soak.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# The host runs the stack itself: it has to kill and restart it.
# shellcheck disable=SC2086
ZOL_IMSD_SOCKET="$work/imsd.sock" $emulator "$bindir/sim/zol-host" --soak "$seconds" --seed "$seed" \
    --imsd "$imsd" --imsd-control "$work/imsd.ctl" --imsd-log "$work/imsd.log" \
    --log none >"$work/host.log" 2>&1
rc=$?
cat "$work/host.log"
if [ $rc -ne 0 ]; then
    echo "--- simulated stack (last 80 lines)"
    tail -n 80 "$work/imsd.log" 2>/dev/null
    echo "rerun: tests/e2e/soak.sh $bindir $seconds $seed"
fi
exit $rc
