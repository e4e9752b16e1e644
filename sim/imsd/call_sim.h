// What the call model keeps besides the call table: how the remote side of an
// outgoing call behaves, failures armed for the next message of a kind, and the
// pace of call progress.
#ifndef ZOL_IMSD_CALL_SIM_H
#define ZOL_IMSD_CALL_SIM_H

#include <cstdint>
#include <map>
#include <optional>

namespace zol::imsd {

inline constexpr uint32_t kDefaultCallDelayMs = 300;

// The remote party's behaviour, taken from suffixes of the dialled number.
struct RemoteScript {
    std::optional<uint32_t> answer_after_ms; // rings this long, then answers
    std::optional<uint32_t> hangup_after_ms; // hangs up this long after answering
    bool busy = false;                       // ends the call as busy instead of ringing
    bool reject = false;                     // rings, then rejects
    bool ring_only = false;                  // rings until someone else ends the call
    bool forward = false;                    // forwards the call while it rings
    size_t party_length = 0;                 // how much of the dialled text is the number

    bool operator==(const RemoteScript &) const = default;
};

// A remote modification waiting for the host's answer.
struct PendingModify {
    uint32_t call_type = 0;
    uint32_t video_dir = 0;
};

// The next message of a kind is answered as a failure: with this end cause where
// the answer is an end indication, with this result flag where it has one.
struct Failure {
    std::optional<uint32_t> cause;
    std::optional<uint32_t> flag;
};

struct CallSim {
    uint32_t delay_ms = kDefaultCallDelayMs; // between two progress steps
    std::map<uint16_t, Failure> fail_next;   // by message id
    uint64_t next_serial = 1;
};

} // namespace zol::imsd

#endif
