// The engine's SMS: relay messages in SIP MESSAGE, as a phone and, for
// messages straight from another phone, as their service centre.
#include "sip/causes.h"
#include "sip/engine_parts.h"
#include "sip/inbound.h"
#include "sms_records.h"
#include "text.h"

namespace zol::imsd::sip {

namespace {

constexpr uint32_t kRelayTimeoutMs = 35000; // how long an SMS may wait for its RP-ACK
constexpr size_t kMaxUnacked = 16;
// What MESSAGE responses are for: the high word of a tag, the RP reference below.
constexpr uint64_t kTagSms = 1;
constexpr uint64_t kTagReport = 2;
constexpr uint64_t kTagReply = 3;

void message_response(int err, const sip_msg *msg, void *arg)
{
    if (Engine *engine = thread_engine()) {
        engine->on_message_response(from_arg(arg), err, msg);
    }
}

} // namespace

int Engine::send_message(const std::string &uri, const Bytes &body, uint64_t tag)
{
    sip_dialog *dlg = nullptr;
    const char *routev[] = {route_.c_str()};
    int err = sip_dialog_alloc(&dlg, uri.c_str(), uri.c_str(), nullptr, aor_.c_str(), routev, 1);
    err = err != 0 ? err
                   : sip_drequestf(nullptr, sip_, true, "MESSAGE", dlg, 0, nullptr, nullptr,
                                   message_response, as_arg(tag),
                                   "Content-Type: %s\r\n"
                                   "Content-Length: %zu\r\n"
                                   "\r\n"
                                   "%b",
                                   kSmsContentType, body.size(), body.data(), body.size());
    mem_deref(dlg);
    return err;
}

void Engine::send_sms(const std::string &tpdu_hex, const std::string &smsc_hex, uint32_t ref,
                      int32_t token)
{
    const uint8_t rp_ref = next_rp_ref();
    // 256 messages later the reference comes round again: the one still
    // waiting under it will not get an answer any more.
    sms_done(rp_ref, kSmsSendTimedOut, "given up");
    OutgoingSms &pending = outgoing_sms_[rp_ref];
    pending.host_ref = ref;
    pending.token = token;
    pending.timer = std::make_unique<Timer>();
    ++sms_sent_;
    std::string why;
    const auto tpdu = parse_hex(tpdu_hex);
    const auto smsc = parse_hex(smsc_hex);
    std::optional<Submit> submit;
    if (!tpdu || !smsc) {
        why = "the PDU is not hex";
    } else {
        submit = parse_submit(*tpdu, why);
    }
    if (!submit) {
        note("SMS not sent: " + why);
        return sms_done(rp_ref, rp_cause::kInvalidMessage, "refused");
    }
    RpMessage rp;
    rp.type = RpType::data_from_ms;
    rp.ref = rp_ref;
    // The service centre's address as the host wrote it: a length octet, then the address.
    if (!smsc->empty() && smsc->size() == 1u + (*smsc)[0]) {
        rp.destination.assign(smsc->begin() + 1, smsc->end());
    }
    rp.user_data = *tpdu;
    // Sent straight to the recipient, whose side relays it as the service centre would.
    const std::string uri = target_uri(submit->number);
    if (const int err = send_message(uri, encode_rp(rp), kTagSms << 32 | rp_ref); err != 0) {
        note("MESSAGE to " + uri + " not sent: " + describe_error(err));
        return sms_done(rp_ref, cause_for_silence(false), "not sent");
    }
    pending.timer->start(kRelayTimeoutMs, [this, rp_ref] { on_sms_timeout(rp_ref); });
    note(strf("SMS %u to %s as RP-DATA reference %u", ref, uri.c_str(), unsigned{rp_ref}));
}

void Engine::on_sms_timeout(uint8_t rp_ref)
{
    sms_done(rp_ref, kSmsSendTimedOut, "timed out");
}

void Engine::sms_done(uint8_t rp_ref, uint32_t error_code, const char *how)
{
    const auto it = outgoing_sms_.find(rp_ref);
    if (it == outgoing_sms_.end()) {
        return;
    }
    NetEvent e;
    e.kind = NetEvent::Kind::sms_status;
    e.token = it->second.token;
    e.ref = it->second.host_ref;
    e.code = error_code;
    post(std::move(e));
    note(strf("SMS %u %s (RP reference %u, error %u)", it->second.host_ref, how, unsigned{rp_ref},
              error_code));
    outgoing_sms_.erase(it);
}

void Engine::on_message_response(uint64_t tag, int err, const sip_msg *msg)
{
    if (msg != nullptr && msg->scode < 200) {
        return;
    }
    const auto rp_ref = static_cast<uint8_t>(tag);
    const bool failed = err != 0 || msg == nullptr || msg->scode >= 300;
    if (!failed) {
        return; // a relay answer, if any, follows in a MESSAGE of its own
    }
    const uint32_t cause =
        msg != nullptr ? cause_for_status(msg->scode, false) : cause_for_silence(err == ETIMEDOUT);
    switch (tag >> 32) {
    case kTagSms:
        sms_done(rp_ref, cause, "refused by the network");
        break;
    case kTagReport:
    case kTagReply:
        note(strf("relay message %u not delivered, cause %u", unsigned{rp_ref}, cause));
        break;
    default:
        break;
    }
}

bool Engine::on_request(const sip_msg &msg)
{
    if (pl_strcmp(&msg.met, "OPTIONS") == 0) {
        sip_treplyf(nullptr, nullptr, sip_, &msg, false, 200, "OK",
                    "Allow: INVITE, ACK, CANCEL, BYE, INFO, MESSAGE, OPTIONS\r\n"
                    "Accept: application/sdp, %s\r\n"
                    "Content-Length: 0\r\n"
                    "\r\n",
                    kSmsContentType);
        return true;
    }
    if (pl_strcmp(&msg.met, "MESSAGE") != 0) {
        return false;
    }
    if (!has_content_type(msg, "application", "vnd.3gpp.sms")) {
        sip_treply(nullptr, sip_, &msg, 415, "Unsupported Media Type");
        return true;
    }
    std::string why;
    const auto rp = decode_rp(body_of(msg), why);
    if (!rp) {
        note("MESSAGE from " + caller_of(msg) + " refused: " + why);
        sip_treply(nullptr, sip_, &msg, 400, "Bad Request");
        return true;
    }
    sip_treply(nullptr, sip_, &msg, 200, "OK");
    handle_rp(*rp, msg);
    return true;
}

void Engine::handle_rp(const RpMessage &rp, const sip_msg &msg)
{
    const std::string sender = caller_of(msg);
    const auto deliver = [&](const Bytes &smsc, const Bytes &tpdu, uint32_t type, Unacked held) {
        Bytes apdu = {static_cast<uint8_t>(smsc.size())};
        apdu.insert(apdu.end(), smsc.begin(), smsc.end());
        apdu.insert(apdu.end(), tpdu.begin(), tpdu.end());
        if (unacked_.size() == kMaxUnacked) {
            unacked_.pop_front();
        }
        unacked_.push_back(std::move(held));
        ++sms_received_;
        NetEvent e;
        e.kind = NetEvent::Kind::sms_received;
        e.text = hex_upper(apdu);
        e.code = type;
        post(std::move(e));
    };
    const auto refuse = [&](RpType type, uint8_t cause, const std::string &why) {
        note(strf("RP-DATA %u from %s refused: %s", unsigned{rp.ref}, sender.c_str(), why.c_str()));
        RpMessage error;
        error.type = type;
        error.ref = rp.ref;
        error.cause = cause;
        send_message(reply_uri_of(msg), encode_rp(error), kTagReply << 32 | rp.ref);
    };
    Unacked held;
    held.reply_to = reply_uri_of(msg);
    held.rp_ref = rp.ref;
    held.received = utc_now();
    std::string why;
    switch (rp.type) {
    case RpType::data_to_ms: {
        // From a service centre: delivered as it is.
        const auto type = mt_tpdu_type(rp.user_data);
        if (!type) {
            return refuse(RpType::error_from_ms, rp_cause::kInvalidMessage,
                          "not an SMS-DELIVER or SMS-STATUS-REPORT");
        }
        note(strf("RP-DATA %u from %s", unsigned{rp.ref}, sender.c_str()));
        return deliver(rp.originator, rp.user_data, *type, std::move(held));
    }
    case RpType::data_from_ms: {
        // Straight from another phone: this side is its service centre.
        auto submit = parse_submit(rp.user_data, why);
        if (!submit) {
            return refuse(RpType::error_to_ms, rp_cause::kInvalidMessage, why);
        }
        note(strf("RP-DATA %u from %s: SMS-SUBMIT, relayed as SMS-DELIVER", unsigned{rp.ref},
                  sender.c_str()));
        const Bytes tpdu = deliver_for(*submit, tp_address_for(sender), held.received);
        held.as_centre = true;
        held.submit = std::move(*submit);
        return deliver(rp.destination, tpdu, 0, std::move(held));
    }
    case RpType::ack_to_ms:
        return sms_done(rp.ref, kSmsSendOk, "delivered");
    case RpType::error_to_ms:
        return sms_done(rp.ref, rp.cause, "refused by the recipient");
    case RpType::ack_from_ms:
    case RpType::error_from_ms:
        return note(strf("status report %u %s by %s", unsigned{rp.ref},
                         rp.type == RpType::ack_from_ms ? "taken" : "refused", sender.c_str()));
    case RpType::smma:
        return note("RP-SMMA from " + sender + ": nothing waits for it");
    }
}

void Engine::ack_sms(bool accepted, uint32_t cause)
{
    if (unacked_.empty()) {
        return note("SMS acknowledgement with no message waiting for one");
    }
    Unacked held = std::move(unacked_.front());
    unacked_.pop_front();
    RpMessage reply;
    reply.ref = held.rp_ref;
    reply.type = accepted ? (held.as_centre ? RpType::ack_to_ms : RpType::ack_from_ms)
                          : (held.as_centre ? RpType::error_to_ms : RpType::error_from_ms);
    // The host's own causes are no relay causes; anything else is a temporary failure.
    reply.cause =
        cause >= 1 && cause <= 127 ? static_cast<uint8_t>(cause) : rp_cause::kTemporaryFailure;
    send_message(held.reply_to, encode_rp(reply), kTagReply << 32 | held.rp_ref);
    note(strf("RP-%s %u to %s", accepted ? "ACK" : "ERROR", unsigned{held.rp_ref},
              held.reply_to.c_str()));
    if (accepted && held.as_centre && held.submit.wants_report()) {
        RpMessage report;
        report.type = RpType::data_to_ms;
        report.ref = next_rp_ref();
        report.originator = rp_address(opt_.user);
        report.user_data = status_report_for(held.submit, held.received, utc_now());
        send_message(held.reply_to, encode_rp(report), kTagReport << 32 | report.ref);
        note(strf("status report %u to %s", unsigned{report.ref}, held.reply_to.c_str()));
    }
}

} // namespace zol::imsd::sip
