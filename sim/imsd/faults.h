// Fault injection on the way from the stack to the agent: answers dropped,
// duplicated, delayed, corrupted, cut short, padded or sent under an id nobody
// knows; all answers held back for a while; confirmations nobody asked for.
//
// The module has no request timeouts, so the stack keeps a ledger of what it
// owes: every request whose awaited answer a fault kept from arriving intact,
// or that the model left unanswered. `fault off` and `fault drain` pay it.
// Connection faults (refuse, close, stall) belong to the server; the plan only
// decides what happens to frames.
#ifndef ZOL_IMSD_FAULTS_H
#define ZOL_IMSD_FAULTS_H

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame.h"
#include "model.h"

namespace zol::imsd {

enum class FaultKind : uint8_t { drop, duplicate, delay, corrupt, truncate, oversize, unknown };
inline constexpr size_t kFaultKinds = 7;

const char *fault_kind_name(FaultKind kind);
std::optional<FaultKind> parse_fault_kind(std::string_view text);

// The message the module waits for after this request, or 0 when it waits for none.
uint16_t awaited_answer(const Frame &request);
// The messages some request waits for; `fault spurious` picks from these.
std::span<const uint16_t> awaited_messages();
// A well-formed payload of an awaited message that reports a failure where the
// message can say so (the call list reports the calls as they are).
std::vector<uint8_t> stand_in_payload(uint16_t message, const Model &model);

// One packet for the agent.
struct Packet {
    std::vector<uint8_t> bytes;
    std::string trace; // the trace line, without the "imsd " prefix
    // Set for an intact answer: if it cannot be sent, it is owed again.
    std::optional<Frame> answer;
};

// An intact frame as a packet; `answer` marks one that settles a request.
Packet make_packet(const Frame &frame, bool answer);

struct FaultRule {
    FaultKind kind = FaultKind::drop;
    uint32_t count = 0;   // the next `count` frames, or
    uint32_t percent = 0; // this share of the frames, until cleared
    uint32_t delay_ms = 500;
};

struct FaultStats {
    std::array<uint64_t, kFaultKinds> injected{};
    uint64_t held = 0;     // frames held back while paused, so far
    uint64_t owed = 0;     // answers the ledger took on, so far
    uint64_t paid = 0;     // owed answers sent by a drain
    uint64_t spurious = 0; // confirmations nobody asked for

    uint64_t injected_total() const;
};

class FaultPlan {
public:
    FaultPlan() : rng_(1) {}

    void arm(const FaultRule &rule);
    // Each frame suffers a fault of a random kind with this chance; 0 turns it off.
    void random(uint64_t seed, uint32_t percent);
    // Forgets the rules and the random mode; the ledger and a pause stay.
    void clear_rules();
    void pause() { paused_ = true; }
    bool paused() const { return paused_; }

    // A frame on its way out at `now_ms`: the packets to send now.
    std::vector<Packet> submit(Frame frame, bool answer, int64_t now_ms);
    // Ends a pause: what was held goes out now, through the rules.
    std::vector<Packet> resume(int64_t now_ms);
    // Delayed frames that are due.
    std::vector<Packet> due(int64_t now_ms);
    std::optional<int64_t> next_due() const;

    // A request whose awaited answer the model did not give.
    void owe_answer(int32_t token, uint16_t message);
    // An answer that did not reach the agent.
    void owe(Frame frame);
    // Everything held and delayed, then every owed answer, all intact. Ends a
    // pause; the rules stay armed.
    std::vector<Packet> drain(const Model &model);
    // A confirmation nobody asked for.
    Packet spurious(uint16_t message, const Model &model);
    // Drops what is held, delayed and owed: it was meant for a module that is
    // gone. Returns how many frames that was; the rules stay armed.
    size_t forget();

    size_t held() const { return held_.size(); }
    size_t delayed() const { return delayed_.size(); }
    size_t owed() const { return owed_.size(); }
    const FaultStats &stats() const { return stats_; }
    // One line per armed rule, the random mode and the pause.
    std::vector<std::string> describe() const;
    // The summary `fault show` ends with.
    std::string summary() const;

    // Random numbers for the server's own choices; seeded with the plan.
    uint64_t draw() { return rng_(); }

private:
    struct Pending {
        Frame frame;
        bool answer = false;
    };
    struct Delayed {
        int64_t due = 0;
        uint64_t order = 0;
        Pending item;
    };
    struct Owed {
        Frame frame;
        bool stand_in = false; // the payload is made when it is paid
    };

    std::optional<FaultRule> pick();
    void apply(const FaultRule &rule, Pending item, int64_t now_ms, std::vector<Packet> &out);
    bool roll(uint32_t percent);

    std::vector<FaultRule> rules_;
    uint32_t random_percent_ = 0;
    uint64_t random_seed_ = 0;
    std::mt19937_64 rng_;
    bool paused_ = false;
    std::deque<Pending> held_;
    std::vector<Delayed> delayed_;
    uint64_t next_order_ = 0;
    std::deque<Owed> owed_;
    FaultStats stats_;
};

struct CommandArgs;

// Control commands (rows in control.cpp).
void cmd_fault_rule(CommandArgs &a);
void cmd_fault_random(CommandArgs &a);
void cmd_fault_clear(CommandArgs &a);
void cmd_fault_pause(CommandArgs &a);
void cmd_fault_resume(CommandArgs &a);
void cmd_fault_spurious(CommandArgs &a);
void cmd_fault_refuse(CommandArgs &a);
void cmd_fault_close(CommandArgs &a);
void cmd_fault_stall(CommandArgs &a);
void cmd_fault_drain(CommandArgs &a);
void cmd_fault_off(CommandArgs &a);
void cmd_fault_show(CommandArgs &a);

} // namespace zol::imsd

#endif
