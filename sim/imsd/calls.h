// The call model of the stack: handlers of the call messages, the remote party's
// behaviour scripted by the dialled number, and the control commands with which
// a person or a test plays the network.
//
// Whenever a call changes state, the indications sent end with one that the
// module turns into a call-state-changed notice, so that the host fetches the
// call list; hold and retrieve indications alone do not, and are followed by an
// audio codec indication.
#ifndef ZOL_IMSD_CALLS_H
#define ZOL_IMSD_CALLS_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control.h"
#include "messages.h"

namespace zol::imsd {

// End causes, in the numbering the host uses for the last call fail cause.
namespace cause {
inline constexpr uint32_t kNormal = 16;
inline constexpr uint32_t kBusy = 17;
inline constexpr uint32_t kRejected = 21;
inline constexpr uint32_t kOtherFailure = 31; // also the default for a failure
inline constexpr uint32_t kCongestion = 34;   // no call id left
} // namespace cause

void on_dial(Context &ctx);
void on_answer(Context &ctx);
void on_mt_invite_response(Context &ctx);
void on_release_calls(Context &ctx);
void on_dtmf_start(Context &ctx);
void on_dtmf_stop(Context &ctx);
void on_call_modify(Context &ctx);
void on_call_modify_response(Context &ctx);
void on_conference_join(Context &ctx);
void on_conference_split(Context &ctx);
void on_swap(Context &ctx);

// Applies what the network reports about a call (NetEvent kinds incoming to
// dtmf_sent).
void on_network_call_event(Context &ctx, const NetEvent &e);

// The suffixes of a dialled number that script the remote party.
RemoteScript parse_remote_script(std::string_view number);

// Control commands (rows in control.cpp).
using CommandWords = std::span<const std::string_view>;
void cmd_incoming(CommandArgs &a);
void cmd_hangup(CommandArgs &a);
void cmd_connect(CommandArgs &a);
void cmd_modify(CommandArgs &a);
void cmd_forward(CommandArgs &a);
void cmd_srvcc(CommandArgs &a);
void cmd_set_delay(CommandArgs &a);
void cmd_fail_next(CommandArgs &a);
void cmd_fail_clear(CommandArgs &a);
void cmd_help_calls(CommandArgs &a);

// Dial-number suffixes and failure answers, for --help and `help calls`.
std::vector<std::string> calls_help();

} // namespace zol::imsd

#endif
