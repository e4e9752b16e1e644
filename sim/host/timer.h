// The timer behind RIL_Env::RequestTimedCallback: one thread that runs each
// callback once when it is due, earliest first.
#ifndef ZOL_HOST_TIMER_H
#define ZOL_HOST_TIMER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace zol_host {

class TimerThread {
public:
    using Callback = void (*)(void *param);
    using Clock = std::chrono::steady_clock;

    TimerThread();
    // Drops what is still pending; a callback that is running finishes first.
    ~TimerThread();
    TimerThread(const TimerThread &) = delete;
    TimerThread &operator=(const TimerThread &) = delete;

    // Callable from any thread, also from inside a callback.
    void schedule(Clock::duration delay, Callback callback, void *param);
    size_t pending();

private:
    struct Entry {
        Clock::time_point due;
        uint64_t order; // keeps callbacks with the same due time in arrival order
        Callback callback;
        void *param;
    };
    struct Later {
        bool operator()(const Entry &a, const Entry &b) const
        {
            return a.due != b.due ? a.due > b.due : a.order > b.order;
        }
    };

    void loop();

    std::mutex mu_;
    std::condition_variable cv_;
    std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
    uint64_t next_order_ = 0;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything above exists
};

} // namespace zol_host

#endif
