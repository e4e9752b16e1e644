#!/bin/sh
# The agent library defines exactly the three functions of ipc_agent.h, and
# nothing else leaks out of it.
set -eu
lib=$1
expected="ipc_agent_init
ipc_agent_message_send_block_comm
ipc_agent_open"
exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -v -e '^_init$' -e '^_fini$' | sort -u)
if [ "$exported" != "$expected" ]; then
    echo "expected exports:"; echo "$expected"
    echo "actual exports:"; echo "$exported"
    exit 1
fi
echo "3 functions exported"
