#include "faults.h"

#include <algorithm>
#include <utility>

#include "call_records.h"
#include "calls.h"
#include "control.h"
#include "messages.h"
#include "records.h"
#include "reg_records.h"
#include "sms_records.h"
#include "sups_records.h"
#include "text.h"

namespace zol::imsd {

namespace {

constexpr const char *kKindNames[kFaultKinds] = {"drop",     "duplicate", "delay",  "corrupt",
                                                 "truncate", "oversize",  "unknown"};

constexpr uint16_t kAwaited[] = {
    msg::kConnectedInd, msg::kEndInd,          msg::kDtmfStartConf, msg::kDtmfStopConf,
    msg::kCurCallInd,   kMsgConfigConf,        kMsgSsActivateConf,  kMsgSsDeactivateConf,
    kMsgSsEraseConf,    kMsgSsInterrogateConf, kMsgSsRegisterConf,  kMsgSmsSendStatus,
};

// Ids the module has no handler for, on either side of the ones it knows.
constexpr uint16_t kUnknownIds[] = {0, 1, 30001, 30025, 30051, 30057, 30101, 30104, 65535};

// The agent reads at most this much of one packet; a padded frame sometimes
// goes beyond it so that the module sees a length field larger than what came.
constexpr size_t kAgentPacketLimit = 64 * 1024;
constexpr uint32_t kMaxRandomDelayMs = 1000;

std::string describe_frame(const Frame &f)
{
    return strf("%u %s token %d len %zu", unsigned{f.message}, message_name(f.message), f.token,
                f.payload.size());
}

Packet trace_only(std::string trace)
{
    return Packet{{}, std::move(trace), std::nullopt};
}

} // namespace

const char *fault_kind_name(FaultKind kind)
{
    return kKindNames[static_cast<size_t>(kind)];
}

std::optional<FaultKind> parse_fault_kind(std::string_view text)
{
    for (size_t i = 0; i < kFaultKinds; ++i) {
        if (text == kKindNames[i]) {
            return static_cast<FaultKind>(i);
        }
    }
    return std::nullopt;
}

uint16_t awaited_answer(const Frame &request)
{
    switch (request.message) {
    case msg::kAnswer: {
        // Message 2 also rejects, and nobody waits for a reject.
        const auto r = decode_call_response(request.payload);
        return r && r->accept != 0 ? msg::kConnectedInd : 0;
    }
    case msg::kReleaseCalls:
        return msg::kEndInd;
    case msg::kDtmfStart:
        return msg::kDtmfStartConf;
    case msg::kDtmfStop:
        return msg::kDtmfStopConf;
    case msg::kConferenceJoin:
    case kMsgGetCurrentCalls:
        return msg::kCurCallInd;
    case kMsgGetConfig:
        return kMsgConfigConf;
    case kMsgSupsOperation: {
        const auto r = decode_ss_request(request.payload);
        return r ? ss_conf_message(r->op) : 0;
    }
    case kMsgSendSms:
        return kMsgSmsSendStatus;
    default:
        return 0;
    }
}

std::span<const uint16_t> awaited_messages()
{
    return kAwaited;
}

std::vector<uint8_t> stand_in_payload(uint16_t message, const Model &model)
{
    switch (message) {
    case msg::kConnectedInd:
        return encode_call_id(kNoCallId);
    case msg::kEndInd:
        return encode_call_end(kNoCallId, cause::kOtherFailure);
    case msg::kDtmfStartConf:
    case msg::kDtmfStopConf:
        return encode_dtmf_conf(kNoCallId, 0);
    case msg::kCurCallInd:
        return encode_call_list(model.calls);
    case kMsgConfigConf:
        return encode_config_conf(0, ConfigValue{});
    case kMsgSsActivateConf:
    case kMsgSsDeactivateConf:
    case kMsgSsEraseConf:
    case kMsgSsInterrogateConf:
    case kMsgSsRegisterConf:
        return encode_ss_conf(false);
    case kMsgSmsSendStatus:
        return encode_send_status(0, kSmsSendTimedOut);
    default:
        return {};
    }
}

Packet make_packet(const Frame &frame, bool answer)
{
    Packet p{encode_frame(frame), "-> " + describe_frame(frame), std::nullopt};
    if (answer) {
        p.answer = frame;
    }
    return p;
}

uint64_t FaultStats::injected_total() const
{
    uint64_t total = 0;
    for (uint64_t n : injected) {
        total += n;
    }
    return total;
}

void FaultPlan::arm(const FaultRule &rule)
{
    rules_.push_back(rule);
}

void FaultPlan::random(uint64_t seed, uint32_t percent)
{
    random_seed_ = seed;
    random_percent_ = std::min<uint32_t>(percent, 100);
    rng_.seed(seed);
}

void FaultPlan::clear_rules()
{
    rules_.clear();
    random_percent_ = 0;
}

bool FaultPlan::roll(uint32_t percent)
{
    return percent > 0 && rng_() % 100 < percent;
}

std::optional<FaultRule> FaultPlan::pick()
{
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (it->count > 0) {
            const FaultRule rule = *it;
            if (--it->count == 0) {
                rules_.erase(it);
            }
            return rule;
        }
        if (roll(it->percent)) {
            return *it;
        }
    }
    if (roll(random_percent_)) {
        FaultRule rule;
        rule.kind = static_cast<FaultKind>(rng_() % kFaultKinds);
        rule.delay_ms = static_cast<uint32_t>(rng_() % kMaxRandomDelayMs);
        return rule;
    }
    return std::nullopt;
}

