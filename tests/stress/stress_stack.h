// The stress test's IMS stack and what it knows of the module's traffic. It
// takes the frames the module sends (on the sending host thread, inside the
// kit agent's send) and answers them from a reader thread of its own, as the
// real agent does, with the stand-in's encoders and with faults: failed sends,
// answers given inside the send, duplicated, late and reordered answers,
// answers held back until the drain, stalls that let the pending list fill up,
// and messages nobody asked for.
#ifndef ZOL_STRESS_STACK_H
#define ZOL_STRESS_STACK_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "agent.h"
#include "messages.h"
#include "payloads.h"
#include "ril.h"

namespace zol_stress {

using zol_kit::Bytes;

// splitmix64: small, fast, and the same sequence everywhere for a seed.
struct Rng {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
    bool permille(uint32_t p) { return below(1000) < p; }
};

// How the module answers a request.
enum class Pattern {
    pending,   // the stack's answer completes it
    immediate, // completed from the result of its one send
    local,     // completed from the module's own state
};

// Well-formed host data for a request; none without a fill function.
using FillFn = Bytes (*)(Rng &);

// One row per request number the host sends.
struct RequestKind {
    int request;
    Pattern pattern;
    uint16_t message;                           // the stack message it sends; 0 for none
    FillFn fill = nullptr;                      // well-formed data
    int send_fail_code = RIL_E_GENERIC_FAILURE; // what the host gets when that send fails
};

// The stack's messages and the host's data, from the stand-in's encoders.
namespace detail {

namespace imsd = zol::imsd;
namespace msg = zol::imsd::msg;
using zol_kit::frame;
using zol_kit::texts;

inline thread_local bool t_reader = false;

// A message id no handler serves: the marker.
constexpr uint16_t kUnknownMessage = 30001;

inline Bytes call_list(Rng &rng)
{
    std::vector<imsd::Call> calls;
    for (uint8_t i = 1, n = static_cast<uint8_t>(rng.below(3)); i <= n; ++i) {
        imsd::Call c = zol_kit::call(i, i == 1 ? "+4915550001" : "5550002", 1 + rng.below(8),
                                     rng.permille(300) ? 4 : 1);
        c.dir = rng.below(2) == 0 ? imsd::CallDir::mt : imsd::CallDir::mo;
        c.mpty = static_cast<uint8_t>(rng.below(2));
        calls.push_back(c);
    }
    // Now and then a list that claims one call more than it carries.
    return zol_kit::call_list(calls, static_cast<int>(calls.size()) + (rng.permille(50) ? 1 : 0));
}

// One SS confirmation; an interrogation's carries a status or a forwarding list.
inline Bytes ss_conf(bool interrogation, Rng &rng)
{
    const bool success = rng.permille(920);
    if (rng.permille(20)) {
        return Bytes(2, 1); // too short to say anything
    }
    if (!interrogation || rng.permille(200) || !success) {
        return imsd::encode_ss_conf(success);
    }
    if (rng.below(2) == 0) {
        constexpr uint32_t kCodes[] = {1, 9, 15, 16, 17, 18, 3};
        return imsd::encode_ss_status_conf(kCodes[rng.below(7)], rng.below(2) == 0);
    }
    std::vector<imsd::FwdFeature> features(rng.below(3));
    for (imsd::FwdFeature &f : features) {
        f = {3 + rng.below(5), 1, 1, false, rng.below(2) == 0, "5550100", 20};
    }
    return imsd::encode_fwd_list_conf(features);
}

// A well-formed payload of a message the stack sends.
inline Bytes payload_of(uint16_t id, Rng &rng)
{
    switch (id) {
    case msg::kMtInviteInd:
        return imsd::encode_mt_invite(
            zol_kit::call(2, "+4915550009", 3, rng.permille(300) ? 4 : 1));
    case msg::kEndInd:
        return imsd::encode_call_end(1, 16 + rng.below(20));
    case msg::kMoProgressInd:
        return imsd::encode_mo_progress(1, imsd::CallState::dialing);
    case msg::kModifyInd:
        return imsd::encode_modify_ind(1, 4, 1 + rng.below(3));
    case msg::kModifyCnfInd:
        return imsd::encode_modify_cnf(1, 4, 1, 3);
    case msg::kDtmfStartConf:
    case msg::kDtmfStopConf:
        return imsd::encode_dtmf_conf(0xFF, rng.permille(950) ? 1 : 0);
    case msg::kSrvccInd:
        return imsd::encode_srvcc(rng.below(4));
    case msg::kCurCallInd:
        return call_list(rng);
    case imsd::kMsgRunStatusInd:
        return imsd::encode_run_status(rng.below(2));
    case imsd::kMsgConfigConf:
        return imsd::encode_config_conf(1 + rng.below(16), {'i', 'm', 's'});
    case imsd::kMsgSsActivateConf:
    case imsd::kMsgSsDeactivateConf:
    case imsd::kMsgSsEraseConf:
    case imsd::kMsgSsRegisterConf:
    case imsd::kMsgSsInterrogateConf:
        return ss_conf(id == imsd::kMsgSsInterrogateConf, rng);
    case imsd::kMsgIncomingSms:
        return imsd::encode_incoming_sms("0891683108200805F0", rng.below(2) == 0
                                                                   ? imsd::TpduType::deliver
                                                                   : imsd::TpduType::status_report);
    case imsd::kMsgSmsSendStatus: {
        const uint32_t r = rng.below(100);
        return imsd::encode_send_status(rng.below(256), r < 85 ? 0 : r < 93 ? 10 : 1);
    }
    default:
        return imsd::encode_call_id(1);
    }
}

// The stack's answer to one frame the module sent, as a real stack sends it;
// none when it owes none (invite and modify responses, configuration,
// registration and SMS acknowledgements, unknown messages).
inline Bytes answer_to(const Bytes &bytes, Rng &rng)
{
    const zol_kit::Sent sent = zol_kit::read_frame(bytes);
    uint16_t answer = 0;
    Bytes payload;
    switch (sent.message) {
    case msg::kAnswer: // accepting (1) is confirmed by the connection, a reject needs nothing
        if (const auto r = imsd::decode_call_response(sent.payload); r && r->accept == 1) {
            answer = msg::kConnectedInd;
        }
        break;
    case imsd::kMsgGetConfig:
        answer = imsd::kMsgConfigConf;
        payload = imsd::encode_config_conf(imsd::decode_word_request(sent.payload).value_or(0),
                                           {'i', 'm', 's'});
        break;
    case imsd::kMsgSupsOperation:
        if (const auto r = imsd::decode_ss_request(sent.payload)) {
            answer = imsd::ss_conf_message(r->op);
        }
        break;
    default: {
        constexpr std::pair<uint16_t, uint16_t> kAnswers[] = {
            {msg::kDial, msg::kMoProgressInd},
            {msg::kReleaseCalls, msg::kEndInd},
            {msg::kDtmfStart, msg::kDtmfStartConf},
            {msg::kDtmfStop, msg::kDtmfStopConf},
            {msg::kCallModify, msg::kModifyCnfInd},
            {imsd::kMsgGetCurrentCalls, msg::kCurCallInd},
            {msg::kSwap, msg::kHoldInd},
            {imsd::kMsgGetRunStatus, imsd::kMsgRunStatusInd},
            {imsd::kMsgSendSms, imsd::kMsgSmsSendStatus}};
        for (const auto &[request, reply] : kAnswers) {
            answer = request == sent.message ? reply : answer;
        }
    }
    }
    return answer == 0
               ? Bytes{}
               : frame(answer, payload.empty() ? payload_of(answer, rng) : payload, sent.token);
}

// A well-formed stack message nobody asked for, or one without a handler
// (damaged ones are the fuzz targets' work).
inline Bytes stray_frame(Rng &rng)
{
    std::vector<uint16_t> ids = {kUnknownMessage};
    for (const imsd::MessageInfo &m : imsd::all_messages()) {
        if (m.handler == nullptr) {
            ids.push_back(m.id);
        }
    }
    const uint16_t id = ids[rng.below(static_cast<uint32_t>(ids.size()))];
    return frame(id, payload_of(id, rng), 0xFFFF);
}

// Texts and records point to static strings, as rild's live until the request returns.
inline char kNumber[] = "5551234", kForwardNumber[] = "5550100", kSmsc[] = "+4915550000";
inline char kPdu[] = "0001000B915155214365F7000003C16010";
inline char *kWithSmsc[] = {kSmsc, kPdu}, *kWithoutSmsc[] = {nullptr, kPdu};

template <typename... Values>
Bytes ints(Values... values)
{
    return zol_kit::words({static_cast<int32_t>(values)...});
}
inline Bytes dial(Rng &rng)
{
    return zol_kit::dial(kNumber, 0, rng.below(2) == 0 ? 0 : 3);
}
inline Bytes sms(Rng &rng)
{
    RIL_IMS_SMS_Message m{RADIO_TECH_3GPP, 0, static_cast<int>(rng.below(256)), {}};
    m.message.gsmMessage = rng.below(2) == 0 ? kWithSmsc : kWithoutSmsc;
    return zol_kit::bytes_of(m);
}
inline Bytes forward(Rng &rng, uint32_t status)
{
    return zol_kit::forwarding(static_cast<int>(status), static_cast<int>(rng.below(6)), 1, 129,
                               kForwardNumber, 20);
}

// A fill function from one expression over the rng `r`.
#define ZOL_FILL(...) []([[maybe_unused]] Rng &r) -> Bytes { return __VA_ARGS__; }

using enum Pattern;
constexpr uint16_t kSs = imsd::kMsgSupsOperation;

inline const std::vector<RequestKind> kRequestKinds = {
    {RIL_REQUEST_GET_CURRENT_CALLS, pending, imsd::kMsgGetCurrentCalls},
    {RIL_REQUEST_DIAL, immediate, msg::kDial, dial},
    {RIL_REQUEST_HANGUP, pending, msg::kReleaseCalls, ZOL_FILL(ints(1 + r.below(3)))},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, pending, msg::kReleaseCalls},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, pending, msg::kReleaseCalls},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, immediate, msg::kSwap},
    {RIL_REQUEST_UDUB, immediate, msg::kAnswer},
    {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, local, 0},
    {RIL_REQUEST_ANSWER, pending, msg::kAnswer, ZOL_FILL(ints(r.below(4)))},
    {RIL_REQUEST_DTMF_START, pending, msg::kDtmfStart,
     ZOL_FILL(Bytes{static_cast<uint8_t>('0' + r.below(10))})},
    {RIL_REQUEST_DTMF_STOP, pending, msg::kDtmfStop},
    {RIL_REQUEST_IMS_REGISTRATION_STATE, local, imsd::kMsgGetRunStatus},
    {RIL_REQUEST_CALL_MODIFY, immediate, msg::kCallModify, ZOL_FILL(ints(1, r.below(4)))},
    {RIL_REQUEST_CALL_MODIFY_RSP, immediate, msg::kCallModifyResponse,
     ZOL_FILL(ints(1, r.below(5)))},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, pending, imsd::kMsgGetConfig,
     ZOL_FILL(texts({std::array{"1", "3", "5", "14", "16"}[r.below(5)]}))},
    {RIL_REQUEST_IMS_SET_CONFIGRATION, immediate, imsd::kMsgSetConfig, ZOL_FILL(texts({"5", "1"}))},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, immediate, imsd::kMsgSetRegistration,
     ZOL_FILL(ints(r.below(2)))},
    {RIL_REQUEST_IMS_SEND_SMS, pending, imsd::kMsgSendSms, sms, RIL_E_SMS_SEND_FAIL_RETRY},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, immediate, imsd::kMsgAckSms, ZOL_FILL(ints(r.below(2)))},
    {RIL_REQUEST_GET_CLIR, pending, kSs},
    {RIL_REQUEST_SET_CLIR, pending, kSs, ZOL_FILL(ints(r.below(3)))},
    {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, pending, kSs, ZOL_FILL(forward(r, 2))},
    {RIL_REQUEST_SET_CALL_FORWARD, pending, kSs, ZOL_FILL(forward(r, r.below(5)))},
    {RIL_REQUEST_QUERY_CALL_WAITING, pending, kSs, ZOL_FILL(ints(1))},
    {RIL_REQUEST_SET_CALL_WAITING, pending, kSs, ZOL_FILL(ints(r.below(2), 1))},
    {RIL_REQUEST_QUERY_FACILITY_LOCK, pending, kSs, ZOL_FILL(texts({"AO", "", "1"}))},
    {RIL_REQUEST_SET_FACILITY_LOCK, pending, kSs,
     ZOL_FILL(texts({"AI", r.below(2) == 0 ? "0" : "1", "", "1", "", "0"}))},
    {RIL_REQUEST_QUERY_CLIP, pending, kSs},
    {RIL_REQUEST_IMS_MT_INVITE_RSP, immediate, msg::kMtInviteResponse,
     ZOL_FILL(ints(2, r.below(2)))},
    {RIL_REQUEST_SET_COLP, pending, kSs, ZOL_FILL(ints(r.below(2)))},
    {RIL_REQUEST_QUERY_COLR, pending, kSs},
    {RIL_REQUEST_QUERY_COLP, pending, kSs},
};
#undef ZOL_FILL

} // namespace detail

