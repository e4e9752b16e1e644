// One clock and one time format for everything the stand-ins print, so that the
// host's console, the radio log and the stack's trace can be merged by time.
//
// ZOL_CLOCK (environment) or the tools' --clock option picks the clock:
//   "wall"       (default) CLOCK_REALTIME, printed as logcat does: "MM-DD HH:MM:SS.mmm"
//   "monotonic"  CLOCK_MONOTONIC, seconds since boot: "12345.678901"
// Every process on a machine that uses the same clock prints comparable stamps.
#ifndef ZOL_SIM_TIMESTAMP_H
#define ZOL_SIM_TIMESTAMP_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace zol_sim {

enum class Clock { wall, monotonic };

// Parses an option or environment value; false for anything else.
inline bool parse_clock(const char *text, Clock &out)
{
    if (text == nullptr)
        return false;
    if (std::strcmp(text, "wall") == 0) {
        out = Clock::wall;
        return true;
    }
    if (std::strcmp(text, "monotonic") == 0) {
        out = Clock::monotonic;
        return true;
    }
    return false;
}

// The clock named by ZOL_CLOCK, wall when it is unset or not a clock name.
inline Clock clock_from_env()
{
    Clock c = Clock::wall;
    (void)parse_clock(std::getenv("ZOL_CLOCK"), c);
    return c;
}

inline std::string timestamp(Clock c)
{
    timespec ts{};
    char buf[48];
    if (c == Clock::monotonic) {
        clock_gettime(CLOCK_MONOTONIC, &ts);
        std::snprintf(buf, sizeof buf, "%lld.%06ld", static_cast<long long>(ts.tv_sec),
                      ts.tv_nsec / 1000);
        return buf;
    }
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    size_t n = std::strftime(buf, sizeof buf, "%m-%d %H:%M:%S", &local);
    std::snprintf(buf + n, sizeof buf - n, ".%03ld", ts.tv_nsec / 1000000);
    return buf;
}

} // namespace zol_sim

#endif
