#include "framework_adaptation.h"

#include "names.h"
#include "parcel.h"
#include "ril.h"
#include "rild_numbers.h"

namespace zol_host {
namespace {

// How a classic request's payload is read and handed to the module.
enum class In {
    None,        // no data (whatever the payload holds)
    Ints,        // count, ints
    Text,        // one text, handed over as its characters
    Texts,       // count, texts
    Dial,        // address, CLIR mode, UUS
    CallForward, // status, reason, class, toa, number, time
    Sms,         // count, SMSC, PDU
    ImsSms,      // technology, retry, reference, count, SMSC, PDU
    Facility,    // count, facility, password, class, application id
    FacilitySet, // count, facility, lock, password, class, application id
    Dtmf,        // one text, the tone
};

struct Row {
    int client;
    int module;
    In in;
    ReplyShape reply;
};

constexpr Row kRows[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, RIL_REQUEST_GET_CURRENT_CALLS, In::None, ReplyShape::Calls},
    {RIL_REQUEST_DIAL, RIL_REQUEST_DIAL, In::Dial, ReplyShape::None},
    {RIL_REQUEST_HANGUP, RIL_REQUEST_HANGUP, In::Ints, ReplyShape::None},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, In::None,
     ReplyShape::None},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND,
     RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, In::None, ReplyShape::None},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE,
     RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, In::None, ReplyShape::None},
    {RIL_REQUEST_UDUB, RIL_REQUEST_UDUB, In::None, ReplyShape::None},
    {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, RIL_REQUEST_LAST_CALL_FAIL_CAUSE, In::None,
     ReplyShape::Ints},
    {rild::kDtmf, RIL_REQUEST_DTMF_START, In::Dtmf, ReplyShape::None},
    {rild::kSendSms, RIL_REQUEST_IMS_SEND_SMS, In::Sms, ReplyShape::SmsResponse},
    {rild::kSendSmsExpectMore, RIL_REQUEST_IMS_SEND_SMS, In::Sms, ReplyShape::SmsResponse},
    {RIL_REQUEST_GET_CLIR, RIL_REQUEST_GET_CLIR, In::None, ReplyShape::Ints},
    {RIL_REQUEST_SET_CLIR, RIL_REQUEST_SET_CLIR, In::Ints, ReplyShape::None},
    {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, In::CallForward,
     ReplyShape::CallForwards},
    {RIL_REQUEST_SET_CALL_FORWARD, RIL_REQUEST_SET_CALL_FORWARD, In::CallForward, ReplyShape::None},
    {RIL_REQUEST_QUERY_CALL_WAITING, RIL_REQUEST_QUERY_CALL_WAITING, In::Ints, ReplyShape::Ints},
    {RIL_REQUEST_SET_CALL_WAITING, RIL_REQUEST_SET_CALL_WAITING, In::Ints, ReplyShape::None},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, RIL_REQUEST_SMS_ACKNOWLEDGE, In::Ints, ReplyShape::None},
    {RIL_REQUEST_ANSWER, RIL_REQUEST_ANSWER, In::None, ReplyShape::None},
    {RIL_REQUEST_QUERY_FACILITY_LOCK, RIL_REQUEST_QUERY_FACILITY_LOCK, In::Facility,
     ReplyShape::Ints},
    {RIL_REQUEST_SET_FACILITY_LOCK, RIL_REQUEST_SET_FACILITY_LOCK, In::FacilitySet,
     ReplyShape::None},
    {RIL_REQUEST_DTMF_START, RIL_REQUEST_DTMF_START, In::Text, ReplyShape::None},
    {RIL_REQUEST_DTMF_STOP, RIL_REQUEST_DTMF_STOP, In::None, ReplyShape::None},
    {RIL_REQUEST_QUERY_CLIP, RIL_REQUEST_QUERY_CLIP, In::None, ReplyShape::Ints},
    {RIL_REQUEST_IMS_REGISTRATION_STATE, RIL_REQUEST_IMS_REGISTRATION_STATE, In::None,
     ReplyShape::Ints},
    {RIL_REQUEST_IMS_SEND_SMS, RIL_REQUEST_IMS_SEND_SMS, In::ImsSms, ReplyShape::SmsResponse},
    // The module's own requests keep their numbers; no classic request has them.
    {RIL_REQUEST_IMS_MT_INVITE_RSP, RIL_REQUEST_IMS_MT_INVITE_RSP, In::Ints, ReplyShape::None},
    {RIL_REQUEST_SET_COLP, RIL_REQUEST_SET_COLP, In::Ints, ReplyShape::None},
    {RIL_REQUEST_QUERY_COLR, RIL_REQUEST_QUERY_COLR, In::None, ReplyShape::Ints},
    {RIL_REQUEST_QUERY_COLP, RIL_REQUEST_QUERY_COLP, In::None, ReplyShape::Ints},
    {RIL_REQUEST_CALL_MODIFY, RIL_REQUEST_CALL_MODIFY, In::Ints, ReplyShape::None},
    {RIL_REQUEST_CALL_MODIFY_RSP, RIL_REQUEST_CALL_MODIFY_RSP, In::Ints, ReplyShape::None},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, RIL_REQUEST_IMS_GET_CONFIGRATION, In::Texts,
     ReplyShape::Text},
    {RIL_REQUEST_IMS_SET_CONFIGRATION, RIL_REQUEST_IMS_SET_CONFIGRATION, In::Texts,
     ReplyShape::None},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, RIL_REQUEST_IMS_SET_REGISTRATION_STATE, In::Ints,
     ReplyShape::None},
};

