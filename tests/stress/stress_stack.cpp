#include "stress_stack.h"

#include <algorithm>
#include <chrono>

namespace zol_stress {

namespace {
thread_local bool t_reader = false;
} // namespace

bool Stack::on_reader_thread()
{
    return t_reader;
}

Stack::Stack(zol_stress_deliver_fn deliver_fn, uint64_t seed, Faults faults)
    : deliver_(deliver_fn), faults_(faults), rng_(seed)
{
    reader_ = std::thread([this] { run(); });
}

Stack::~Stack()
{
    push({Kind::stop, {}});
    reader_.join();
}

int Stack::on_send(const uint8_t *frame, int32_t length, Rng &rng)
{
    figures_.frames.fetch_add(1);
    const bool fail = rng.permille(faults_.send_fail);
    const bool seen = !fail || rng.permille(faults_.failed_but_seen);
    if (fail) {
        figures_.send_failures.fetch_add(1);
        if (seen) {
            figures_.failed_but_seen.fetch_add(1);
        }
    }
    if (seen) {
        // A failed send the stack got anyway is the race that matters most:
        // its answer then often beats the handler's failure reply.
        if (rng.permille(fail ? faults_.inline_after_failure : faults_.inline_answer)) {
            // The answer overtakes the send: the event thread may handle it
            // while the request's handler is still inside this call.
            figures_.inline_answers.fetch_add(1);
            for (const Frame &a : answers_for(frame, static_cast<size_t>(length), rng)) {
                deliver(a);
            }
        } else {
            push({Kind::frame, Frame(frame, frame + length)});
        }
    }
    if (rng.permille(faults_.slow_send)) {
        figures_.slow_sends.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(20 + rng.below(200)));
    }
    return fail ? -1 : 0;
}

void Stack::begin_round()
{
    push({Kind::round, {}});
}

uint64_t Stack::drain()
{
    std::unique_lock<std::mutex> lock(mu_);
    const uint64_t target = drains_done_ + 1;
    inbox_.push_back({Kind::drain, {}});
    cv_.notify_all();
    cv_.wait(lock, [&] { return drains_done_ >= target; });
    return figures_.unknown_delivered.load();
}

void Stack::push(Item item)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        inbox_.push_back(std::move(item));
    }
    cv_.notify_all();
}

void Stack::run()
{
    t_reader = true;
    for (;;) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(mu_);
            cv_.wait(lock, [&] { return !inbox_.empty(); });
            item = std::move(inbox_.front());
            inbox_.pop_front();
        }
        switch (item.kind) {
        case Kind::frame:
            handle(item.frame);
            break;
        case Kind::round:
            stall_at_ = tick_ + 50 + rng_.below(350);
            break;
        case Kind::drain: {
            std::vector<Frame> all = std::move(held_);
            held_.clear();
            for (Late &l : late_) {
                all.push_back(std::move(l.frame));
            }
            late_.clear();
            for (Frame &f : stalled_answers_) {
                all.push_back(std::move(f));
            }
            stalled_answers_.clear();
            stall_left_ = 0;
            stalled_.store(false);
            release(all);
            deliver(make_frame(kUnknownMessage, 0xFFFF, {}));
            {
                std::lock_guard<std::mutex> lock(mu_);
                ++drains_done_;
            }
            cv_.notify_all();
            break;
        }
        case Kind::stop:
            return;
        }
    }
}

void Stack::handle(const Frame &frame)
{
    ++tick_;
    release_due();
    if (stall_left_ == 0 && (tick_ == stall_at_ || rng_.below(10000) < faults_.stall)) {
        figures_.stalls.fetch_add(1);
        stall_left_ = 60 + rng_.below(140);
        stalled_.store(true);
    }
    for (Frame &a : answers_for(frame.data(), frame.size(), rng_)) {
        dispose(std::move(a));
    }
    if (rng_.permille(faults_.stray)) {
        figures_.strays.fetch_add(1);
        deliver(stray_frame(rng_));
    }
    if (stall_left_ > 0 && --stall_left_ == 0) {
        stalled_.store(false);
        release(stalled_answers_);
    }
}

void Stack::dispose(Frame answer)
{
    if (stall_left_ > 0) {
        figures_.stalled_answers.fetch_add(1);
        stalled_answers_.push_back(std::move(answer));
        return;
    }
    uint32_t r = rng_.below(1000);
    if (r < faults_.hold) {
        figures_.held.fetch_add(1);
        held_.push_back(std::move(answer));
        return;
    }
    r -= faults_.hold;
    if (r < faults_.duplicate) {
        figures_.duplicates.fetch_add(1);
        deliver(answer);
        late_.push_back({tick_ + 1 + rng_.below(30), std::move(answer)});
        return;
    }
    r -= faults_.duplicate;
    if (r < faults_.late) {
        figures_.late.fetch_add(1);
        late_.push_back({tick_ + 1 + rng_.below(40), std::move(answer)});
        return;
    }
    deliver(answer);
}

void Stack::release(std::vector<Frame> &pool)
{
    // Out of order: the stack owes no order between held-back answers.
    for (size_t i = pool.size(); i > 1; --i) {
        std::swap(pool[i - 1], pool[rng_.below(static_cast<uint32_t>(i))]);
    }
    for (const Frame &f : pool) {
        deliver(f);
    }
    pool.clear();
}

void Stack::release_due()
{
    std::vector<Frame> due;
    auto it = std::partition(late_.begin(), late_.end(), [&](const Late &l) { return l.due > tick_; });
    for (auto i = it; i != late_.end(); ++i) {
        due.push_back(std::move(i->frame));
    }
    late_.erase(it, late_.end());
    release(due);
}

void Stack::deliver(const Frame &frame)
{
    figures_.delivered.fetch_add(1);
    const int rc = deliver_(frame.data(), static_cast<int32_t>(frame.size()));
    if (rc != 0) {
        figures_.refused_by_module.fetch_add(1);
    } else if (is_unknown_message(frame)) {
        figures_.unknown_delivered.fetch_add(1);
    }
}

} // namespace zol_stress
