#include "calls.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <initializer_list>
#include <optional>

#include "call_records.h"
#include "records.h"
#include "text.h"

namespace zol::imsd {

namespace {

// The codec an audio codec indication reports; the module does not read it.
constexpr uint32_t kAudioCodec = 1;
constexpr uint32_t kMaxDelayMs = 600000;
constexpr uint32_t kMaxScriptSeconds = 3600;

const uint16_t kCallMessages[] = {
    msg::kDial,
    msg::kAnswer,
    msg::kMtInviteResponse,
    msg::kReleaseCalls,
    msg::kDtmfStart,
    msg::kDtmfStop,
    msg::kCallModify,
    msg::kCallModifyResponse,
    msg::kConferenceJoin,
    msg::kConferenceSplit,
    msg::kSwap,
};

bool is_ringing(const Call &c)
{
    return c.state == CallState::incoming || c.state == CallState::waiting;
}

std::vector<uint8_t> ids_in(const CallTable &calls, std::initializer_list<CallState> states)
{
    std::vector<uint8_t> ids;
    for (const Call &c : calls) {
        if (std::find(states.begin(), states.end(), c.state) != states.end()) {
            ids.push_back(c.id);
        }
    }
    return ids;
}

// The call an answer or reject is for: the incoming one, else a waiting one.
Call *ringing_call(Model &model)
{
    for (CallState state : {CallState::incoming, CallState::waiting}) {
        if (const auto ids = ids_in(model.calls, {state}); !ids.empty()) {
            return model.calls.find(ids.front());
        }
    }
    return nullptr;
}

uint8_t free_call_id(const CallTable &calls)
{
    for (unsigned id = 1; id < kNoCallId; ++id) {
        if (calls.find(static_cast<uint8_t>(id)) == nullptr) {
            return static_cast<uint8_t>(id);
        }
    }
    return 0;
}

std::optional<Failure> take_failure(Context &ctx, uint16_t message)
{
    auto &armed = ctx.model.call_sim.fail_next;
    const auto it = armed.find(message);
    if (it == armed.end()) {
        return std::nullopt;
    }
    const Failure failure = it->second;
    armed.erase(it);
    ctx.note(strf("%s fails as armed", message_name(message)));
    return failure;
}

uint32_t failure_cause(const Failure &f)
{
    return f.cause.value_or(cause::kOtherFailure);
}

uint32_t failure_flag(const Failure &f)
{
    return f.flag.value_or(0);
}

bool tells_host_state_changed(uint16_t message)
{
    switch (message) {
    case msg::kMtRingCnfInd:
    case msg::kConnectedInd:
    case msg::kEndInd:
    case msg::kMoProgressInd:
    case msg::kModifyCnfInd:
    case msg::kAudioCodecInd:
    case msg::kConferenceInfoInd:
        return true;
    default:
        return false;
    }
}

// The module turns hold and retrieve indications into a notification only; an
// audio codec indication after them (the media was renegotiated) makes the host
// fetch the call list.
void settle(Context &ctx)
{
    for (auto it = ctx.outgoing.rbegin(); it != ctx.outgoing.rend(); ++it) {
        if (tells_host_state_changed(it->message)) {
            return;
        }
        if (it->message == msg::kHoldInd || it->message == msg::kRetrieveInd) {
            ctx.indicate(msg::kAudioCodecInd, encode_audio_codec(it->payload.at(0), kAudioCodec));
            return;
        }
    }
}

// A conference of one is no conference.
void tidy_conference(Model &model)
{
    std::vector<uint8_t> members;
    for (const Call &c : model.calls) {
        if (c.mpty != 0) {
            members.push_back(c.id);
        }
    }
    if (members.size() == 1) {
        model.calls.find(members.front())->mpty = 0;
    }
}

// Whatever ends a call here ends its leg on the network too; a leg the network
// ended itself is cleared before it gets here.
void end_call(Context &ctx, uint8_t id, uint32_t end_cause, Refusal refusal = Refusal::declined)
{
    if (const Call *c = ctx.model.calls.find(id); c != nullptr && c->leg != 0) {
        ctx.model.network->end(c->leg, refusal);
    }
    ctx.model.calls.remove(id);
    tidy_conference(ctx.model);
    ctx.indicate(msg::kEndInd, encode_call_end(id, end_cause));
    ctx.note(strf("call %u ended, cause %u", unsigned{id}, end_cause));
}

void hold_call(Context &ctx, Call &c)
{
    if (c.leg != 0) {
        ctx.model.network->hold(c.leg, true);
    }
    c.state = CallState::held;
    ctx.indicate(msg::kHoldInd, encode_call_id(c.id));
    ctx.note(strf("call %u held", unsigned{c.id}));
}

void retrieve_call(Context &ctx, Call &c)
{
    if (c.leg != 0) {
        ctx.model.network->hold(c.leg, false);
    }
    c.state = CallState::active;
    ctx.indicate(msg::kRetrieveInd, encode_call_id(c.id));
    ctx.note(strf("call %u retrieved", unsigned{c.id}));
}

// A call that becomes active puts the calls active so far on hold.
void hold_active_calls(Context &ctx)
{
    for (uint8_t id : ids_in(ctx.model.calls, {CallState::active})) {
        hold_call(ctx, *ctx.model.calls.find(id));
    }
}

using Step = std::function<void(Context &, Call &)>;

// Runs `step` on the call after `ms`, unless the call has ended by then.
void later(Context &ctx, Call &call, uint32_t ms, Step step)
{
    if (call.serial == 0) {
        call.serial = ctx.model.call_sim.next_serial++;
    }
    ctx.after(ms, [id = call.id, serial = call.serial, step = std::move(step)](Context &at) {
        Call *c = at.model.calls.find(id);
        if (c != nullptr && c->serial == serial) {
            step(at, *c);
            settle(at);
        }
    });
}

void remote_hangs_up(Context &ctx, Call &c)
{
    end_call(ctx, c.id, cause::kNormal);
}

void connect_call(Context &ctx, Call &c)
{
    c.state = CallState::active;
    ctx.indicate(msg::kConnectedInd, encode_call_id(c.id));
    ctx.note(strf("call %u active", unsigned{c.id}));
    if (c.script.hangup_after_ms) {
        later(ctx, c, *c.script.hangup_after_ms, remote_hangs_up);
    }
}

void remote_answers(Context &ctx, Call &c)
{
    if (c.state == CallState::alerting) {
        connect_call(ctx, c);
    }
}

void remote_rejects(Context &ctx, Call &c)
{
    if (c.state == CallState::alerting) {
        end_call(ctx, c.id, cause::kRejected);
    }
}

void remote_rings(Context &ctx, Call &c)
{
    if (c.state != CallState::dialing) {
        return;
    }
    const RemoteScript &s = c.script;
    if (s.busy) {
        return end_call(ctx, c.id, cause::kBusy);
    }
    c.state = CallState::alerting;
    ctx.indicate(msg::kMoProgressInd, encode_mo_progress(c.id, c.state));
    ctx.note(strf("call %u alerting", unsigned{c.id}));
    if (s.forward) {
        ctx.indicate(msg::kForwardInd, encode_call_id(c.id));
    }
    if (s.ring_only) {
        return;
    }
    const uint32_t delay = ctx.model.call_sim.delay_ms;
    if (s.reject) {
        later(ctx, c, delay, remote_rejects);
    } else {
        later(ctx, c, s.answer_after_ms.value_or(delay), remote_answers);
    }
}

void set_type(Call &c, uint32_t call_type, uint32_t video_dir)
{
    const bool video = call_type == static_cast<uint32_t>(CallType::video);
    c.type = video ? CallType::video : CallType::voice;
    c.video_dir = video ? video_dir : kVoiceVideoDir;
}

void modify_cnf(Context &ctx, uint8_t id, const Call *c, uint32_t result)
{
    ctx.indicate(msg::kModifyCnfInd,
                 encode_modify_cnf(id, c != nullptr ? static_cast<uint32_t>(c->type) : 0, result,
                                   c != nullptr ? c->video_dir : 0));
}

bool valid_call_type(uint32_t t)
{
    return t == static_cast<uint32_t>(CallType::voice) ||
           t == static_cast<uint32_t>(CallType::video);
}

// Why an incoming call cannot be taken now; empty when it can.
std::string incoming_refusal(const Model &model)
{
    for (const Call &c : model.calls) {
        if (is_ringing(c)) {
            return strf("call %u rings already", unsigned{c.id});
        }
    }
    return free_call_id(model.calls) == 0 ? "no call id left" : "";
}

// A call that arrives while another is up waits.
Call incoming_call(Model &model, std::string number, bool video)
{
    Call c;
    c.id = free_call_id(model.calls);
    c.number = std::move(number);
    c.dir = CallDir::mt;
    c.type = video ? CallType::video : CallType::voice;
    c.video_dir = default_video_dir(c.type);
    c.state = model.calls.size() == 0 ? CallState::incoming : CallState::waiting;
    c.serial = model.call_sim.next_serial++;
    return c;
}

void announce_incoming(Context &ctx, const Call &c)
{
    ctx.model.calls.add(c);
    ctx.indicate(msg::kMtInviteInd, encode_mt_invite(c));
    // The invitation alone does not make the host fetch the call list.
    ctx.indicate(msg::kMtRingCnfInd, encode_call_id(c.id));
    ctx.note(
        strf("call %u from %s %s", unsigned{c.id}, c.number.c_str(), call_state_name(c.state)));
}

// The confirmation follows when the network has the remote party's answer.
void ask_network_modify(Context &ctx, Call &c, uint32_t call_type, uint32_t video_dir)
{
    c.asked_modify = PendingModify{call_type, video_dir};
    ctx.model.network->modify(c.leg, call_type == static_cast<uint32_t>(CallType::video));
    ctx.note(strf("call %u: asking the remote party for %s", unsigned{c.id},
                  call_type == static_cast<uint32_t>(CallType::video) ? "video" : "voice"));
}

void short_payload(Context &ctx)
{
    ctx.note(strf("%s: payload of %zu bytes is too short, ignored",
                  message_name(ctx.request.message), ctx.request.payload.size()));
}

} // namespace

void on_dial(Context &ctx)
{
    const auto d = decode_dial(ctx.request.payload);
    if (!d) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kDial);
    const uint8_t id = free_call_id(ctx.model.calls);
    if (id == 0) {
        ctx.indicate(msg::kEndInd, encode_call_end(kNoCallId, cause::kCongestion));
        return ctx.note("dial: no call id left");
    }
    if (failure) {
        ctx.indicate(msg::kEndInd, encode_call_end(id, failure_cause(*failure)));
        return ctx.note(strf("call %u to %s failed", unsigned{id}, d->number.c_str()));
    }
    hold_active_calls(ctx);
    Call c;
    c.id = id;
    c.number = d->number;
    c.dir = CallDir::mo;
    c.state = CallState::dialing;
    set_type(c, d->call_type, d->video_dir);
    // A conference has no server to go to on the network: the model plays it.
    const bool on_network = ctx.model.network != nullptr && d->number_kind != 2;
    if (d->number_kind == 2) {
        c.mpty = 1;
    } else if (on_network) {
        c.leg = ctx.model.network->call(c.number, c.type == CallType::video);
    } else {
        c.script = parse_remote_script(d->number);
        // The remote party is the number without the script that drives it.
        c.number = d->number.substr(0, c.script.party_length);
    }
    c.serial = ctx.model.call_sim.next_serial++;
    ctx.model.calls.add(c);
    ctx.indicate(msg::kMoProgressInd, encode_mo_progress(id, CallState::dialing));
    ctx.note(strf("call %u dialing %s", unsigned{id}, c.number.c_str()));
    if (!on_network) {
        later(ctx, *ctx.model.calls.find(id), ctx.model.call_sim.delay_ms, remote_rings);
    }
    settle(ctx);
}