void FaultPlan::apply(const FaultRule &rule, Pending item, int64_t now_ms, std::vector<Packet> &out)
{
    ++stats_.injected[static_cast<size_t>(rule.kind)];
    const Frame &f = item.frame;
    // Whatever arrives in place of an answer, the answer itself is still owed.
    auto send_instead = [&](std::vector<uint8_t> bytes, const std::string &trace) {
        out.push_back(Packet{std::move(bytes), trace, std::nullopt});
        if (item.answer) {
            owe(f);
        }
    };
    switch (rule.kind) {
    case FaultKind::drop:
        return send_instead({}, "fault drop: " + describe_frame(f));
    case FaultKind::duplicate:
        out.push_back(make_packet(f, item.answer));
        out.push_back(make_packet(f, false));
        out.back().trace += " (duplicate)";
        return;
    case FaultKind::delay:
        out.push_back(trace_only(strf("fault delay %u ms: ", rule.delay_ms) + describe_frame(f)));
        delayed_.push_back(Delayed{now_ms + rule.delay_ms, next_order_++, std::move(item)});
        return;
    case FaultKind::corrupt: {
        Frame bad = f;
        size_t flipped = 0;
        if (bad.payload.empty()) {
            bad.message ^= static_cast<uint16_t>(1 + rng_() % 255);
        } else {
            for (flipped = 1 + rng_() % 4; flipped-- > 0;) {
                bad.payload[rng_() % bad.payload.size()] ^= static_cast<uint8_t>(1 + rng_() % 255);
            }
        }
        return send_instead(encode_frame(bad),
                            "-> " + describe_frame(f) +
                                (f.payload.empty() ? " (corrupted id)" : " (corrupted)"));
    }
    case FaultKind::truncate: {
        std::vector<uint8_t> bytes = encode_frame(f);
        bytes.resize(1 + rng_() % (bytes.size() - 1));
        const size_t size = bytes.size();
        return send_instead(std::move(bytes),
                            "-> " + describe_frame(f) + strf(" (cut to %zu bytes)", size));
    }
    case FaultKind::oversize: {
        Frame big = f;
        const size_t whole = kFrameHeaderLen + big.payload.size();
        const size_t extra = rng_() % 4 == 0 && whole <= kAgentPacketLimit
                                 ? kAgentPacketLimit - whole + 1 + rng_() % 1024
                                 : 1 + rng_() % 64;
        for (size_t i = 0; i < extra; ++i) {
            big.payload.push_back(static_cast<uint8_t>(rng_()));
        }
        return send_instead(encode_frame(big),
                            "-> " + describe_frame(f) + strf(" (padded by %zu bytes)", extra));
    }
    case FaultKind::unknown: {
        Frame odd = f;
        odd.message = kUnknownIds[rng_() % std::size(kUnknownIds)];
        return send_instead(encode_frame(odd),
                            "-> " + describe_frame(odd) + strf(" (was %u)", unsigned{f.message}));
    }
    }
}

