#include "timers.h"

#include <algorithm>

#include "messages.h"

namespace zol::imsd {

uint64_t TimerQueue::at(int64_t due, TimerAction action)
{
    const uint64_t id = next_id_++;
    queue_.emplace(std::make_pair(std::max(due, now_), id), std::move(action));
    return id;
}

bool TimerQueue::cancel(uint64_t id)
{
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->first.second == id) {
            queue_.erase(it);
            return true;
        }
    }
    return false;
}

std::optional<int64_t> TimerQueue::next_due() const
{
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.begin()->first.first;
}

TimerAction TimerQueue::pop_due(int64_t until)
{
    if (queue_.empty() || queue_.begin()->first.first > until) {
        now_ = std::max(now_, until);
        return {};
    }
    auto node = queue_.extract(queue_.begin());
    now_ = std::max(now_, node.key().first);
    return std::move(node.mapped());
}

std::vector<Frame> run_due_timers(Model &model, TimerQueue &timers, int64_t until,
                                  std::vector<std::string> *notes)
{
    std::vector<Frame> out;
    while (TimerAction action = timers.pop_due(until)) {
        Context ctx(model, &timers);
        action(ctx);
        std::move(ctx.outgoing.begin(), ctx.outgoing.end(), std::back_inserter(out));
        if (notes != nullptr) {
            std::move(ctx.notes.begin(), ctx.notes.end(), std::back_inserter(*notes));
        }
    }
    return out;
}

} // namespace zol::imsd
