#include "timer.h"

namespace zol_host {

TimerThread::TimerThread() : thread_([this] { loop(); }) {}

TimerThread::~TimerThread()
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        stopping_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void TimerThread::schedule(Clock::duration delay, Callback callback, void *param)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        queue_.push({Clock::now() + delay, next_order_++, callback, param});
    }
    cv_.notify_all();
}

size_t TimerThread::pending()
{
    std::lock_guard<std::mutex> lock(mu_);
    return queue_.size();
}

void TimerThread::loop()
{
    std::unique_lock<std::mutex> lock(mu_);
    while (!stopping_) {
        if (queue_.empty()) {
            cv_.wait(lock);
            continue;
        }
        const Entry next = queue_.top();
        if (Clock::now() < next.due) {
            // Woken early by a new timer that may be due sooner, or by stop.
            cv_.wait_until(lock, next.due);
            continue;
        }
        queue_.pop();
        // Unlocked: the callback may schedule the next timer.
        lock.unlock();
        if (next.callback != nullptr) {
            next.callback(next.param);
        }
        lock.lock();
    }
}

} // namespace zol_host
