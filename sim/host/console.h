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
    // Until quit or the end of input; prompts only when `prompt` is set. At the
    // end of input it waits (up to the timeout, saying so) for completions still due.
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
    bool sleep(const std::string &args);
    bool wait(const std::string &args);
    bool quit(const std::string &args);
    void send_and_wait(const RequestCommand &command, const std::string &args);
    // Waits for the completions still due; false when some did not come.
    bool wait_for_open(std::chrono::milliseconds timeout);
    // Why a completion has not come, when the stack can tell: it holds it back.
    std::string held_back_by_stack();

    Host &host_;
    Output &out_;
    RunOptions options_;
    size_t unsol_mark_ = 0; // wait unsol counts from here
};

} // namespace zol_host

#endif