void on_answer(Context &ctx)
{
    const auto r = decode_call_response(ctx.request.payload);
    if (!r) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kAnswer);
    Call *c = ringing_call(ctx.model);
    if (c == nullptr) {
        return ctx.note(r->accept != 0 ? "answer: no call rings" : "reject: no call rings");
    }
    if (failure) {
        return end_call(ctx, c->id, failure_cause(*failure));
    }
    if (r->accept == 0) {
        // A rejected call is refused as busy: the user chose not to take it now.
        return end_call(ctx, c->id, cause::kNormal, Refusal::busy);
    }
    hold_active_calls(ctx);
    set_type(*c, r->call_type, r->video_dir);
    if (c->leg != 0) {
        ctx.model.network->answer(c->leg, c->type == CallType::video);
    }
    connect_call(ctx, *c);
}

void on_mt_invite_response(Context &ctx)
{
    const auto r = decode_call_response(ctx.request.payload);
    if (!r) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kMtInviteResponse);
    const Call *c = ctx.model.calls.find(r->call_id);
    if (c == nullptr || !is_ringing(*c)) {
        return ctx.note(strf("invite response: call %u does not ring", unsigned{r->call_id}));
    }
    if (failure) {
        return end_call(ctx, c->id, failure_cause(*failure));
    }
    if (r->accept == 0) {
        return end_call(ctx, c->id, cause::kNormal);
    }
    ctx.indicate(msg::kMtRingCnfInd, encode_call_id(c->id));
    ctx.note(strf("call %u rings", unsigned{c->id}));
}

