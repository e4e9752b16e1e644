// What a handset's telephony framework does between a classic rild client
// (oFono's rilmodem, Android's RIL.java) and this IMS vendor module, in one
// place: which classic requests the module serves and in which form, how its
// completions and unsolicited responses go back in the classic layout, and
// what is translated where the two disagree on what a number means.
//
// Translated:
//  - SEND_SMS (25, 26) is the module's IMS_SEND_SMS (113) with a 3GPP message.
//  - DTMF (24) is DTMF_START then DTMF_STOP: the module has no one-shot tone.
//  - DIAL's second word is the client's CLIR mode; in the module's dial record
//    that word is the dial kind, where 1 means a conference. The module's
//    dial kind is always 0 (a normal call); the CLIR mode is left out, as the
//    module takes none per call.
//  - SET_CALL_FORWARD / QUERY_CALL_FORWARD_STATUS: a number of type 145 comes
//    without its "+"; the module puts "+86" before such numbers, so it is
//    handed "+<number>" with type 129 instead. The placeholder number clients
//    send with actions that take none is left out. Forwarding records go back
//    with type 145 for a number starting with "+".
//  - QUERY/SET_FACILITY_LOCK: SIM locks are the baseband's, call barring the
//    module's; the module reads the barring password from text 5, where the
//    classic request has the application id at text 4 and ends, so the
//    password is handed over as text 5 as well.
//  - Call lists: records in a state the classic client has no name for (the
//    module's 6, a call being set up or released) are left out; a video call
//    is shown as a voice call, since the client ignores calls that are not.
//  - The module's incoming-call invitation (1047) is accepted here (request
//    310); the call then rings through the call list like any other.
//  - Call hold notices (1051) become CALL_STATE_CHANGED: the call list shows
//    who is held. A remote request to change the call type (1056) is declined
//    (request 334, voice). SRVCC (1055) and any other module-private number
//    are dropped: in classic numbering they mean something else.
#ifndef ZOL_HOST_FRAMEWORK_ADAPTATION_H
#define ZOL_HOST_FRAMEWORK_ADAPTATION_H

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host.h"
#include "marshal.h"

namespace zol_host {

// What the classic client expects back for a request.
enum class ReplyShape { None, Ints, Text, Texts, Calls, SmsResponse, CallForwards };

struct ModuleStep {
    int request = 0; // the module's numbering
    RequestData data;
};

struct Plan {
    enum Route {
        Module,       // send steps to the module, in order; a failure ends the chain
        Other,        // not the module's: the baseband profile may answer
        NotSupported, // answered with REQUEST_NOT_SUPPORTED
        Malformed,    // the payload does not fit the request; answered with a failure
    } route = Other;
    std::vector<ModuleStep> steps;
    ReplyShape reply = ReplyShape::None;
    std::string note;    // what was translated, for the log
    std::string problem; // Malformed, NotSupported: why
};

using Supports = std::function<bool(int module_request)>;

// Reads a classic request's payload and plans it. Never reads past the payload.
Plan plan_request(int request, std::span<const uint8_t> payload, const Supports &supports);

struct ClientReply {
    int error = 0;
    std::vector<uint8_t> payload;
    std::string note;
};
// The classic reply to a completion of the plan's last step.
ClientReply client_reply(ReplyShape shape, const Completion &c);

struct UnsolAction {
    enum Kind { Forward, Drop, Request } kind = Drop;
    int number = 0; // Forward: the classic number
    std::vector<uint8_t> payload;
    std::optional<ModuleStep> request; // Request: what zol-rild sends the module itself
    std::string note;
};
UnsolAction translate_unsol(const Unsolicited &u);

} // namespace zol_host

#endif
