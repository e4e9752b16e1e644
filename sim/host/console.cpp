#include "console.h"

#include <algorithm>

#include "names.h"
#include "ril.h"

namespace zol_host {

// The console's own commands; the requests are rows of the shared request table.
const Console::Command Console::kCommands[] = {
    {"help", "", "this list", &Console::help},
    {"stack", "<command>", "send a control command to zol-imsd (try: stack help)", &Console::stack},
    {"quit", "", "leave", &Console::quit},
};

Console::Console(Host &host, Output &out, RunOptions options)
    : host_(host), out_(out), options_(std::move(options))
{
}

void Console::run(std::istream &in, bool prompt)
{
    std::string line;
    while (true) {
        if (prompt) {
            out_.partial("zol> ");
        }
        if (!std::getline(in, line) || !execute(line)) {
            return;
        }
    }
}

bool Console::execute(const std::string &line)
{
    const size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos || line[begin] == '#') {
        return true;
    }
    const size_t end = line.find_first_of(" \t\r", begin);
    const std::string name = line.substr(begin, end - begin);
    std::string args;
    if (end != std::string::npos) {
        const size_t a = line.find_first_not_of(" \t", end);
        const size_t z = line.find_last_not_of(" \t\r");
        if (a != std::string::npos && z >= a) {
            args = line.substr(a, z - a + 1);
        }
    }
    for (const Command &c : kCommands) {
        if (name == c.name) {
            return (this->*c.run)(args);
        }
    }
    if (const RequestCommand *command = find_request_command(name)) {
        send_and_wait(*command, args);
        return true;
    }
    out_.line("unknown command '" + name + "'; try help");
    return true;
}

bool Console::help(const std::string &)
{
    const auto show = [&](const char *name, const char *args, const char *help) {
        std::string usage = std::string(name) + (*args != '\0' ? " " : "") + args;
        if (usage.size() >= 26) {
            out_.line("  " + usage);
            usage.clear();
        }
        usage.resize(26, ' ');
        out_.line("  " + usage + help);
    };
    for (const RequestCommand &c : request_commands()) {
        show(c.name, c.usage, c.help);
    }
    for (const Command &c : kCommands) {
        show(c.name, c.args, c.help);
    }
    return true;
}

void Console::send_and_wait(const RequestCommand &command, const std::string &args)
{
    std::string error;
    const auto words = split_words(args, error);
    Outgoing out;
    if (words) {
        error = prepare_request(command, *words, out);
    }
    if (!error.empty()) {
        out_.line(error);
        return;
    }
    const int serial = host_.send(out.request, out.data.data(), out.data.length());
    out.data = RequestData::none();  // a module must not keep the data past onRequest
    // The completion prints itself; only its absence needs saying.
    if (!host_.wait_completion(serial, options_.timeout)) {
        out_.line("no completion of " + request_name(out.request) + " #" + std::to_string(serial) +
                  " within " + std::to_string(options_.timeout.count()) + " ms");
    }
}

bool Console::stack(const std::string &args)
{
    if (args.empty()) {
        out_.line("usage: stack <command>");
        return true;
    }
    if (!options_.stack) {
        out_.line("no stack control to send to");
        return true;
    }
    const ControlReply reply = options_.stack(args);
    for (const std::string &l : reply.lines) {
        out_.line(l);
    }
    out_.line(reply.failure.empty() ? reply.final_line : "stack: " + reply.failure);
    return true;
}

bool Console::quit(const std::string &)
{
    return false;
}

} // namespace zol_host
