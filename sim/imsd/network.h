// The stack's window on a real network. Without one the models script the
// remote side themselves; with one (zol-imsd --sip-registrar ...) the same call,
// SMS and registration state machines ask the network to act and are driven by
// what it reports back.
//
// The models run on the server's thread and the network on its own, so the
// requests below only hand work over and return at once; what comes of them
// arrives later as NetEvents, which the server takes when wake_fd() is readable.
#ifndef ZOL_IMSD_NETWORK_H
#define ZOL_IMSD_NETWORK_H

#include <cstdint>
#include <string>
#include <vector>

#include "frame.h"

namespace zol::imsd {

class TimerQueue;
struct Model;

// A call as the network knows it; 0 names none.
using LegId = uint64_t;

// How an incoming call that was never answered is turned away.
enum class Refusal : uint8_t {
    busy,     // the user is busy (a second call, or the host rejected it as busy)
    declined, // the user refused this call
};

struct NetEvent {
    enum class Kind : uint8_t {
        registered,   // flag: registered or not
        incoming,     // leg, text: caller, flag: video offered
        progress,     // leg: the remote party is alerted (180/183)
        answered,     // leg, flag: video agreed
        ended,        // leg, code: Q.850 cause
        remote_hold,  // leg, flag: held (true) or resumed
        modified,     // leg, flag: video now; code: 1 done, 0 refused
        modify_asked, // leg: the remote party wants video
        dtmf_sent,    // token, code: 1 delivered, 0 not
        sms_received, // text: the PDU as the host gets it (hex); code: TPDU type
        sms_status,   // token, ref: host's reference, code: error code (0 success)
        note,         // text: a line for the trace
    };
    Kind kind = Kind::note;
    LegId leg = 0;
    bool flag = false;
    uint32_t code = 0;
    uint32_t ref = 0;
    int32_t token = 0;
    std::string text;
};

class Network {
public:
    virtual ~Network() = default;

    // Registration: the stack keeps registered while `on` (REGISTER, refreshes,
    // retries) and un-registers when it turns off.
    virtual void set_registered(bool on) = 0;

    // Calls. `call` names the new leg at once; whether it gets anywhere is told by
    // events. `end` releases a leg in whatever way its state needs (CANCEL, BYE,
    // or the refusal for an incoming call never answered).
    virtual LegId call(const std::string &number, bool video) = 0;
    virtual void ring(LegId leg) = 0;
    virtual void answer(LegId leg, bool video) = 0;
    virtual void end(LegId leg, Refusal refusal) = 0;
    virtual void hold(LegId leg, bool held) = 0;
    virtual void modify(LegId leg, bool video) = 0;
    // Answered by a dtmf_sent event carrying `token`.
    virtual void dtmf(LegId leg, char digit, int32_t token) = 0;

    // SMS: `tpdu` and `smsc` as the host gave them (hex; smsc may be empty).
    // Answered by an sms_status event carrying `token` and `ref`.
    virtual void send_sms(const std::string &tpdu, const std::string &smsc, uint32_t ref,
                          int32_t token) = 0;
    // The host's verdict on the oldest incoming message not yet acknowledged.
    virtual void ack_sms(bool accepted, uint32_t cause) = 0;

    // Readable while events wait; take_events() empties it.
    virtual int wake_fd() const = 0;
    virtual std::vector<NetEvent> take_events() = 0;
    // Lines for `sip status`.
    virtual std::vector<std::string> describe() const = 0;
};

// Applies the waiting network events to the model and returns the frames they
// make; trace lines go to `notes`.
std::vector<Frame> run_network_events(Model &model, TimerQueue *timers,
                                      std::vector<std::string> &notes);

struct CommandArgs;
void cmd_sip_status(CommandArgs &a);

} // namespace zol::imsd

#endif