void on_release_calls(Context &ctx)
{
    const auto r = decode_release(ctx.request.payload);
    if (!r) {
        return short_payload(ctx);
    }
    const uint8_t named = r->kind == 1 ? r->index : kNoCallId;
    if (const auto failure = take_failure(ctx, msg::kReleaseCalls)) {
        // The end indication answers the release; the call list shows nothing ended.
        ctx.indicate(msg::kEndInd, encode_call_end(named, failure_cause(*failure)));
        return;
    }
    std::vector<uint8_t> ending;
    switch (r->kind) {
    case 1:
        if (ctx.model.calls.find(r->index) != nullptr) {
            ending.push_back(r->index);
        }
        break;
    case 2:
        ending = ids_in(ctx.model.calls, {CallState::incoming, CallState::waiting});
        if (ending.empty()) {
            ending = ids_in(ctx.model.calls, {CallState::held});
        }
        break;
    case 3:
        ending =
            ids_in(ctx.model.calls, {CallState::active, CallState::dialing, CallState::alerting});
        break;
    default:
        ctx.note(strf("release: unknown kind %u", unsigned{r->kind}));
        break;
    }
    // Ending the waiting call turns its caller away as busy.
    const Refusal refusal = r->kind == 2 ? Refusal::busy : Refusal::declined;
    for (uint8_t id : ending) {
        end_call(ctx, id, cause::kNormal, refusal);
    }
    if (ending.empty()) {
        // Answered all the same, or the module would wait for it for ever.
        ctx.indicate(msg::kEndInd, encode_call_end(named, cause::kOtherFailure));
        ctx.note("release: no such call");
    }
    if (r->kind == 3) {
        if (Call *w = ringing_call(ctx.model)) {
            connect_call(ctx, *w);
        } else {
            for (uint8_t id : ids_in(ctx.model.calls, {CallState::held})) {
                retrieve_call(ctx, *ctx.model.calls.find(id));
            }
        }
    }
    settle(ctx);
}