constexpr const char *kBarringFacilities[] = {"AO", "OI", "OX", "AI", "IR", "AB", "AG", "AC"};

bool is_barring(const OptText &facility)
{
    for (const char *b : kBarringFacilities) {
        if (facility && *facility == b) {
            return true;
        }
    }
    return false;
}

// At least `n` texts, the first `required` of them not null.
bool texts_at_least(ParcelReader &in, const std::vector<OptText> &t, size_t n, size_t required)
{
    if (!in.ok()) {
        return false;
    }
    if (t.size() < n) {
        return false;
    }
    for (size_t i = 0; i < required; ++i) {
        if (!t[i]) {
            return false;
        }
    }
    return true;
}

void plan_dial(ParcelReader &in, Plan &p)
{
    const OptText address = in.text();
    const int32_t clir = in.i32();
    // UUS follows (a presence word and its fields); the module takes none.
    if (!in.ok() || !address) {
        p.problem = in.ok() ? "no number" : in.problem();
        return;
    }
    if (clir != 0) {
        p.note = "CLIR mode " + std::to_string(clir) +
                 " not passed on: the module reads that word as its dial kind (1: conference)";
    }
    p.steps.push_back({RIL_REQUEST_DIAL, RequestData::dial(*address, 0, 0)});
}

void plan_call_forward(int module, ParcelReader &in, Plan &p)
{
    RIL_CallForwardInfo info{};
    info.status = in.i32();
    info.reason = in.i32();
    info.serviceClass = in.i32();
    info.toa = in.i32();
    OptText number = in.text();
    info.timeSeconds = in.i32();
    if (!in.finish()) {
        p.problem = in.problem();
        return;
    }
    constexpr int kRegister = 3;
    constexpr int kInternational = 145;
    constexpr int kUnknown = 129;
    if (module == RIL_REQUEST_SET_CALL_FORWARD && info.status != kRegister && number) {
        p.note = "number \"" + *number + "\" of a mode " + std::to_string(info.status) +
                 " action left out (only a registration carries one)";
        number.reset();
    } else if (number && info.toa == kInternational && !number->starts_with("+")) {
        p.note = "international number " + *number + " handed over as +" + *number +
                 " with type 129 (the module prefixes +86 to type 145)";
        number = "+" + *number;
        info.toa = kUnknown;
    }
    p.steps.push_back({module, RequestData::call_forward(info, number, std::nullopt)});
}

void plan_sms(ParcelReader &in, Plan &p, int ref)
{
    const auto t = in.texts();
    if (!texts_at_least(in, t, 2, 0) || !t[1]) {
        p.problem = in.ok() ? "expected the SMSC and the PDU" : in.problem();
        return;
    }
    p.steps.push_back({RIL_REQUEST_IMS_SEND_SMS, RequestData::ims_sms(t[0], *t[1], ref)});
}

