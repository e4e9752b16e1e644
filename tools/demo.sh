#!/bin/sh
# The scripted demo: host, module, agent and simulated IMS stack.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh
cmake -S . -B build/plain -G Ninja >/dev/null
ninja -C build/plain
echo
echo "Built build/plain/production/libreference-zol.so and build/plain/sim/libreference-zol.so."
echo "The RIL host, the IPC agent library and the simulated IMS stack arrive with the next"
echo "step of the project; until then the module's behaviour is shown by tools/test.sh."
