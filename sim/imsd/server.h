// The stack process: the agent's data socket, the control sockets and standard
// input, served by one poll() loop.
#ifndef ZOL_IMSD_SERVER_H
#define ZOL_IMSD_SERVER_H

#include <cstdint>
#include <string>

#include "call_sim.h"
#include "timestamp.h"

namespace zol::imsd {

class Network;

struct Options {
    std::string socket_path = "/tmp/zol-imsd.sock";
    std::string control_path = "/tmp/zol-imsd.ctl";
    bool use_stdin = false;
    bool verbose = false;
    // Between two steps of an outgoing call's progress.
    uint32_t call_delay_ms = kDefaultCallDelayMs;
    // Tell a newly connected agent the run status, as the stack does at start.
    bool report_on_connect = true;
    // The real network the models talk to (--sip-registrar); none: they script it.
    Network *network = nullptr;
    // Every frame both ways goes to this pcap file; empty for none.
    std::string pcap_path;
    // What the trace lines are stamped with.
    zol_sim::Clock clock = zol_sim::Clock::wall;
};

// Serves until `quit`, SIGTERM or SIGINT; returns the process exit status.
int run_server(const Options &options);

} // namespace zol::imsd

#endif