void plan_input(const Row &row, ParcelReader &in, Plan &p)
{
    switch (row.in) {
    case In::None:
        p.steps.push_back({row.module, RequestData::none()});
        return;
    case In::Ints: {
        const auto v = in.ints();
        if (!in.ok()) {
            p.problem = in.problem();
            return;
        }
        p.steps.push_back({row.module, RequestData::ints(std::vector<int>(v.begin(), v.end()))});
        return;
    }
    case In::Texts: {
        const auto t = in.texts();
        if (!in.ok()) {
            p.problem = in.problem();
            return;
        }
        p.steps.push_back({row.module, RequestData::strings(t)});
        return;
    }
    case In::Text:
    case In::Dtmf: {
        const OptText t = in.text();
        if (!in.ok() || !t || t->empty()) {
            p.problem = in.ok() ? "no tone" : in.problem();
            return;
        }
        p.steps.push_back({row.module, RequestData::text(t->substr(0, 1))});
        if (row.in == In::Dtmf) {
            // The module checks the stop's data pointer though it reads nothing there.
            p.steps.push_back({RIL_REQUEST_DTMF_STOP, RequestData::empty()});
            p.note = "tone '" + t->substr(0, 1) + "' as DTMF start and stop";
        }
        return;
    }
    case In::Dial:
        plan_dial(in, p);
        return;
    case In::CallForward:
        plan_call_forward(row.module, in, p);
        return;
    case In::Sms:
        plan_sms(in, p, 0);
        if (p.problem.empty()) {
            p.note = "sent as the module's IMS SMS request, 3GPP format";
        }
        return;
    case In::ImsSms: {
        const int32_t tech = in.i32();
        (void)in.i32(); // retry
        const int32_t ref = in.i32();
        if (in.ok() && tech != RADIO_TECH_3GPP) {
            p.route = Plan::NotSupported;
            p.problem = "only 3GPP messages, not technology " + std::to_string(tech);
            return;
        }
        plan_sms(in, p, ref);
        return;
    }
    case In::Facility:
    case In::FacilitySet: {
        const auto t = in.texts();
        const size_t need = row.in == In::Facility ? 1 : 4;
        if (!texts_at_least(in, t, need, need)) {
            p.problem =
                in.ok() ? "expected at least " + std::to_string(need) + " texts" : in.problem();
            return;
        }
        if (!is_barring(t[0])) {
            p.route = Plan::Other; // a SIM lock: the baseband's
            return;
        }
        if (row.in == In::Facility) {
            p.steps.push_back({row.module, RequestData::strings(t)});
            return;
        }
        const OptText aid = t.size() > 4 ? t[4] : std::nullopt;
        p.steps.push_back({row.module, RequestData::strings({t[0], t[1], t[2], t[3], aid, t[2]})});
        p.note = "barring password also handed over as text 5, where the module reads it";
        return;
    }
    }
}

std::vector<uint8_t> call_list(const std::vector<CallInfo> &calls, std::string &note)
{
    ParcelWriter w;
    size_t shown = 0;
    for (const CallInfo &c : calls) {
        shown += c.state >= RIL_CALL_ACTIVE && c.state <= RIL_CALL_WAITING ? 1 : 0;
    }
    w.i32(static_cast<int32_t>(shown));
    for (const CallInfo &c : calls) {
        if (c.state < RIL_CALL_ACTIVE || c.state > RIL_CALL_WAITING) {
            note += "call " + std::to_string(c.index) + " in state " + std::to_string(c.state) +
                    " left out; ";
            continue;
        }
        if (c.voice == 0) {
            note += "video call " + std::to_string(c.index) + " shown as voice; ";
        }
        w.i32(c.state);
        w.i32(c.index);
        w.i32(c.toa);
        w.i32(c.mpty);
        w.i32(c.mt);
        w.i32(c.als);
        w.i32(1); // voice
        w.i32(c.voice_privacy);
        w.text(c.number);
        w.i32(c.number_presentation);
        w.text(c.name);
        w.i32(c.name_presentation);
        w.i32(0); // no UUS
    }
    if (note.ends_with("; ")) {
        note.resize(note.size() - 2);
    }
    return w.take();
}

std::vector<uint8_t> forwards(const std::vector<ForwardInfo> &list)
{
    ParcelWriter w;
    w.i32(static_cast<int32_t>(list.size()));
    for (const ForwardInfo &f : list) {
        w.i32(f.status);
        w.i32(f.reason);
        w.i32(f.service_class);
        // The module leaves the type 0; the classic client reads it with the number.
        w.i32(f.number && f.number->starts_with("+") ? 145 : f.toa != 0 ? f.toa : 129);
        w.text(f.number);
        w.i32(f.time);
    }
    return w.take();
}

} // namespace

Plan plan_request(int request, std::span<const uint8_t> payload, const Supports &supports)
{
    Plan p;
    const Row *row = nullptr;
    for (const Row &r : kRows) {
        if (r.client == request) {
            row = &r;
            break;
        }
    }
    if (row == nullptr || !supports(row->module)) {
        return p; // Other
    }
    p.route = Plan::Module;
    p.reply = row->reply;
    ParcelReader in(payload);
    plan_input(*row, in, p);
    if (p.route == Plan::Module && !p.problem.empty()) {
        p.route = Plan::Malformed;
    }
    if (p.route != Plan::Module) {
        p.steps.clear();
    }
    return p;
}

