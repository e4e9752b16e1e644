// The interactive console: one command a line from a stream (a terminal or a pipe).
#ifndef ZOL_HOST_CONSOLE_H
#define ZOL_HOST_CONSOLE_H

#include <chrono>
#include <istream>
#include <string>

#include "host.h"
#include "output.h"
#include "requests.h"
#include "scenario.h"

namespace zol_host {

class Console {
public:
    Console(Host &host, Output &out, RunOptions options);
    // Until quit or the end of input; prompts only when `prompt` is set.
    void run(std::istream &in, bool prompt);
    // One command line; false when it asks to quit. Besides its own commands
    // the console takes every request command of the scenario language.
    bool execute(const std::string &line);

private:
    struct Command {
        const char *name;
        const char *args;
        const char *help;
        bool (Console::*run)(const std::string &args);
    };
    static const Command kCommands[];

    bool help(const std::string &args);
    bool stack(const std::string &args);
    bool quit(const std::string &args);
    void send_and_wait(const RequestCommand &command, const std::string &args);

    Host &host_;
    Output &out_;
    RunOptions options_;
};

} // namespace zol_host

#endif