namespace {

void dtmf(Context &ctx, uint16_t message, uint16_t conf)
{
    const auto failure = take_failure(ctx, message);
    const auto active = ids_in(ctx.model.calls, {CallState::active});
    const uint8_t id = active.empty() ? kNoCallId : active.front();
    // Tones need a call to go into.
    const uint32_t result = failure ? failure_flag(*failure) : active.empty() ? 0 : 1;
    ctx.reply(conf, encode_dtmf_conf(id, result));
}

} // namespace

void on_dtmf_start(Context &ctx)
{
    const auto digit = decode_dtmf_start(ctx.request.payload);
    if (!digit) {
        return short_payload(ctx);
    }
    ctx.note(strf("dtmf '%c' starts", *digit));
    // On the network the tone's fate is known once the far end has it; an armed
    // failure still answers at once.
    const auto active = ids_in(ctx.model.calls, {CallState::active});
    const Call *c = active.empty() ? nullptr : ctx.model.calls.find(active.front());
    if (c != nullptr && c->leg != 0 && !ctx.model.call_sim.fail_next.contains(msg::kDtmfStart)) {
        ctx.model.network->dtmf(c->leg, *digit, ctx.request.token);
        return ctx.defer();
    }
    dtmf(ctx, msg::kDtmfStart, msg::kDtmfStartConf);
}

void on_dtmf_stop(Context &ctx)
{
    dtmf(ctx, msg::kDtmfStop, msg::kDtmfStopConf);
}

void on_call_modify(Context &ctx)
{
    const auto r = decode_modify_request(ctx.request.payload);
    if (!r) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kCallModify);
    Call *c = ctx.model.calls.find(r->call_id);
    if (failure) {
        return modify_cnf(ctx, r->call_id, c, failure_flag(*failure));
    }
    if (c == nullptr || c->state != CallState::active || !valid_call_type(r->call_type)) {
        ctx.note(
            strf("modify: call %u cannot change to type %u", unsigned{r->call_id}, r->call_type));
        return modify_cnf(ctx, r->call_id, c, 0);
    }
    if (c->leg != 0) {
        return ask_network_modify(ctx, *c, r->call_type, r->video_dir);
    }
    // The remote party takes a moment to agree.
    later(ctx, *c, ctx.model.call_sim.delay_ms,
          [type = r->call_type, dir = r->video_dir](Context &at, Call &call) {
              if (call.state != CallState::active) {
                  return modify_cnf(at, call.id, &call, 0);
              }
              set_type(call, type, dir);
              at.note(strf("call %u is now %s", unsigned{call.id}, call_type_name(call.type)));
              modify_cnf(at, call.id, &call, 1);
          });
}

