// What the simulated stack knows: the calls, registration, SMS and supplementary
// services. Kept free of I/O so that handlers and control commands can be
// tested without sockets; a real network is reached only through Network.
#ifndef ZOL_IMSD_MODEL_H
#define ZOL_IMSD_MODEL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "call_sim.h"
#include "network.h"
#include "registration.h"
#include "sms.h"
#include "sups.h"

namespace zol::imsd {

enum class CallDir : uint32_t { mt = 1, mo = 2 };
enum class CallType : uint32_t { voice = 1, video = 4 };
enum class CallState : uint32_t {
    idle = 1,
    dialing = 2,
    incoming = 3,
    active = 4,
    alerting = 5,
    releasing = 6,
    held = 7,
    waiting = 8,
};

inline constexpr size_t kMaxNumberLen = 132;
inline constexpr size_t kMaxTextLen = 49;

struct Call {
    uint8_t id = 0;
    std::string number;
    CallDir dir = CallDir::mo;
    CallType type = CallType::voice;
    CallState state = CallState::active;
    uint32_t video_dir = 0xFFFFFFFFu;
    uint8_t mpty = 0;
    uint32_t attr = 0;
    std::string text;
    // Set by the call model, 0 for calls added by hand: delayed actions check it
    // so that they never act on a later call that reuses the id.
    uint64_t serial = 0;
    RemoteScript script;
    std::optional<PendingModify> pending_modify;
    // A modification this side asked the network for, until it answers.
    std::optional<PendingModify> asked_modify;
    // The call's leg on the network when the stack talks SIP; 0 otherwise.
    LegId leg = 0;
};

// Video direction a call of this type starts with.
uint32_t default_video_dir(CallType type);

const char *call_dir_name(CallDir dir);
const char *call_type_name(CallType type);
const char *call_state_name(CallState state);
std::optional<CallDir> parse_call_dir(std::string_view text);
std::optional<CallType> parse_call_type(std::string_view text);
// A state name or its number 1..8.
std::optional<CallState> parse_call_state(std::string_view text);

// Empty when the call can be reported to the module, otherwise why not.
std::string check_call(const Call &call);

// Calls kept in ascending id order, the order in which they are reported.
class CallTable {
public:
    const Call *find(uint8_t id) const;
    Call *find(uint8_t id);
    bool add(Call call); // false when the id is taken
    bool remove(uint8_t id);
    void clear() { calls_.clear(); }
    size_t size() const { return calls_.size(); }
    std::vector<Call>::const_iterator begin() const { return calls_.begin(); }
    std::vector<Call>::const_iterator end() const { return calls_.end(); }

private:
    std::vector<Call> calls_;
};

struct Model {
    CallTable calls;
    CallSim call_sim;
    Registration registration;
    SmsState sms;
    SupsStore sups;
    // The real network, when there is one; not owned.
    Network *network = nullptr;
};

} // namespace zol::imsd

#endif
