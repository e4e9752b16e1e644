// Timer functions for the module's own start-up only.
#ifndef ZOL_TIMER_INTERNAL_H
#define ZOL_TIMER_INTERNAL_H

namespace zol {

// Drops every pending timer and restarts timer ids at 0.
void timers_reset();

} // namespace zol

#endif // ZOL_TIMER_INTERNAL_H
