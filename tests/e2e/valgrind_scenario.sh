#!/bin/sh
# One scenario with the RIL host under valgrind's memcheck: the module, the agent
# library and the host itself must read no memory they should not, and leak
# nothing for good. The stack runs natively beside it.
# usage: valgrind_scenario.sh <build dir> <valgrind> <scenario>
set -u
bindir=$1
valgrind=$2
scenario=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/zol-valgrind.XXXXXX")
imsd_pid=""
cleanup() {
    if [ -n "$imsd_pid" ]; then
        kill "$imsd_pid" 2>/dev/null
        wait "$imsd_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$bindir/sim/zol-imsd" --socket "$work/imsd.sock" --control "$work/imsd.ctl" >"$work/imsd.log" 2>&1 &
imsd_pid=$!
tries=0
while [ ! -S "$work/imsd.ctl" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ]; then
        echo "zol-imsd did not come up"; cat "$work/imsd.log"; exit 1
    fi
    sleep 0.05
done

# Definite leaks count; memory the module keeps for the life of the process
# (its event thread, the agent's reader) is still reachable and does not.
ZOL_IMSD_SOCKET="$work/imsd.sock" "$valgrind" --error-exitcode=9 --leak-check=full \
    --errors-for-leak-kinds=definite --show-leak-kinds=definite --log-file="$work/valgrind.log" \
    "$bindir/sim/zol-host" --script "$scenario" --imsd-control "$work/imsd.ctl" \
    --log "$work/radio.log" --timeout-ms 30000 >"$work/host.log" 2>&1
rc=$?
cat "$work/host.log"
echo "--- valgrind"
cat "$work/valgrind.log"
if [ $rc -ne 0 ]; then
    echo "--- simulated stack"; cat "$work/imsd.log"
    exit $rc
fi
# The exit status only counts errors; the summary has to say so too.
if ! grep -q "ERROR SUMMARY: 0 errors" "$work/valgrind.log"; then
    echo "valgrind reported errors"
    exit 9
fi
exit 0