void on_call_modify_response(Context &ctx)
{
    const auto r = decode_modify_response(ctx.request.payload);
    if (!r) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kCallModifyResponse);
    Call *c = nullptr;
    for (const Call &each : ctx.model.calls) {
        if (each.pending_modify) {
            c = ctx.model.calls.find(each.id);
            break;
        }
    }
    if (c == nullptr) {
        ctx.note("modify response: no modification waits");
        return modify_cnf(ctx, kNoCallId, nullptr, 0);
    }
    c->pending_modify.reset();
    if (failure) {
        return modify_cnf(ctx, c->id, c, failure_flag(*failure));
    }
    // The host's answer decides the type; an out-of-range type keeps the call as it is.
    if (!valid_call_type(r->call_type)) {
        return modify_cnf(ctx, c->id, c, 0);
    }
    // The network holds the media as offered until the host's answer: a no
    // takes the video away again.
    if (c->leg != 0) {
        return ask_network_modify(ctx, *c, r->call_type, r->video_dir);
    }
    set_type(*c, r->call_type, r->video_dir);
    ctx.note(strf("call %u is now %s", unsigned{c->id}, call_type_name(c->type)));
    modify_cnf(ctx, c->id, c, 1);
}

void on_conference_join(Context &ctx)
{
    const auto failure = take_failure(ctx, msg::kConferenceJoin);
    const auto members = ids_in(ctx.model.calls, {CallState::active, CallState::held});
    if (failure || members.size() < 2) {
        ctx.indicate(msg::kSupsConf,
                     encode_sups_conf(kNoCallId, 0,
                                      failure ? failure_cause(*failure) : cause::kOtherFailure));
        // The module waits for the call list, whatever became of the conference.
        return ctx.reply(msg::kCurCallInd, encode_call_list(ctx.model.calls));
    }
    for (uint8_t id : members) {
        Call *c = ctx.model.calls.find(id);
        // Every member talks again; the media are not mixed, only the calls joined.
        if (c->leg != 0 && c->state == CallState::held) {
            ctx.model.network->hold(c->leg, false);
        }
        c->state = CallState::active;
        c->mpty = 1;
    }
    ctx.note(strf("conference of %zu calls", members.size()));
    ctx.reply(msg::kCurCallInd, encode_call_list(ctx.model.calls));
    ctx.indicate(msg::kConferenceInfoInd, encode_call_id(members.front()));
}

void on_conference_split(Context &ctx)
{
    const auto index = decode_split(ctx.request.payload);
    if (!index) {
        return short_payload(ctx);
    }
    const auto failure = take_failure(ctx, msg::kConferenceSplit);
    Call *c = ctx.model.calls.find(*index);
    if (failure || c == nullptr || c->mpty == 0) {
        ctx.indicate(
            msg::kSupsConf,
            encode_sups_conf(*index, 0, failure ? failure_cause(*failure) : cause::kOtherFailure));
        return;
    }
    for (const Call &other : ctx.model.calls) {
        if (other.id != c->id && other.mpty != 0 && other.state == CallState::active) {
            hold_call(ctx, *ctx.model.calls.find(other.id));
        }
    }
    c->mpty = 0;
    c->state = CallState::active;
    tidy_conference(ctx.model);
    ctx.note(strf("call %u split off", unsigned{c->id}));
    ctx.indicate(msg::kConferenceInfoInd, encode_call_id(c->id));
}

void on_swap(Context &ctx)
{
    if (const auto failure = take_failure(ctx, msg::kSwap)) {
        ctx.indicate(msg::kSupsConf, encode_sups_conf(kNoCallId, 0, failure_cause(*failure)));
        return;
    }
    const auto active = ids_in(ctx.model.calls, {CallState::active});
    const auto held = ids_in(ctx.model.calls, {CallState::held});
    Call *ringing = ringing_call(ctx.model);
    if (ringing == nullptr && active.empty() && held.empty()) {
        ctx.note("swap: no call to switch");
        ctx.indicate(msg::kSupsConf, encode_sups_conf(kNoCallId, 0, cause::kOtherFailure));
        return;
    }
    for (uint8_t id : active) {
        hold_call(ctx, *ctx.model.calls.find(id));
    }
    if (ringing != nullptr) {
        connect_call(ctx, *ringing);
    } else {
        for (uint8_t id : held) {
            retrieve_call(ctx, *ctx.model.calls.find(id));
        }
    }
    settle(ctx);
}

