#!/bin/sh
# One scenario with the RIL host under valgrind's memcheck: the module, the agent
# library and the host itself must read no memory they should not, and leak
# nothing for good. The stack runs natively beside it.
# usage: valgrind_scenario.sh <build dir> <valgrind> <scenario>
set -u
bindir=$1
valgrind=$2
scenario=$3
log=$(mktemp "${TMPDIR:-/tmp}/zol-valgrind.XXXXXX")
trap 'rm -f "$log"' EXIT INT TERM

# Definite leaks count; memory the module keeps for the life of the process
# (its event thread, the agent's reader) is still reachable and does not.
ZOL_E2E_EMULATOR="$valgrind --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite \
--show-leak-kinds=definite --log-file=$log" \
    "$(dirname "$0")/run_scenario.sh" "$bindir" "$scenario"
rc=$?
echo "--- valgrind"
cat "$log"
[ $rc -eq 0 ] || exit $rc
# The exit status only counts errors; the summary has to say so too.
if ! grep -q "ERROR SUMMARY: 0 errors" "$log"; then
    echo "valgrind reported errors"
    exit 9
fi
exit 0
