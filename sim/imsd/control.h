// The control protocol: one text command per line, answered by zero or more
// informational lines and one final line starting with "ok" or "error".
#ifndef ZOL_IMSD_CONTROL_H
#define ZOL_IMSD_CONTROL_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "frame.h"
#include "model.h"
#include "timers.h"

namespace zol::imsd {

struct LinkStatus {
    bool connected = false;
    uint64_t received = 0;    // packets from the agent
    uint64_t sent = 0;        // packets to the agent
    uint64_t connections = 0; // agent connections accepted so far
};

// Faults of the data connection itself.
enum class LinkFault {
    none,   // end the faults below now
    refuse, // the agent's sends fail at once, also on connections made within the time
    close,  // the connection ends; no new one is taken within the time
    stall,  // nothing is read from the agent for the time: its sends block, then fail
};

// The data connection as the control commands see it.
class Link {
public:
    virtual ~Link() = default;
    virtual LinkStatus status() const = 0;
    // Empty on success, otherwise why nothing was sent.
    virtual std::string send_frame(const Frame &frame) = 0;
    virtual std::string send_raw(std::span<const uint8_t> bytes) = 0;
    // Where commands schedule delayed actions; null when nothing runs them.
    virtual TimerQueue *timers() { return nullptr; }
    // Fault injection; null where frames go out untouched.
    virtual FaultPlan *faults() { return nullptr; }
    // Sends what the fault plan let through; an answer that cannot be sent is owed again.
    virtual void transmit(std::vector<Packet> packets) { (void)packets; }
    // Empty on success, otherwise why the fault cannot be had.
    virtual std::string link_fault(LinkFault fault, uint32_t ms)
    {
        (void)fault;
        (void)ms;
        return "no connection faults on this link";
    }
    // The next agent connection gets what the fault plan holds back or owes.
    virtual void drain_on_connect() {}
    // Back to the start: `model` as the stack began, no delayed actions, no
    // faults, nothing held or owed. The connection stays.
    virtual void reset(Model &model) { model = Model{}; }
};

struct Reply {
    std::vector<std::string> lines; // the last one is the final ok/error line
    bool quit = false;

    bool ok() const;
    std::string text() const; // every line followed by '\n'
};

// What a control command sees: its words after the command name, the model,
// the data connection and the reply it fills.
struct CommandArgs {
    std::span<const std::string_view> words;
    Model &model;
    Link &link;
    Reply &reply;

    void info(std::string line) { reply.lines.push_back(std::move(line)); }
    void ok(std::string rest = {})
    {
        reply.lines.push_back(rest.empty() ? std::string("ok") : "ok " + rest);
    }
    void error(const std::string &why) { reply.lines.push_back("error " + why); }
};

// Empty lines and lines starting with '#' are not commands and get no reply.
std::optional<Reply> run_command(std::string_view line, Model &model, Link &link);

// One line per command: usage and what it does.
std::vector<std::string> command_help();

// How `calls` shows a call; the keys are those `call add` accepts.
std::string describe_call(const Call &call);

} // namespace zol::imsd

#endif