using detail::kRequestKinds;

// Fault rates in permille, unless said otherwise.
struct Faults {
    uint32_t send_fail = 40;             // the send reports failure...
    uint32_t failed_but_seen = 500;      // ...though the stack got the frame
    uint32_t inline_answer = 100;        // answered on the sending thread before the send returns
    uint32_t inline_after_failure = 500; // the same, for a failed send the stack got
    uint32_t slow_send = 50;             // the send blocks a little after handing over the frame
    uint32_t duplicate = 60;             // the answer comes twice
    uint32_t late = 120;                 // the answer comes some frames later, out of order
    uint32_t hold = 5;                   // the answer is held back until the drain
    uint32_t stray = 60;                 // an unrelated message follows a frame
    uint32_t stall = 3;                  // the stack stops answering for a while (per 10000 frames)
};

class Stack {
public:
    Stack(uint64_t seed, Faults faults) : faults_(faults), rng_{seed}, reader_([this] { run(); }) {}
    ~Stack()
    {
        push(nullptr);
        reader_.join();
    }

    // One send of the module, on its host thread with that thread's rng; the send's result.
    int on_send(const uint8_t *frame_bytes, int32_t length, Rng &rng)
    {
        const bool fail = rng.permille(faults_.send_fail);
        const bool seen = !fail || rng.permille(faults_.failed_but_seen);
        // A failed send the stack got anyway is the race that matters most: its
        // answer then often beats the handler's failure reply. An answer inside
        // the send overtakes it: the event thread may handle it while the
        // request's handler is still inside this call.
        Bytes sent(frame_bytes, frame_bytes + length);
        if (seen && rng.permille(fail ? faults_.inline_after_failure : faults_.inline_answer)) {
            if (const Bytes answer = detail::answer_to(sent, rng); !answer.empty()) {
                deliver(answer);
            }
        } else if (seen) {
            push([this, sent = std::move(sent)] { handle(sent); });
        }
        if (rng.permille(faults_.slow_send)) {
            std::this_thread::sleep_for(std::chrono::microseconds(20 + rng.below(200)));
        }
        return fail ? -1 : 0;
    }
    // A new round: at least one stall somewhere in its first few hundred frames.
    void begin_round()
    {
        push([this] { stall_at_ = tick_ + 50 + rng_.below(350); });
    }
    // After the host threads have stopped: answers everything still held back,
    // then sends a marker. Returns how many markers the module has taken so
    // far; once it has processed that many, every answer has been handled.
    uint64_t drain()
    {
        std::promise<void> done;
        push([&] {
            stall_until_ = 0;
            stalled_.store(false);
            release(UINT64_MAX);
            deliver(detail::frame(detail::kUnknownMessage, {}, 0xFFFF)); // the marker
            done.set_value();
        });
        done.get_future().wait();
        return markers_.load();
    }

