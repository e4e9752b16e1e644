// The stress test's IMS stack: it takes the frames the module sends (on the
// sending host thread, inside the agent's send) and answers them from a
// reader thread of its own, as the real agent does, with faults: failed
// sends, answers given inside the send, duplicated, late and reordered
// answers, answers held back until the drain, stalls that let the pending
// list fill up, and indications and confirmations nobody asked for.
#ifndef ZOL_STRESS_STACK_H
#define ZOL_STRESS_STACK_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "stress_agent.h"
#include "stress_model.h"

namespace zol_stress {

// Fault rates in permille, unless said otherwise.
struct Faults {
    uint32_t send_fail = 40;              // the send reports failure...
    uint32_t failed_but_seen = 500;       // ...though the stack got the frame
    uint32_t inline_answer = 100;         // answered on the sending thread before the send returns
    uint32_t inline_after_failure = 500;  // the same, for a failed send the stack got
    uint32_t slow_send = 50;              // the send blocks a little after handing over the frame
    uint32_t duplicate = 60;              // the answer comes twice
    uint32_t late = 120;                  // the answer comes some frames later, out of order
    uint32_t hold = 5;                    // the answer is held back until the drain
    uint32_t stray = 60;                  // an unrelated message follows a frame
    uint32_t stall = 3;                   // the stack stops answering for a while (per 10000 frames)
};

struct StackFigures {
    std::atomic<uint64_t> frames{0};
    std::atomic<uint64_t> send_failures{0};
    std::atomic<uint64_t> failed_but_seen{0};
    std::atomic<uint64_t> inline_answers{0};
    std::atomic<uint64_t> slow_sends{0};
    std::atomic<uint64_t> delivered{0}; // every message handed to the module
    std::atomic<uint64_t> duplicates{0};
    std::atomic<uint64_t> late{0};
    std::atomic<uint64_t> held{0};
    std::atomic<uint64_t> stalls{0};
    std::atomic<uint64_t> stalled_answers{0};
    std::atomic<uint64_t> strays{0};
    std::atomic<uint64_t> refused_by_module{0};
    std::atomic<uint64_t> unknown_delivered{0};
};

class Stack {
public:
    Stack(zol_stress_deliver_fn deliver_fn, uint64_t seed, Faults faults);
    ~Stack();
    Stack(const Stack &) = delete;
    Stack &operator=(const Stack &) = delete;

    // One send of the module, on its host thread; rng is that thread's.
    // Returns the send's result.
    int on_send(const uint8_t *frame, int32_t length, Rng &rng);

    // A new round: at least one stall somewhere in its first few hundred frames.
    void begin_round();

    // After the host threads have stopped: answers everything still held back,
    // then sends a message no handler serves. Returns how many such messages
    // the module has queued so far; once the module has processed that many,
    // every answer has been handled.
    uint64_t drain();

    const StackFigures &figures() const { return figures_; }
    // Whether the stack is holding every answer back just now.
    bool stalled() const { return stalled_.load(std::memory_order_relaxed); }
    // Whether the caller is the stack's reader thread, which only delivers frames.
    static bool on_reader_thread();

private:
    enum class Kind { frame, round, drain, stop };
    struct Item {
        Kind kind;
        Frame frame;
    };
    struct Late {
        uint64_t due;
        Frame frame;
    };

    void push(Item item);
    void run();
    void handle(const Frame &frame);
    void dispose(Frame answer);
    void release(std::vector<Frame> &pool);
    void release_due();
    void deliver(const Frame &frame);

    const zol_stress_deliver_fn deliver_;
    const Faults faults_;
    StackFigures figures_;

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Item> inbox_;
    uint64_t drains_done_ = 0;

    // Reader thread only.
    Rng rng_;
    uint64_t tick_ = 0;
    uint64_t stall_at_ = 0;
    uint64_t stall_left_ = 0;
    std::atomic<bool> stalled_{false};
    std::vector<Late> late_;
    std::vector<Frame> stalled_answers_;
    std::vector<Frame> held_;

    std::thread reader_;
};

} // namespace zol_stress

#endif // ZOL_STRESS_STACK_H
