#!/bin/sh
# Captures the demo on both sides of the link (zol-imsd --pcap and the agent
# library's ZOL_AGENT_PCAP), then a session of bad frames, and checks with
# tshark and the project's dissector what a user would read in Wireshark.
# usage: capture_test.sh <build dir> <source dir>
# ZOL_E2E_EMULATOR and ZOL_E2E_IMSD as for run_scenario.sh.
set -u
bindir=$(cd "$1" && pwd)
srcdir=$(cd "$2" && pwd)
imsd=${ZOL_E2E_IMSD:-$bindir/sim/zol-imsd}
emulator=${ZOL_E2E_EMULATOR:-}
lua=$srcdir/tools/wireshark/zol.lua
command -v tshark >/dev/null 2>&1 || { echo "SKIP: tshark is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zol-capture.XXXXXX")
imsd_pid=""
cleanup() {
    [ -z "$imsd_pid" ] || { kill "$imsd_pid" 2>/dev/null; wait "$imsd_pid" 2>/dev/null; }
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

"$imsd" --socket "$work/imsd.sock" --control "$work/imsd.ctl" --pcap "$work/imsd.pcap" \
    >"$work/imsd.log" 2>&1 &
imsd_pid=$!
for _ in $(seq 200); do [ -S "$work/imsd.ctl" ] && break; sleep 0.05; done
[ -S "$work/imsd.ctl" ] || { echo "zol-imsd did not come up"; cat "$work/imsd.log"; exit 1; }

session() { # <scenario> <agent capture> <host log>
    # shellcheck disable=SC2086
    ZOL_AGENT_PCAP="$2" ZOL_IMSD_SOCKET="$work/imsd.sock" $emulator "$bindir/sim/zol-host" \
        --script "$1" --imsd-control "$work/imsd.ctl" --log none --timeout-ms 30000 >"$3" 2>&1 ||
        { cat "$3"; echo "--- zol-imsd"; cat "$work/imsd.log"; exit 1; }
}
session "$srcdir/tools/demo.scn" "$work/demo.pcap" "$work/demo.log"
session "$srcdir/tests/capture/bad_frames.scn" "$work/bad.pcap" "$work/bad.log"

# One pass of tshark per capture: a table of the fields the checks read.
fields="frame.number zol.version zol.connection zol.direction zol.msg zol.name zol.token
    zol.length zol.malformed zol.unknown _ws.expert.severity zol.call.id zol.call.number
    zol.call.type zol.dial.kind zol.calls zol.call.state zol.call.end_cause zol.sms.pdu
    zol.sms.msg_ref gsm_sms.sms_text zol.ss.op zol.ss.code zol.ss.number zol.ss.success
    zol.ss.info_type zol.ss.active"
for capture in demo imsd bad; do
    # shellcheck disable=SC2046
    tshark -X lua_script:"$lua" -r "$work/$capture.pcap" -T fields -E separator=/t \
        $(for field in $fields; do printf -- '-e %s ' "$field"; done) \
        >"$work/$capture.tab" 2>>"$work/tshark.err"
done
# q <capture> <awk condition on v["field"]> <field>...: those fields of the
# matching frames, one line per frame.
q() {
    tab=$work/$1.tab cond=$2
    shift 2
    awk -F'\t' -v names="$fields" -v cols="$*" '
        BEGIN { n = split(names, name, /[ \n]+/); m = split(cols, col, " ") }
        {
            for (i = 1; i <= n; i++) v[name[i]] = $i
            if ('"$cond"') {
                line = v[col[1]]
                for (j = 2; j <= m; j++) line = line " " v[col[j]]
                print line
            }
        }' "$tab"
}
count() { q "$1" "$2" frame.number | wc -l; }
expect() {
    [ "$2" = "$3" ] || fail "$1: want '$2', got '$3'"
}
lines() { sed 's/ *$//' | tr '\n' '|' | sed 's/|$//'; }
marked='v["zol.malformed"] != "" || v["_ws.expert.severity"] ~ /[0-9]/'

# Every frame of the demo is decoded, none is marked malformed or suspicious,
# on either side.
for side in "demo 1" "imsd v[\"zol.connection\"] == 1"; do
    capture=${side%% *} demo=${side#* }
    all=$(count "$capture" "$demo")
    [ "$all" -gt 30 ] || fail "$capture: only $all frames of the demo"
    expect "$capture: frames the dissector decoded" "$all" "$(count "$capture" "($demo) && v[\"zol.version\"] == 1")"
    expect "$capture: frames of the demo marked" 0 "$(count "$capture" "($demo) && ($marked)")"
done

# Both sides saw the same frames, and they read as the stack's trace does:
# direction, message id and name, token id, length. Each direction keeps its
# order; between them the two sides may see sends and receipts interleaved
# differently.
as_trace() {
    sed 's/^1 /imsd <- /; s/^2 /imsd -> /; s/ \([0-9]*\) \([0-9]*\)$/ token \1 len \2/'
}
q demo 1 zol.direction zol.msg zol.name zol.token zol.length | as_trace >"$work/agent.seq"
q imsd 'v["zol.connection"] == 1' zol.direction zol.msg zol.name zol.token zol.length |
    as_trace >"$work/stack.seq"
awk '/agent connected/ { n++ } n == 1' "$work/imsd.log" |
    sed -n 's/^.* \(imsd [<-][->] [0-9].*\)$/\1/p' >"$work/trace.seq"
for way in "<-" "->"; do
    for seq in agent stack trace; do
        grep -F "imsd $way " "$work/$seq.seq" >"$work/$seq.way"
    done
    [ -s "$work/stack.way" ] || fail "no frames $way in the capture"
    cmp -s "$work/agent.way" "$work/stack.way" ||
        { fail "agent and stack captures differ ($way)"; diff "$work/agent.way" "$work/stack.way"; }
    cmp -s "$work/stack.way" "$work/trace.way" ||
        { fail "capture and trace differ ($way)"; diff "$work/stack.way" "$work/trace.way"; }
done

# Fields of the main messages.
dial_serial=$(sed -n 's/.*> RIL_REQUEST_DIAL (10) #\([0-9]*\).*/\1/p' "$work/demo.log")
expect "dial: token id, number, type and kind" "$dial_serial +4915551234#a1 1 1" \
    "$(q demo 'v["zol.msg"] == 1' zol.token zol.call.number zol.call.type zol.dial.kind)"
expect "call progress" "1 2|1 5" "$(q demo 'v["zol.msg"] == 30006' zol.call.id zol.call.state | lines)"
expect "call lists: states" "4,7|4|4|7,4" \
    "$(q demo 'v["zol.msg"] == 30021 && v["zol.calls"] > 0' zol.call.state | lines)"
expect "incoming call" "2 +4915550009" "$(q demo 'v["zol.msg"] == 30002' zol.call.id zol.call.number)"
expect "call ends" "2 17|1 16" "$(q demo 'v["zol.msg"] == 30005' zol.call.id zol.call.end_cause | lines)"
expect "SMS sent: PDU and reference" "0001000B919471052143F50000044F3A1B04 5" \
    "$(q demo 'v["zol.msg"] == 61' zol.sms.pdu zol.sms.msg_ref)"
expect "SMS delivered: text of its PDU" "see you at noon" \
    "$(q demo 'v["zol.msg"] == 30102' gsm_sms.sms_text)"
expect "service operations" "1 6 015550007|5 6|5 1" \
    "$(q demo 'v["zol.msg"] == 51' zol.ss.op zol.ss.code zol.ss.number | lines)"
expect "service answers" "30056 1|30055 1|30055 1" \
    "$(q demo 'v["zol.msg"] == 30055 || v["zol.msg"] == 30056' zol.msg zol.ss.success | lines)"
expect "forwarding read back" "6 1 015550007" \
    "$(q demo 'v["zol.ss.info_type"] == 3' zol.ss.code zol.ss.active zol.ss.number)"

# The bad frames are marked where they arrive, and only they.
expect "bad frames marked" "30005 9|" \
    "$(q bad 'v["zol.malformed"] != ""' zol.msg zol.length | lines)"
expect "unknown id flagged" "30555" "$(q bad 'v["zol.unknown"] != ""' zol.msg)"
expect "nothing else marked" 3 "$(count bad "$marked")"

if grep -v "Running as user" "$work/tshark.err" | grep -q .; then
    fail "tshark reported errors"
    grep -v "Running as user" "$work/tshark.err"
fi
[ $failures -eq 0 ] || exit 1
echo "PASS: $(count imsd 1) frames captured by the stack, $(count demo 1) + $(count bad 1) by the agent"
