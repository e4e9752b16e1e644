#include "sms.h"

#include "control.h"
#include "messages.h"
#include "network.h"
#include "sms_pdu.h"
#include "text.h"

namespace zol::imsd {

namespace {

template <typename T>
void keep(std::deque<T> &history, T item)
{
    history.push_back(std::move(item));
    if (history.size() > kSmsHistory) {
        history.pop_front();
    }
}

void send_incoming(CommandArgs &a, const std::vector<uint8_t> &pdu, TpduType type)
{
    const std::string hex = hex_upper(pdu);
    if (hex.size() > kMaxIncomingHex) {
        return a.error(
            strf("PDU of %zu bytes does not fit (at most %zu)", pdu.size(), kMaxIncomingHex / 2));
    }
    if (!a.link.status().connected) {
        return a.error("not connected");
    }
    const std::string why =
        a.link.send_frame(Frame{0, kMsgIncomingSms, encode_incoming_sms(hex, type)});
    if (!why.empty()) {
        return a.error("send failed: " + why);
    }
    a.ok(hex);
}

void inject_pdu(CommandArgs &a, TpduKind kind, const char *usage)
{
    if (a.words.empty()) {
        return a.error(usage);
    }
    std::string hex;
    for (std::string_view w : a.words) {
        hex += w;
    }
    const auto pdu = parse_hex(hex);
    if (!pdu) {
        return a.error("bad hex PDU");
    }
    if (std::string why = check_sms_pdu(*pdu, kind); !why.empty()) {
        return a.error("not a valid PDU: " + why);
    }
    send_incoming(a, *pdu, kind == TpduKind::deliver ? TpduType::deliver : TpduType::status_report);
}

// `sms fail next [<code>]` and `sms timeout next` take the word "next".
bool takes_next(CommandArgs &a, size_t max_words, const char *usage)
{
    if (a.words.empty() || a.words[0] != "next" || a.words.size() > max_words) {
        a.error(usage);
        return false;
    }
    return true;
}

std::string describe_plan(const SmsPlan &p)
{
    if (!p.answer) {
        return "timeout";
    }
    return p.error_code == kSmsSendOk ? std::string("ok") : strf("fail %u", p.error_code);
}

} // namespace

void on_send_sms(Context &ctx)
{
    auto req = decode_send_sms(ctx.request.payload);
    if (!req) {
        return ctx.note(strf("send-sms refused: payload of %zu bytes, expected %zu, or a text "
                             "length beyond its field",
                             ctx.request.payload.size(), kSendSmsLen));
    }
    SmsState &sms = ctx.model.sms;
    // A planned outcome still comes from here, so that failures can be had on the network too.
    if (ctx.model.network != nullptr && sms.next.empty()) {
        ctx.model.network->send_sms(req->pdu, req->smsc, req->msg_ref, ctx.request.token);
        ctx.defer();
        keep(sms.sent, SentSms{std::move(*req), SmsPlan{}, true, false});
        return;
    }
    SmsPlan plan;
    if (!sms.next.empty()) {
        plan = sms.next.front();
        sms.next.pop_front();
    }
    if (plan.answer) {
        ctx.reply(kMsgSmsSendStatus, encode_send_status(req->msg_ref, plan.error_code));
    } else {
        ctx.note(strf("send-sms ref %u: timing out, no status", req->msg_ref));
    }
    keep(sms.sent, SentSms{std::move(*req), plan});
}

void on_ack_sms(Context &ctx)
{
    const auto ack = decode_sms_ack(ctx.request.payload);
    if (!ack) {
        return ctx.note(strf("ack-sms refused: payload of %zu bytes, expected %zu",
                             ctx.request.payload.size(), kAckSmsLen));
    }
    keep(ctx.model.sms.acks, *ack);
    if (ctx.model.network != nullptr) {
        ctx.model.network->ack_sms(ack->success == 1, ack->cause);
    }
}

void on_network_sms_event(Context &ctx, const NetEvent &e)
{
    if (e.kind == NetEvent::Kind::sms_received) {
        if (e.text.size() > kMaxIncomingHex) {
            return ctx.note(
                strf("incoming SMS of %zu hex digits does not fit, dropped", e.text.size()));
        }
        const auto type = e.code == static_cast<uint32_t>(TpduType::status_report)
                              ? TpduType::status_report
                              : TpduType::deliver;
        ctx.indicate(kMsgIncomingSms, encode_incoming_sms(e.text, type));
        return ctx.note(strf("incoming %s %s", type == TpduType::deliver ? "SMS" : "status report",
                             e.text.c_str()));
    }
    if (e.kind != NetEvent::Kind::sms_status) {
        return;
    }
    ctx.answer(e.token, kMsgSmsSendStatus, encode_send_status(e.ref, e.code));
    ctx.note(strf("send-sms ref %u: status %u from the network", e.ref, e.code));
    for (SentSms &s : ctx.model.sms.sent) {
        if (s.network && !s.settled && s.request.msg_ref == e.ref) {
            s.outcome.error_code = e.code;
            s.settled = true;
            break;
        }
    }
}

void cmd_sms_fail(CommandArgs &a)
{
    static const char usage[] = "usage: sms fail next [<error-code>]";
    if (!takes_next(a, 2, usage)) {
        return;
    }
    SmsPlan plan{true, kSmsSendTimedOut};
    if (a.words.size() == 2) {
        const auto code = parse_uint(a.words[1], 0xFFFFFFFFu);
        if (!code || *code == kSmsSendOk) {
            return a.error("bad error code '" + std::string(a.words[1]) + "'");
        }
        plan.error_code = static_cast<uint32_t>(*code);
    }
    a.model.sms.next.push_back(plan);
    a.ok(strf("%zu sends planned", a.model.sms.next.size()));
}

void cmd_sms_timeout(CommandArgs &a)
{
    if (!takes_next(a, 1, "usage: sms timeout next")) {
        return;
    }
    a.model.sms.next.push_back(SmsPlan{false, 0});
    a.ok(strf("%zu sends planned", a.model.sms.next.size()));
}

void cmd_sms_sent(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: sms sent");
    }
    for (const SentSms &s : a.model.sms.sent) {
        const std::string status =
            !s.network || s.settled ? describe_plan(s.outcome) : std::string("pending");
        a.info(strf("sms ref=%u tech=%u smsc=%s pdu=%s status=%s", s.request.msg_ref,
                    s.request.tech, s.request.smsc.c_str(), s.request.pdu.c_str(), status.c_str()));
    }
    for (const SmsPlan &p : a.model.sms.next) {
        a.info("planned " + describe_plan(p));
    }
    a.ok(strf("%zu sent", a.model.sms.sent.size()));
}

