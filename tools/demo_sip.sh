#!/bin/sh
# The two-phone story over real SIP: two phones, each the RIL host with the
# module (simulation flavour) and a simulated IMS stack that talks SIP, register
# with Kamailio on loopback. Phone A calls phone B, B answers, A holds and
# resumes, B hangs up; A texts B and gets a status report, B texts A. Every line
# is told as it happens: the hosts' requests and answers, what each stack sends
# and receives over SIP, and what passes the proxy. Everything stays on 127.0.0.1.
set -eu
cd "$(dirname "$0")/.."
tools/setup.sh sip
cmake -S . -B build/demo -G Ninja -DZOL_BUILD_TESTS=OFF >/dev/null
ninja -C build/demo
echo
echo "### the two-phone story (A is 1001, B is 1002, the proxy is Kamailio)"
exec python3 tools/sip/phones.py --story build/demo tools/sip/story.scn
