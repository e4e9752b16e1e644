// The stress test's IMS stack and what it knows of the module's traffic. It
// takes the frames the module sends (on the sending host thread, inside the
// kit agent's send) and answers them from a reader thread of its own, as the
// real agent does, with the stand-in's encoders and with faults: failed sends,
// answers given inside the send, duplicated, late and reordered answers,
// answers held back until the drain, stalls that let the pending list fill up,
// and well-formed or damaged messages nobody asked for.
#ifndef ZOL_STRESS_STACK_H
#define ZOL_STRESS_STACK_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "payloads.h"
#include "ril.h"

namespace zol_stress {

using zol_kit::Bytes;

// splitmix64: small, fast, and the same sequence everywhere for a seed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(next() % n); }
    bool permille(uint32_t p) { return below(1000) < p; }

private:
    uint64_t state_;
};

// How the module answers a request.
enum class Pattern {
    pending,     // the stack's answer completes it
    immediate,   // completed from the result of its one send
    local,       // completed from the module's own state
    unsupported, // not the module's: refused with 6
};

// The host's data for one request; everything it points to lives here.
struct HostData {
    const void *data = nullptr;
    size_t len = 0;
    int32_t words[4] = {};
    char tone[2] = {};
    RIL_Dial dial{};
    RIL_IMS_SMS_Message sms{};
    char *sms_texts[2] = {};
    RIL_CallForwardInfo forward{};
    const char *texts[6] = {};
    void use(const void *d, size_t l) { data = d, len = l; }
};
using FillFn = void (*)(HostData &, Rng &);

// One row per request number the host sends.
struct RequestKind {
    int request;
    const char *name;
    Pattern pattern;
    uint16_t message;    // the stack message it sends; 0 for none
    int send_fail_code;  // what the host gets when that send fails
    FillFn fill;         // well-formed data
    FillFn fill_refused; // data the module refuses at once (code 2, nothing sent); null if none
};
const std::vector<RequestKind> &request_kinds();

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

// What the stack did, in the order the summary line prints it.
#define ZOL_STRESS_FIGURES(X)                                                                     \
    X(frames) X(send_failures) X(failed_but_seen) X(inline_answers) X(slow_sends) X(duplicates)   \
    X(late) X(held) X(stalls) X(stalled_answers) X(strays) X(refused_by_module) X(delivered)      \
    X(markers)
#define ZOL_STRESS_ENUM(name) k_##name,
enum Figure { ZOL_STRESS_FIGURES(ZOL_STRESS_ENUM) kFigures };
#undef ZOL_STRESS_ENUM

class Stack {
public:
    Stack(uint64_t seed, Faults faults) : faults_(faults), rng_(seed), reader_([this] { run(); }) {}
    ~Stack()
    {
        push(Kind::stop);
        reader_.join();
    }

    // One send of the module, on its host thread with that thread's rng; the send's result.
    int on_send(const uint8_t *frame, int32_t length, Rng &rng);
    // A new round: at least one stall somewhere in its first few hundred frames.
    void begin_round() { push(Kind::round); }
    // After the host threads have stopped: answers everything still held back,
    // then sends a marker. Returns how many markers the module has taken so
    // far; once it has processed that many, every answer has been handled.
    uint64_t drain()
    {
        std::unique_lock<std::mutex> lock(mu_);
        const uint64_t target = drains_done_ + 1;
        inbox_.push_back({Kind::drain, {}});
        cv_.notify_all();
        cv_.wait(lock, [&] { return drains_done_ >= target; });
        return figure(k_markers);
    }

    uint64_t figure(Figure f) const { return figures_[f].load(); }
    // Whether the stack is holding every answer back just now.
    bool stalled() const { return stalled_.load(std::memory_order_relaxed); }
    // Whether the caller is the stack's reader thread, which only delivers frames.
    static bool on_reader_thread();

private:
    enum class Kind { frame, round, drain, stop };
    struct Item {
        Kind kind;
        Bytes frame;
    };

    void count(Figure f) { figures_[f].fetch_add(1); }
    void push(Kind kind, Bytes frame = {})
    {
        std::lock_guard<std::mutex> lock(mu_);
        inbox_.push_back({kind, std::move(frame)});
        cv_.notify_all();
    }
    void run();
    void handle(const Bytes &frame);
    void dispose(Bytes answer);
    void release(std::vector<Bytes> &pool);
    void deliver(const Bytes &frame);

    const Faults faults_;
    std::atomic<uint64_t> figures_[kFigures] = {};
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Item> inbox_;
    uint64_t drains_done_ = 0;

    // Reader thread only.
    Rng rng_;
    uint64_t tick_ = 0, stall_at_ = 0, stall_left_ = 0;
    std::atomic<bool> stalled_{false};
    std::vector<std::pair<uint64_t, Bytes>> late_; // due tick, answer
    std::vector<Bytes> stalled_answers_, held_;
    std::thread reader_; // last: it starts at once
};

} // namespace zol_stress

#endif // ZOL_STRESS_STACK_H
