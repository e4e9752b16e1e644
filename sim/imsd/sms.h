// SMS over IMS: send statuses for the module's messages, incoming messages and
// status reports injected from the control side, and the module's acknowledgements.
#ifndef ZOL_IMSD_SMS_H
#define ZOL_IMSD_SMS_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "sms_records.h"

namespace zol::imsd {

class Context;
struct CommandArgs;
struct NetEvent;

// How the stack answers one send.
struct SmsPlan {
    bool answer = true; // false: the send times out, no status at all
    uint32_t error_code = kSmsSendOk;
};

struct SentSms {
    SendSms request;
    SmsPlan outcome;
    // Sent over the network: the outcome is the status it reported, once it has.
    bool network = false;
    bool settled = false;
};

// Kept for `sms sent` and `sms acks`; the oldest go first beyond this many.
inline constexpr size_t kSmsHistory = 100;

struct SmsState {
    std::deque<SmsPlan> next; // for the coming sends, in order; then success
    std::deque<SentSms> sent;
    std::deque<SmsAck> acks;
};

void on_send_sms(Context &ctx);
void on_ack_sms(Context &ctx);
// Applies an sms_received or sms_status NetEvent.
void on_network_sms_event(Context &ctx, const NetEvent &e);

void cmd_sms_fail(CommandArgs &a);
void cmd_sms_timeout(CommandArgs &a);
void cmd_sms_sent(CommandArgs &a);
void cmd_sms_acks(CommandArgs &a);
void cmd_sms_deliver(CommandArgs &a);
void cmd_sms_status_report(CommandArgs &a);
void cmd_sms_deliver_text(CommandArgs &a);

} // namespace zol::imsd

#endif