    // Whether the stack is holding every answer back just now.
    bool stalled() const { return stalled_.load(std::memory_order_relaxed); }
    // Whether the caller is the stack's reader thread, which only delivers frames.
    static bool on_reader_thread() { return detail::t_reader; }

private:
    // Work for the reader thread, in order; an empty task stops it.
    void push(std::function<void()> task)
    {
        std::lock_guard<std::mutex> lock(mu_);
        inbox_.push_back(std::move(task));
        cv_.notify_all();
    }
    void run()
    {
        detail::t_reader = true;
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(mu_);
                cv_.wait(lock, [&] { return !inbox_.empty(); });
                task = std::move(inbox_.front());
                inbox_.pop_front();
            }
            if (!task) {
                return;
            }
            task();
        }
    }
    void handle(const Bytes &sent)
    {
        release(++tick_);
        if (tick_ >= stall_until_ && (tick_ == stall_at_ || rng_.below(10000) < faults_.stall)) {
            stall_until_ = tick_ + 60 + rng_.below(140);
        }
        stalled_.store(tick_ < stall_until_);
        if (Bytes answer = detail::answer_to(sent, rng_); !answer.empty()) {
            dispose(std::move(answer));
        }
        if (rng_.permille(faults_.stray)) {
            deliver(detail::stray_frame(rng_));
        }
    }
    void dispose(Bytes answer)
    {
        const uint32_t r = rng_.below(1000);
        if (tick_ < stall_until_) {
            later_.emplace_back(stall_until_, std::move(answer));
        } else if (r < faults_.hold) {
            later_.emplace_back(UINT64_MAX, std::move(answer)); // until the drain
        } else if (r < faults_.hold + faults_.duplicate) {
            deliver(answer);
            later_.emplace_back(tick_ + 1 + rng_.below(30), std::move(answer));
        } else if (r < faults_.hold + faults_.duplicate + faults_.late) {
            later_.emplace_back(tick_ + 1 + rng_.below(40), std::move(answer));
        } else {
            deliver(answer);
        }
    }
    // Every answer due by `tick`, out of order: the stack owes no order between held-back answers.
    void release(uint64_t tick)
    {
        std::vector<Bytes> due;
        for (auto it = later_.begin(); it != later_.end();) {
            if (it->first <= tick) {
                due.push_back(std::move(it->second));
                it = later_.erase(it);
            } else {
                ++it;
            }
        }
        for (size_t i = due.size(); i > 1; --i) {
            std::swap(due[i - 1], due[rng_.below(static_cast<uint32_t>(i))]);
        }
        for (const Bytes &f : due) {
            deliver(f);
        }
    }
    void deliver(const Bytes &f)
    {
        if (zol_kit::agent::deliver(f) == 0 && f.size() >= 7 &&
            (f[5] << 8 | f[6]) == detail::kUnknownMessage) {
            ++markers_;
        }
    }

    const Faults faults_;
    std::atomic<uint64_t> markers_{0}; // markers the module took
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> inbox_;

    // Reader thread only.
    Rng rng_;
    uint64_t tick_ = 0, stall_at_ = 0, stall_until_ = 0;
    std::atomic<bool> stalled_{false};
    std::vector<std::pair<uint64_t, Bytes>> later_; // due tick, answer
    std::thread reader_;                            // last: it starts at once
};

} // namespace zol_stress

#endif // ZOL_STRESS_STACK_H