std::vector<Packet> FaultPlan::submit(Frame frame, bool answer, int64_t now_ms)
{
    std::vector<Packet> out;
    Pending item{std::move(frame), answer};
    if (paused_) {
        held_.push_back(std::move(item));
        ++stats_.held;
        return out;
    }
    if (const std::optional<FaultRule> rule = pick()) {
        apply(*rule, std::move(item), now_ms, out);
    } else {
        out.push_back(make_packet(item.frame, item.answer));
    }
    return out;
}

std::vector<Packet> FaultPlan::resume(int64_t now_ms)
{
    paused_ = false;
    std::deque<Pending> held;
    held.swap(held_);
    std::vector<Packet> out;
    for (Pending &item : held) {
        std::vector<Packet> some = submit(std::move(item.frame), item.answer, now_ms);
        std::move(some.begin(), some.end(), std::back_inserter(out));
    }
    return out;
}

std::vector<Packet> FaultPlan::due(int64_t now_ms)
{
    std::vector<Delayed> ready;
    std::erase_if(delayed_, [&](Delayed &d) {
        if (d.due > now_ms) {
            return false;
        }
        ready.push_back(std::move(d));
        return true;
    });
    std::sort(ready.begin(), ready.end(), [](const Delayed &a, const Delayed &b) {
        return std::pair(a.due, a.order) < std::pair(b.due, b.order);
    });
    std::vector<Packet> out;
    for (const Delayed &d : ready) {
        out.push_back(make_packet(d.item.frame, d.item.answer));
        out.back().trace += " (delayed)";
    }
    return out;
}

std::optional<int64_t> FaultPlan::next_due() const
{
    std::optional<int64_t> first;
    for (const Delayed &d : delayed_) {
        if (!first || d.due < *first) {
            first = d.due;
        }
    }
    return first;
}

void FaultPlan::owe_answer(int32_t token, uint16_t message)
{
    owed_.push_back(Owed{Frame{token, message, {}}, true});
    ++stats_.owed;
}

void FaultPlan::owe(Frame frame)
{
    owed_.push_back(Owed{std::move(frame), false});
    ++stats_.owed;
}

std::vector<Packet> FaultPlan::drain(const Model &model)
{
    paused_ = false;
    std::vector<Packet> out;
    for (const Pending &item : held_) {
        out.push_back(make_packet(item.frame, item.answer));
        out.back().trace += " (held)";
    }
    held_.clear();
    std::vector<Packet> late = due(INT64_MAX);
    std::move(late.begin(), late.end(), std::back_inserter(out));
    std::deque<Owed> owed;
    owed.swap(owed_);
    for (Owed &o : owed) {
        if (o.stand_in) {
            o.frame.payload = stand_in_payload(o.frame.message, model);
        }
        out.push_back(make_packet(o.frame, true));
        out.back().trace += " (owed)";
        ++stats_.paid;
    }
    return out;
}

size_t FaultPlan::forget()
{
    const size_t count = held_.size() + delayed_.size() + owed_.size();
    held_.clear();
    delayed_.clear();
    owed_.clear();
    return count;
}

Packet FaultPlan::spurious(uint16_t message, const Model &model)
{
    ++stats_.spurious;
    Packet p = make_packet(Frame{0, message, stand_in_payload(message, model)}, false);
    p.trace += " (spurious)";
    return p;
}

std::vector<std::string> FaultPlan::describe() const
{
    std::vector<std::string> lines;
    for (const FaultRule &r : rules_) {
        std::string line = std::string("rule ") + fault_kind_name(r.kind) +
                           (r.count > 0 ? strf(" next %u", r.count) : strf(" %u%%", r.percent));
        if (r.kind == FaultKind::delay) {
            line += strf(" %u ms", r.delay_ms);
        }
        lines.push_back(std::move(line));
    }
    if (random_percent_ > 0) {
        lines.push_back(strf("random seed %llu %u%%", static_cast<unsigned long long>(random_seed_),
                             random_percent_));
    }
    if (paused_) {
        lines.push_back("paused");
    }
    return lines;
}