RemoteScript parse_remote_script(std::string_view number)
{
    RemoteScript s;
    for (size_t hash = number.rfind('#'); hash != std::string_view::npos;
         hash = number.rfind('#')) {
        const std::string_view word = number.substr(hash + 1);
        // #a<N> and #h<N>: N whole seconds, or no such suffix.
        uint32_t ms = UINT32_MAX;
        if (word.size() > 1) {
            if (const auto n = parse_uint(word.substr(1), kMaxScriptSeconds)) {
                ms = static_cast<uint32_t>(*n) * 1000;
            }
        }
        if (word == "busy") {
            s.busy = true;
        } else if (word == "reject") {
            s.reject = true;
        } else if (word == "ring") {
            s.ring_only = true;
        } else if (word == "fwd") {
            s.forward = true;
        } else if (!word.empty() && word[0] == 'a' && ms != UINT32_MAX) {
            s.answer_after_ms = ms;
        } else if (!word.empty() && word[0] == 'h' && ms != UINT32_MAX) {
            s.hangup_after_ms = ms;
        } else {
            break;
        }
        number = number.substr(0, hash);
    }
    s.party_length = number.size();
    return s;
}

// ---- Control commands ----

namespace {

void ok(Reply &reply, const std::string &rest = {})
{
    reply.lines.push_back(rest.empty() ? std::string("ok") : "ok " + rest);
}

void error(Reply &reply, const std::string &why)
{
    reply.lines.push_back("error " + why);
}

std::optional<uint8_t> parse_id(std::string_view text)
{
    const auto n = parse_uint(text, kNoCallId - 1);
    return n && *n != 0 ? std::optional<uint8_t>(static_cast<uint8_t>(*n)) : std::nullopt;
}

// Plays one move of the network: the notes become informational lines, the
// frames go out, and the reply ends with ok (plus `done`) or the send error.
void act(Model &model, Link &link, Reply &reply, const std::string &done,
         const std::function<void(Context &)> &body)
{
    Context ctx(model, link.timers());
    body(ctx);
    settle(ctx);
    for (std::string &line : ctx.notes) {
        reply.lines.push_back(std::move(line));
    }
    std::string failed;
    for (const Frame &frame : ctx.outgoing) {
        if (std::string why = link.send_frame(frame); !why.empty() && failed.empty()) {
            failed = why;
        }
    }
    if (!failed.empty()) {
        return error(reply, "send failed: " + failed);
    }
    ok(reply, done);
}

// The call named by words[0], with the connection check all network moves share.
Call *call_for_move(CommandWords words, Model &model, Link &link, Reply &reply)
{
    if (!link.status().connected) {
        error(reply, "not connected");
        return nullptr;
    }
    const auto id = parse_id(words[0]);
    if (!id) {
        error(reply, "bad call id '" + std::string(words[0]) + "'");
        return nullptr;
    }
    Call *c = model.calls.find(*id);
    if (c == nullptr) {
        error(reply, strf("unknown call %u", unsigned{*id}));
    }
    return c;
}

std::optional<uint16_t> parse_call_message(std::string_view text)
{
    for (uint16_t id : kCallMessages) {
        if (text == message_name(id) || parse_uint(text, 0xFFFF) == id) {
            return id;
        }
    }
    return std::nullopt;
}

} // namespace

void cmd_incoming(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    if (words.empty() || words.size() > 2 ||
        (words.size() == 2 && words[1] != "video" && words[1] != "voice")) {
        return error(reply, "usage: incoming <number> [video]");
    }
    if (words[0].size() >= kDialDigitsMax) {
        return error(reply, strf("number longer than %zu characters", kDialDigitsMax - 1));
    }
    if (!link.status().connected) {
        return error(reply, "not connected");
    }
    if (std::string why = incoming_refusal(model); !why.empty()) {
        return error(reply, why);
    }
    const Call c =
        incoming_call(model, std::string(words[0]), words.size() == 2 && words[1] == "video");
    act(model, link, reply, strf("call %u", unsigned{c.id}),
        [&](Context &ctx) { announce_incoming(ctx, c); });
}

void cmd_hangup(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    std::optional<uint64_t> end_cause = cause::kNormal;
    if (words.size() == 2) {
        end_cause = parse_uint(words[1], 0xFFFFFFFFu);
    }
    if (words.empty() || words.size() > 2 || !end_cause) {
        return error(reply, "usage: hangup <id> [cause]");
    }
    if (Call *c = call_for_move(words, model, link, reply)) {
        const uint8_t id = c->id;
        act(model, link, reply, {},
            [&](Context &ctx) { end_call(ctx, id, static_cast<uint32_t>(*end_cause)); });
    }
}

void cmd_connect(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    if (words.size() != 1) {
        return error(reply, "usage: connect <id>");
    }
    if (Call *c = call_for_move(words, model, link, reply)) {
        if (c->dir != CallDir::mo ||
            (c->state != CallState::dialing && c->state != CallState::alerting)) {
            return error(reply,
                         strf("call %u is not an outgoing call being set up", unsigned{c->id}));
        }
        act(model, link, reply, {}, [&](Context &ctx) { connect_call(ctx, *c); });
    }
}

