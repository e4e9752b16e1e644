// The requests the host can send, one entry each, shared by the console and the
// scenario language: a command's words become the request's number and host data.
#ifndef ZOL_HOST_REQUESTS_H
#define ZOL_HOST_REQUESTS_H

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "marshal.h"
#include "words.h"

namespace zol_host {

struct Outgoing {
    int request = 0;
    RequestData data;
};

struct RequestCommand {
    const char *name;
    const char *usage; // the arguments
    const char *help;
    int request; // 0 for `request`, whose first argument names it
    // Fills out from the arguments; returns why they do not fit, or nothing.
    std::string (*build)(const std::vector<Word> &args, Outgoing &out);
};

std::span<const RequestCommand> request_commands();
const RequestCommand *find_request_command(std::string_view name);

// The request and its data from the arguments (the words after the command's
// name); returns "<reason>; usage: <name> <args>" when they do not fit.
std::string prepare_request(const RequestCommand &command, const std::vector<Word> &args,
                            Outgoing &out);

} // namespace zol_host

#endif
