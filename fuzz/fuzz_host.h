// The host side of the fuzz targets: a RIL_Env whose callbacks read every
// byte the module hands over, tokens the way rild makes them, the requests
// that wait for each stack message, and the switch of the fake IPC agent.
#ifndef ZOL_FUZZ_HOST_H
#define ZOL_FUZZ_HOST_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reference_zol.h"

namespace zol_fuzz {

// A host token: the module reads its first word as the request's serial;
// the others tell the host how to read the completion's data and how often
// the request was completed.
struct Token {
    int32_t serial;
    int32_t request;
    bool plain; // read the data as bytes only, whatever the request
    int completions;
    // Of the last completion: its error code, length and first bytes.
    int32_t error;
    size_t len;
    uint8_t head[8];
};

inline Token new_token(int32_t serial, int32_t request, bool plain = false)
{
    Token t{};
    t.serial = serial;
    t.request = request;
    t.plain = plain;
    return t;
}

const RIL_Env *host_env();

// Reports what the host found wrong and ends the run (a finding).
[[noreturn]] void fault(const char *what);

// Sets the answer the fake agent gives every send: 0 sent, anything else failed.
void agent_set_send_result(int result);

// Binds the module to the fake agent and to host_env(), without starting the
// event thread; once per process.
void bring_up_module();

// Every host request is completed exactly once: either the host has its one
// completion and the request is no longer pending, or it still waits in the
// pending list and has none. Aborts otherwise.
void check_answered_once(const Token &token);

// Adds a request waiting for pending_event_id under token; aborts when the
// list refuses it (the caller keeps within its size).
void add_waiting(Token &token, int32_t request, uint32_t pending_event_id);

// A request that waits for a stack message, as its handler remembers it.
struct Waiter {
    int32_t event_id;
    int32_t request;
};

// Every pair of request and the stack message that completes it.
const std::vector<Waiter> &all_waiters();

// The requests that wait for one stack message.
std::vector<int32_t> waiters_of(int32_t event_id);

// Whether the host can read a completion of this request from a confirmation
// with this payload as the module builds it. An interrogation answered with
// status words instead of a forwarding list reaches the forwarding query as
// words: the stack broke the pairing, and the host (rild) could not tell.
bool host_can_read(int32_t request, int32_t event_id, const uint8_t *payload, size_t len);

// While one lives, the module's log lines are dropped unformatted: for the
// harness's own setup (filling the pending list), which is not under test.
class Quiet {
public:
    Quiet();
    ~Quiet();
    Quiet(const Quiet &) = delete;
    Quiet &operator=(const Quiet &) = delete;
};

// Called with every radio log line the module writes, on the writing thread;
// null to stop.
using LogObserver = void (*)(const char *line);
void set_log_observer(LogObserver observer);

} // namespace zol_fuzz

extern "C" {
// Exported by the fake agent library.
void zol_fuzz_agent_set_send_result(int result);
}

#endif // ZOL_FUZZ_HOST_H
