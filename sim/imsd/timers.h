// Delayed actions of the stack: a time-ordered queue that the poll loop drives.
// The queue keeps the current time itself and only moves it when told to, so a
// test steps through a call's life without sleeping.
#ifndef ZOL_IMSD_TIMERS_H
#define ZOL_IMSD_TIMERS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame.h"

namespace zol::imsd {

class Context;
struct Model;

// Runs with a Context of its own; the frames it emits go out when it runs.
using TimerAction = std::function<void(Context &)>;

class TimerQueue {
public:
    // Milliseconds on the owner's clock.
    int64_t now() const { return now_; }
    // Returns an id (never 0) for cancel(). Actions due at the same time run in
    // the order they were added.
    uint64_t at(int64_t due, TimerAction action);
    bool cancel(uint64_t id);
    std::optional<int64_t> next_due() const;
    size_t size() const { return queue_.size(); }
    bool empty() const { return queue_.empty(); }
    // Drops every action; the clock stays where it is.
    void clear() { queue_.clear(); }

    // Removes the earliest action due at or before `until`, moving the clock to
    // its due time; with none due, moves the clock to `until` and returns an
    // empty action. The clock never goes back.
    TimerAction pop_due(int64_t until);

private:
    int64_t now_ = 0;
    uint64_t next_id_ = 1;
    std::map<std::pair<int64_t, uint64_t>, TimerAction> queue_;
};

// Runs every action due by `until`, including those that the actions themselves
// schedule within that time, and returns their frames in order. Trace lines the
// actions leave go to `notes` when given.
std::vector<Frame> run_due_timers(Model &model, TimerQueue &timers, int64_t until,
                                  std::vector<std::string> *notes = nullptr);

} // namespace zol::imsd

#endif