void cmd_modify(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    std::optional<uint64_t> dir = 3;
    if (words.size() == 3) {
        dir = parse_uint(words[2], 3);
    }
    if (words.size() < 2 || words.size() > 3 || (words[1] != "video" && words[1] != "voice") ||
        !dir || *dir == 0 || (words.size() == 3 && words[1] != "video")) {
        return error(reply, "usage: modify <id> video [1|2|3] | modify <id> voice");
    }
    if (Call *c = call_for_move(words, model, link, reply)) {
        if (c->state != CallState::active) {
            return error(reply, strf("call %u is not active", unsigned{c->id}));
        }
        const bool video = words[1] == "video";
        const PendingModify want{static_cast<uint32_t>(video ? CallType::video : CallType::voice),
                                 video ? static_cast<uint32_t>(*dir) : kVoiceVideoDir};
        act(model, link, reply, {}, [&](Context &ctx) {
            c->pending_modify = want;
            ctx.indicate(msg::kModifyInd, encode_modify_ind(c->id, want.call_type, want.video_dir));
            ctx.note(
                strf("call %u: remote asks for %s", unsigned{c->id}, video ? "video" : "voice"));
        });
    }
}

void cmd_forward(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    if (words.size() != 1) {
        return error(reply, "usage: forward <id>");
    }
    if (Call *c = call_for_move(words, model, link, reply)) {
        act(model, link, reply, {},
            [&](Context &ctx) { ctx.indicate(msg::kForwardInd, encode_call_id(c->id)); });
    }
}

void cmd_srvcc(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    const auto type = words.size() == 1 ? parse_uint(words[0], 0xFFFFFFFFu) : std::nullopt;
    if (!type) {
        return error(reply, "usage: srvcc <handover-type>");
    }
    if (!link.status().connected) {
        return error(reply, "not connected");
    }
    act(model, link, reply, {}, [&](Context &ctx) {
        ctx.indicate(msg::kSrvccInd, encode_srvcc(static_cast<uint32_t>(*type)));
    });
}

void cmd_set_delay(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    const auto ms = words.size() == 1 ? parse_uint(words[0], kMaxDelayMs) : std::nullopt;
    if (!ms) {
        return error(reply, strf("usage: set delay <ms> (0..%u)", kMaxDelayMs));
    }
    model.call_sim.delay_ms = static_cast<uint32_t>(*ms);
    ok(reply, strf("delay %u ms", model.call_sim.delay_ms));
}

void cmd_fail_next(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    const auto message = words.empty() ? std::nullopt : parse_call_message(words[0]);
    if (!message) {
        return error(reply, "usage: fail next <call-message> [cause=<n>] [flag=<n>]");
    }
    Failure failure;
    for (std::string_view word : words.subspan(1)) {
        const bool is_cause = word.starts_with("cause=");
        if (!is_cause && !word.starts_with("flag=")) {
            return error(reply, "expected cause=<n> or flag=<n>, got '" + std::string(word) + "'");
        }
        const auto n = parse_uint(word.substr(word.find('=') + 1), 0xFFFFFFFFu);
        if (!n) {
            return error(reply, "bad value in '" + std::string(word) + "'");
        }
        (is_cause ? failure.cause : failure.flag) = static_cast<uint32_t>(*n);
    }
    model.call_sim.fail_next[*message] = failure;
    ok(reply, strf("next %s fails", message_name(*message)));
}

void cmd_fail_clear(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    if (!words.empty()) {
        return error(reply, "usage: fail clear");
    }
    model.call_sim.fail_next.clear();
    ok(reply);
}

void cmd_help_calls(CommandArgs &a)
{
    auto &[words, model, link, reply] = a;
    if (!words.empty()) {
        return error(reply, "usage: help calls");
    }
    reply.lines = calls_help();
    ok(reply);
}

std::vector<std::string> calls_help()
{
    return {
        "An outgoing call goes dialing, alerting, active, one delay apart (set delay, --delay).",
        "Suffixes of the dialled number script the remote party; they combine, as in",
        "5551234#a2#h5:",
        "  #a<N>    rings N seconds, then answers",
        "  #h<N>    hangs up N seconds after answering (end cause 16)",
        "  #busy    is busy: the call ends while dialing (end cause 17)",
        "  #reject  rings, then rejects the call (end cause 21)",
        "  #ring    rings until the call is ended or `connect <id>`",
        "  #fwd     forwards the call: a forwarding indication when it rings",
        "Calls ended from this side end with cause 16. `fail next <message>` answers the",
        "next such message as a failure (cause defaults to 31, flag to 0):",
        "  dial                        the new call ends at once with the cause",
        "  answer, mt-invite-response  the ringing call ends with the cause",
        "  release-calls               an end indication with the cause; no call ends",
        "  dtmf-start, dtmf-stop       the confirmation carries the flag as its result",
        "  call-modify, call-modify-response  the modify confirmation carries the flag",
        "                              as its result; the call keeps its type",
        "  swap, conference-join, conference-split  indication 30009 with result 0 and the",
        "                              cause; no call changes",
    };
}

