// Core functions shared between the core's source files only.
#ifndef ZOL_CORE_INTERNAL_H
#define ZOL_CORE_INTERNAL_H

namespace zol {

// Drops every pending timer and restarts timer ids at 0.
void timers_reset();

} // namespace zol

#endif // ZOL_CORE_INTERNAL_H