std::string FaultPlan::summary() const
{
    std::string s = strf("paused=%s held=%zu delayed=%zu owed=%zu injected=%llu",
                         paused_ ? "yes" : "no", held_.size(), delayed_.size(), owed_.size(),
                         static_cast<unsigned long long>(stats_.injected_total()));
    for (size_t i = 0; i < kFaultKinds; ++i) {
        s += strf(" %s=%llu", kKindNames[i], static_cast<unsigned long long>(stats_.injected[i]));
    }
    s += strf(" spurious=%llu paid=%llu", static_cast<unsigned long long>(stats_.spurious),
              static_cast<unsigned long long>(stats_.paid));
    return s;
}

// ---- Control commands ----

namespace {

constexpr uint32_t kMaxCount = 1000000;
constexpr uint32_t kMaxFaultMs = 600000;
constexpr uint32_t kMaxSpurious = 1000;
constexpr uint32_t kDefaultRandomPercent = 10;

FaultPlan *plan_of(CommandArgs &a)
{
    FaultPlan *plan = a.link.faults();
    if (plan == nullptr) {
        a.error("no fault injection on this link");
    }
    return plan;
}

int64_t now_of(Link &link)
{
    return link.timers() != nullptr ? link.timers()->now() : 0;
}

std::optional<uint32_t> parse_ms(std::string_view text)
{
    const auto n = parse_uint(text, kMaxFaultMs);
    return n ? std::optional<uint32_t>(static_cast<uint32_t>(*n)) : std::nullopt;
}

std::optional<uint16_t> parse_awaited(std::string_view text)
{
    for (uint16_t id : kAwaited) {
        if (text == message_name(id) || parse_uint(text, 0xFFFF) == id) {
            return id;
        }
    }
    return std::nullopt;
}

} // namespace

void cmd_fault_rule(CommandArgs &a)
{
    const char *usage =
        "usage: fault drop|duplicate|delay|corrupt|truncate|oversize|unknown <N>|<P>% [<ms>]";
    if (a.words.size() < 2 || a.words.size() > 3) {
        return a.error(usage);
    }
    const auto kind = parse_fault_kind(a.words[0]);
    if (!kind) {
        return a.error("unknown fault '" + std::string(a.words[0]) + "'; " + usage);
    }
    FaultRule rule;
    rule.kind = *kind;
    std::string_view amount = a.words[1];
    const bool share = amount.ends_with('%');
    if (share) {
        amount.remove_suffix(1);
    }
    const auto n = parse_uint(amount, share ? 100 : kMaxCount);
    if (!n || *n == 0) {
        return a.error("bad amount '" + std::string(a.words[1]) + "'");
    }
    (share ? rule.percent : rule.count) = static_cast<uint32_t>(*n);
    if (a.words.size() == 3) {
        const auto ms = parse_ms(a.words[2]);
        if (*kind != FaultKind::delay || !ms) {
            return a.error(*kind != FaultKind::delay
                               ? "only delay takes a time"
                               : "bad time '" + std::string(a.words[2]) + "'");
        }
        rule.delay_ms = *ms;
    }
    if (FaultPlan *plan = plan_of(a)) {
        plan->arm(rule);
        a.ok();
    }
}

void cmd_fault_random(CommandArgs &a)
{
    if (a.words.empty() || a.words.size() > 2) {
        return a.error("usage: fault random <seed> [<percent>]");
    }
    const auto seed = parse_uint(a.words[0], UINT64_MAX);
    const auto percent = a.words.size() == 2 ? parse_uint(a.words[1], 100)
                                             : std::optional<uint64_t>(kDefaultRandomPercent);
    if (!seed || !percent) {
        return a.error("bad seed or percent");
    }
    if (FaultPlan *plan = plan_of(a)) {
        plan->random(*seed, static_cast<uint32_t>(*percent));
        a.ok();
    }
}

void cmd_fault_clear(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault clear");
    }
    if (FaultPlan *plan = plan_of(a)) {
        plan->clear_rules();
        a.ok();
    }
}