ClientReply client_reply(ReplyShape shape, const Completion &c)
{
    ClientReply r;
    r.error = c.error;
    const Decoded &d = c.decoded;
    if (!d.problem.empty()) {
        r.error = RIL_E_GENERIC_FAILURE;
        r.note = "the module's data does not fit: " + d.problem;
        return r;
    }
    ParcelWriter w;
    switch (shape) {
    case ReplyShape::None:
        if (c.length != 0) {
            r.note = "the module's " + std::to_string(c.length) +
                     " bytes of data left out: the classic reply has none";
        }
        return r;
    case ReplyShape::Ints:
        if (d.ints) {
            w.ints(std::span<const int32_t>(d.ints->data(), d.ints->size()));
        }
        break;
    case ReplyShape::Text:
        if (d.strings && !d.strings->empty()) {
            w.text(d.strings->front());
        }
        break;
    case ReplyShape::Texts:
        if (d.strings) {
            w.texts(*d.strings);
        }
        break;
    case ReplyShape::Calls:
        if (c.error == RIL_E_SUCCESS) {
            r.payload = call_list(d.calls.value_or(std::vector<CallInfo>{}), r.note);
        }
        return r;
    case ReplyShape::SmsResponse:
        if (d.sms) {
            w.i32(d.sms->ref);
            w.text(d.sms->ack);
            w.i32(d.sms->error);
        }
        break;
    case ReplyShape::CallForwards:
        if (c.error == RIL_E_SUCCESS) {
            r.payload = forwards(d.forwards.value_or(std::vector<ForwardInfo>{}));
        }
        return r;
    }
    r.payload = w.take();
    return r;
}

UnsolAction translate_unsol(const Unsolicited &u)
{
    UnsolAction a;
    const Decoded &d = u.decoded;
    if (!d.problem.empty()) {
        a.note = unsol_name(u.number) + " dropped: " + d.problem;
        return a;
    }
    ParcelWriter w;
    switch (u.number) {
    case RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED:
    case RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED:
        a.kind = UnsolAction::Forward;
        a.number = u.number;
        return a;
    case RIL_UNSOL_RESPONSE_NEW_SMS:
    case RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT:
        a.kind = UnsolAction::Forward;
        a.number = u.number;
        w.text(d.strings && !d.strings->empty() ? d.strings->front() : std::nullopt);
        a.payload = w.take();
        return a;
    case RIL_UNSOL_SUPP_SVC_NOTIFICATION:
        if (!d.supp) {
            a.note = "a notification without its record dropped";
            return a;
        }
        a.kind = UnsolAction::Forward;
        a.number = u.number;
        w.i32(d.supp->type);
        w.i32(d.supp->code);
        w.i32(d.supp->index);
        w.i32(d.supp->toa);
        w.text(d.supp->number);
        a.payload = w.take();
        return a;
    case RIL_UNSOL_IMS_MT_INVITE: {
        const auto id = d.strings && d.strings->size() == 3 && (*d.strings)[0]
                            ? parse_int(*(*d.strings)[0])
                            : std::nullopt;
        if (!id) {
            a.note = "an incoming-call invitation without a call id dropped";
            return a;
        }
        a.kind = UnsolAction::Request;
        a.request = ModuleStep{RIL_REQUEST_IMS_MT_INVITE_RSP, RequestData::ints({*id, 1})};
        a.note = "incoming call " + std::to_string(*id) + " from " + quote((*d.strings)[2]) +
                 ": invitation accepted, the call rings through the call list";
        return a;
    }
    case RIL_UNSOL_CALL_HOLD_NOTIFICATION:
        a.kind = UnsolAction::Forward;
        a.number = RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED;
        a.note = "call hold notice sent as CALL_STATE_CHANGED";
        return a;
    case RIL_UNSOL_RESPONSE_CALL_MODIFY_IND: {
        if (!d.ints || d.ints->empty()) {
            a.note = "a call modify indication without its call id dropped";
            return a;
        }
        a.kind = UnsolAction::Request;
        a.request =
            ModuleStep{RIL_REQUEST_CALL_MODIFY_RSP, RequestData::ints({d.ints->front(), 0})};
        a.note = "the remote party's change of call " + std::to_string(d.ints->front()) +
                 " declined: the client has voice calls only";
        return a;
    }
    default:
        a.note = unsol_name(u.number) + " (" + std::to_string(u.number) +
                 ") dropped: in classic numbering that number means something else";
        return a;
    }
}

} // namespace zol_host
