// The stack process: the agent's data socket, the control sockets and standard
// input, served by one poll() loop.
#ifndef ZOL_IMSD_SERVER_H
#define ZOL_IMSD_SERVER_H

#include <string>

namespace zol::imsd {

struct Options {
    std::string socket_path = "/tmp/zol-imsd.sock";
    std::string control_path = "/tmp/zol-imsd.ctl";
    bool use_stdin = false;
    bool verbose = false;
};

// Serves until `quit`, SIGTERM or SIGINT; returns the process exit status.
int run_server(const Options &options);

} // namespace zol::imsd

#endif
