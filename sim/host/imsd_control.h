// Client of the simulated stack's control socket: one command line out, zero or
// more informational lines back, then one final line starting with ok or error.
#ifndef ZOL_HOST_IMSD_CONTROL_H
#define ZOL_HOST_IMSD_CONTROL_H

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace zol_host {

constexpr const char *kDefaultImsdControl = "/tmp/zol-imsd.ctl";

struct ControlReply {
    std::vector<std::string> lines; // informational lines
    std::string final_line;         // the ok or error line
    std::string failure;            // set when no final line could be had

    // A failed exchange counts as an error like an `error` reply does.
    bool ok() const;
};

// The first word of the line is ok or error.
bool is_final_line(std::string_view line);

// Connects for one command and closes again; never waits longer than timeout.
ControlReply control_exchange(const std::string &socket_path, const std::string &command,
                              std::chrono::milliseconds timeout);

} // namespace zol_host

#endif
