#!/bin/sh
# The scripted demo: the RIL host loads the module (simulation flavour), the
# module reaches the simulated IMS stack through the agent library, and the
# call list travels host -> module -> agent -> imsd -> module -> host.
set -eu
cd "$(dirname "$0")/.."
# --sip: the two-phone story over real SIP instead.
[ "${1:-}" != --sip ] || exec tools/demo_sip.sh
tools/setup.sh demo
cmake -S . -B build/demo -G Ninja -DZOL_BUILD_TESTS=OFF >/dev/null
ninja -C build/demo
bin=build/demo/sim
work=$(mktemp -d "${TMPDIR:-/tmp}/zol-demo.XXXXXX")
imsd_pid=""
cleanup() {
    [ -z "$imsd_pid" ] || { kill "$imsd_pid" 2>/dev/null; wait "$imsd_pid" 2>/dev/null || true; }
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo
echo "### starting the simulated IMS stack"
"$bin/zol-imsd" --socket "$work/imsd.sock" --control "$work/imsd.ctl" >"$work/imsd.log" 2>&1 &
imsd_pid=$!
while [ ! -S "$work/imsd.ctl" ]; do sleep 0.05; done

echo "### starting the RIL host with the module and running tools/demo.scn"
status=0
ZOL_IMSD_SOCKET="$work/imsd.sock" "$bin/zol-host" --module "$bin/libreference-zol.so" \
    --script tools/demo.scn --imsd-control "$work/imsd.ctl" --log "$work/radio.log" || status=$?
sleep 0.2

echo
echo "### what the simulated IMS stack saw and sent"
sed 's/^/    /' "$work/imsd.log"
echo
echo "### the module's radio log for the second call list request (tag IMS-ref-zol)"
awk '/UI --- RIL_REQUEST_GET_CURRENT_CALLS/ {n++} n == 2 {print}
     n == 2 && /UI <--- RIL_REQUEST_GET_CURRENT_CALLS/ {exit}' "$work/radio.log" |
    grep -E 'UI ---|UI <---|Queued event|De-queued|RIL <---|send_data_size|Number of calls|zol_ipc_read_event_cb,' |
    sed 's/^/    /'
exit $status