void cmd_sms_acks(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: sms acks");
    }
    for (const SmsAck &ack : a.model.sms.acks) {
        a.info(strf("ack success=%u cause=%u", ack.success, ack.cause));
    }
    a.ok(strf("%zu acks", a.model.sms.acks.size()));
}

void cmd_sms_deliver(CommandArgs &a)
{
    inject_pdu(a, TpduKind::deliver, "usage: sms deliver <hex-pdu>");
}

void cmd_sms_status_report(CommandArgs &a)
{
    inject_pdu(a, TpduKind::status_report, "usage: sms status-report <hex-pdu>");
}

void cmd_sms_deliver_text(CommandArgs &a)
{
    if (a.words.size() < 2) {
        return a.error("usage: sms deliver-text <from> <text>");
    }
    // The text runs to the end of the line as typed; underscores stand for spaces.
    const std::string_view last = a.words.back();
    std::string text(a.words[1].data(),
                     static_cast<size_t>(last.data() + last.size() - a.words[1].data()));
    for (char &ch : text) {
        if (ch == '_') {
            ch = ' ';
        }
    }
    std::string why;
    const auto pdu = build_sms_deliver(a.words[0], text, utc_now(), why);
    if (!pdu) {
        return a.error(why);
    }
    send_incoming(a, *pdu, TpduType::deliver);
}

} // namespace zol::imsd