// ---- What the network reports ----

namespace {

Call *call_on_leg(Model &model, LegId leg)
{
    for (const Call &c : model.calls) {
        if (c.leg == leg) {
            return model.calls.find(c.id);
        }
    }
    return nullptr;
}

void network_incoming(Context &ctx, const NetEvent &e)
{
    if (std::string why = incoming_refusal(ctx.model); !why.empty()) {
        ctx.model.network->end(e.leg, Refusal::busy);
        return ctx.note("incoming call from " + e.text + " turned away: " + why);
    }
    // The number field holds so much; a longer identity is cut.
    Call c = incoming_call(ctx.model, e.text.substr(0, kDialDigitsMax - 1), e.flag);
    c.leg = e.leg;
    announce_incoming(ctx, c);
    ctx.model.network->ring(e.leg);
}

void network_modified(Context &ctx, Call &c, const NetEvent &e)
{
    const std::optional<PendingModify> asked = std::exchange(c.asked_modify, std::nullopt);
    const uint32_t video = static_cast<uint32_t>(CallType::video);
    if (e.code != 0 || !asked) {
        // Done as asked, or the remote party dropped video, which needs nobody's consent.
        const uint32_t type = e.flag ? video : static_cast<uint32_t>(CallType::voice);
        const uint32_t dir = asked && asked->call_type == video
                                 ? asked->video_dir
                                 : default_video_dir(CallType::video);
        set_type(c, type, e.flag ? dir : kVoiceVideoDir);
        ctx.note(strf("call %u is now %s", unsigned{c.id}, call_type_name(c.type)));
    }
    modify_cnf(ctx, c.id, &c, asked && e.code == 0 ? 0 : 1);
}

} // namespace

void on_network_call_event(Context &ctx, const NetEvent &e)
{
    if (e.kind == NetEvent::Kind::incoming) {
        return network_incoming(ctx, e);
    }
    if (e.kind == NetEvent::Kind::dtmf_sent) {
        const Call *c = call_on_leg(ctx.model, e.leg);
        ctx.answer(e.token, msg::kDtmfStartConf,
                   encode_dtmf_conf(c != nullptr ? c->id : kNoCallId, e.code));
        return;
    }
    Call *c = call_on_leg(ctx.model, e.leg);
    if (c == nullptr) {
        // The model ended the call meanwhile; the network has been told.
        return;
    }
    switch (e.kind) {
    case NetEvent::Kind::progress:
        if (c->state == CallState::dialing) {
            c->state = CallState::alerting;
            ctx.indicate(msg::kMoProgressInd, encode_mo_progress(c->id, c->state));
            ctx.note(strf("call %u alerting", unsigned{c->id}));
        }
        break;
    case NetEvent::Kind::answered:
        if (c->state == CallState::dialing || c->state == CallState::alerting) {
            set_type(*c, static_cast<uint32_t>(e.flag ? CallType::video : CallType::voice),
                     c->video_dir == kVoiceVideoDir ? default_video_dir(CallType::video)
                                                    : c->video_dir);
            connect_call(ctx, *c);
        }
        break;
    case NetEvent::Kind::ended:
        c->leg = 0;
        end_call(ctx, c->id, e.code);
        break;
    case NetEvent::Kind::remote_hold:
        // The call stays active here; the host is told that the other side holds it.
        ctx.indicate(e.flag ? msg::kHoldInd : msg::kRetrieveInd, encode_call_id(c->id));
        ctx.note(
            strf("call %u %s by the remote party", unsigned{c->id}, e.flag ? "held" : "resumed"));
        break;
    case NetEvent::Kind::modified:
        network_modified(ctx, *c, e);
        break;
    case NetEvent::Kind::modify_asked:
        if (c->state == CallState::active && c->type == CallType::voice) {
            c->pending_modify = PendingModify{static_cast<uint32_t>(CallType::video),
                                              default_video_dir(CallType::video)};
            ctx.indicate(msg::kModifyInd, encode_modify_ind(c->id, c->pending_modify->call_type,
                                                            c->pending_modify->video_dir));
            ctx.note(strf("call %u: remote asks for video", unsigned{c->id}));
        }
        break;
    default:
        break;
    }
    settle(ctx);
}

} // namespace zol::imsd