void cmd_fault_pause(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault pause");
    }
    if (FaultPlan *plan = plan_of(a)) {
        plan->pause();
        a.ok();
    }
}

void cmd_fault_resume(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault resume");
    }
    if (FaultPlan *plan = plan_of(a)) {
        const size_t held = plan->held();
        a.link.transmit(plan->resume(now_of(a.link)));
        a.ok(strf("released %zu", held));
    }
}

void cmd_fault_spurious(CommandArgs &a)
{
    if (a.words.size() > 2) {
        return a.error("usage: fault spurious [<message>|any] [<count>]");
    }
    std::optional<uint16_t> message;
    if (!a.words.empty() && a.words[0] != "any") {
        message = parse_awaited(a.words[0]);
        if (!message) {
            return a.error("'" + std::string(a.words[0]) + "' is no message a request waits for");
        }
    }
    const auto count =
        a.words.size() == 2 ? parse_uint(a.words[1], kMaxSpurious) : std::optional<uint64_t>(1);
    if (!count || *count == 0) {
        return a.error("bad count");
    }
    FaultPlan *plan = plan_of(a);
    if (plan == nullptr) {
        return;
    }
    if (!a.link.status().connected) {
        return a.error("not connected");
    }
    std::vector<Packet> packets;
    for (uint64_t i = 0; i < *count; ++i) {
        const uint16_t id = message ? *message : kAwaited[plan->draw() % std::size(kAwaited)];
        packets.push_back(plan->spurious(id, a.model));
    }
    a.link.transmit(std::move(packets));
    a.ok(strf("sent %llu", static_cast<unsigned long long>(*count)));
}

namespace {

void link_fault(CommandArgs &a, LinkFault fault, bool needs_time, const char *usage)
{
    if (a.words.size() > 1 || (needs_time && a.words.empty())) {
        return a.error(usage);
    }
    std::optional<uint32_t> ms = 0;
    if (!a.words.empty()) {
        ms = parse_ms(a.words[0]);
    }
    if (!ms || (needs_time && *ms == 0)) {
        return a.error("bad time '" + std::string(a.words[0]) + "'");
    }
    if (std::string why = a.link.link_fault(fault, *ms); !why.empty()) {
        return a.error(why);
    }
    a.ok();
}

// Sends everything the plan holds back or owes; answers that fail stay owed.
void pay(CommandArgs &a, FaultPlan &plan)
{
    std::vector<Packet> packets = plan.drain(a.model);
    const size_t count = packets.size();
    a.link.transmit(std::move(packets));
    a.ok(strf("sent %zu, still owed %zu", count - std::min(count, plan.owed()), plan.owed()));
}

} // namespace

void cmd_fault_refuse(CommandArgs &a)
{
    link_fault(a, LinkFault::refuse, false, "usage: fault refuse [<ms>]");
}

void cmd_fault_close(CommandArgs &a)
{
    link_fault(a, LinkFault::close, false, "usage: fault close [<ms>]");
}

void cmd_fault_stall(CommandArgs &a)
{
    link_fault(a, LinkFault::stall, true, "usage: fault stall <ms>");
}

void cmd_fault_drain(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault drain");
    }
    if (FaultPlan *plan = plan_of(a)) {
        pay(a, *plan);
    }
}

void cmd_fault_off(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault off");
    }
    // Ending a refusal ends the refused connection, so the agent may be away for
    // a moment: what cannot be sent now goes out when it is back.
    a.link.link_fault(LinkFault::none, 0);
    FaultPlan *plan = plan_of(a);
    if (plan == nullptr) {
        return;
    }
    plan->clear_rules();
    if (!a.link.status().connected && plan->held() + plan->delayed() + plan->owed() > 0) {
        a.link.drain_on_connect();
        return a.ok(strf("sent 0, still owed %zu: paid when the agent connects", plan->owed()));
    }
    pay(a, *plan);
    if (plan->owed() > 0) {
        a.link.drain_on_connect();
    }
}

void cmd_fault_show(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: fault show");
    }
    if (FaultPlan *plan = plan_of(a)) {
        for (std::string &line : plan->describe()) {
            a.info(std::move(line));
        }
        a.ok(plan->summary());
    }
}

} // namespace zol::imsd
