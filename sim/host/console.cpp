#include "console.h"

#include <algorithm>
#include <thread>

#include "names.h"
#include "ril.h"

namespace zol_host {

// The console's own commands; the requests are rows of the shared request table.
const Console::Command Console::kCommands[] = {
    {"help", "", "this list", &Console::help},
    {"stack", "<command>", "send a control command to zol-imsd (try: stack help)", &Console::stack},
    {"sleep", "<ms>", "pause; what arrives meanwhile is printed", &Console::sleep},
    {"wait", "[<ms>]", "until every request sent has its completion", &Console::wait},
    {"wait", "unsol <number|name> [<ms>]",
     "until the next such unsolicited response (each wait takes one)", &Console::wait},
    {"quit", "", "leave at once (the end of input waits for completions still due)",
     &Console::quit},
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
        if (!std::getline(in, line)) {
            break;
        }
        if (!execute(line)) {
            return;
        }
    }
    // A piped console must not leave while answers are still on their way,
    // nor wait for ones the stack holds back.
    const size_t open = host_.tally().open.size();
    if (open == 0) {
        return;
    }
    if (const std::string why = held_back_by_stack(); !why.empty()) {
        out_.line("end of input: " + std::to_string(open) + " completion(s) still due, but " + why +
                  "; leaving without them");
        return;
    }
    out_.line("end of input: waiting up to " + std::to_string(options_.timeout.count()) +
              " ms for " + std::to_string(open) + " completion(s) still due");
    wait_for_open(options_.timeout);
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
            return (this->*c.run)(args); // the first row of a name takes all its forms
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
    out.data = RequestData::none(); // a module must not keep the data past onRequest
    // The completion prints itself; only its absence needs saying. A stack that
    // holds the answer back can say so at once, instead of at the time-out.
    const std::string what = request_name(out.request) + " #" + std::to_string(serial);
    const auto first = std::min(options_.timeout, std::chrono::milliseconds(1000));
    if (host_.wait_completion(serial, first)) {
        return;
    }
    if (const std::string why = held_back_by_stack(); !why.empty()) {
        out_.line("no completion of " + what + " yet: " + why +
                  "; `stack fault drain` sends it, `wait` waits for it");
        return;
    }
    if (!host_.wait_completion(serial, options_.timeout - first)) {
        out_.line("no completion of " + what + " within " +
                  std::to_string(options_.timeout.count()) + " ms");
    }
}

std::string Console::held_back_by_stack()
{
    if (!options_.stack) {
        return {};
    }
    const ControlReply r = options_.stack("fault show");
    if (!r.ok()) {
        return {};
    }
    // "ok paused=no held=0 delayed=0 owed=1 ...": what the stack keeps back.
    const auto value = [&](const std::string &key) {
        const size_t at = r.final_line.find(" " + key + "=");
        if (at == std::string::npos) {
            return std::string();
        }
        const size_t from = at + key.size() + 2;
        return r.final_line.substr(from, r.final_line.find(' ', from) - from);
    };
    const std::string owed = value("owed");
    const std::string held = value("held");
    if (value("paused") == "yes") {
        return "the stack is paused and holds " + held + " frame(s) back";
    }
    if (!owed.empty() && owed != "0") {
        return "the stack owes " + owed +
               " answer(s) it will not send by itself (for example an answer with no call "
               "ringing, or a fault that kept it)";
    }
    return {};
}

bool Console::wait_for_open(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::string> missing;
    for (const auto &[serial, request] : host_.tally().open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (!host_.wait_completion(serial, std::max(left, std::chrono::milliseconds(0)))) {
            missing.push_back(request_name(request) + " #" + std::to_string(serial));
        }
    }
    if (!missing.empty()) {
        std::string list;
        for (const std::string &m : missing) {
            list += (list.empty() ? "" : ", ") + m;
        }
        out_.line("still no completion of " + list + " after " + std::to_string(timeout.count()) +
                  " ms");
    }
    return missing.empty();
}

namespace {

// A whole number of milliseconds up to an hour, or nothing.
std::optional<std::chrono::milliseconds> parse_ms(const std::string &text)
{
    const auto n = parse_int(text);
    if (!n || *n < 0 || *n > 3600000) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(*n);
}

} // namespace

bool Console::sleep(const std::string &args)
{
    const auto ms = parse_ms(args);
    if (!ms) {
        out_.line("usage: sleep <ms> (0 to 3600000)");
        return true;
    }
    std::this_thread::sleep_for(*ms);
    return true;
}

bool Console::wait(const std::string &args)
{
    std::string error;
    const auto words = split_words(args, error);
    if (!words) {
        out_.line(error);
        return true;
    }
    const auto &w = *words;
    const bool unsol = !w.empty() && w[0].text == "unsol";
    const size_t ms_at = unsol ? 2 : 0;
    const auto number = unsol && w.size() >= 2 ? parse_unsol(w[1].text) : std::nullopt;
    const auto ms = w.size() > ms_at ? parse_ms(w[ms_at].text) : options_.timeout;
    if ((unsol && !number) || !ms || w.size() > ms_at + 1) {
        out_.line("usage: wait [<ms>] | wait unsol <number|name> [<ms>]");
        return true;
    }
    if (!unsol) {
        if (host_.tally().open.empty()) {
            out_.line("no completion is due");
        } else if (wait_for_open(*ms)) {
            out_.line("every completion has come");
        }
        return true;
    }
    const int wanted = number.value_or(0);
    const int got = host_.wait_unsol(wanted, 1, unsol_mark_, *ms);
    unsol_mark_ = host_.unsol_mark_after(wanted, unsol_mark_); // each wait takes one
    if (got == 0) {
        out_.line("no " + unsol_name(wanted) + " (" + std::to_string(wanted) + ") within " +
                  std::to_string(ms->count()) + " ms");
    }
    return true;
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
