// Logging helpers used throughout the module: every line is formatted into a
// 512-byte stack buffer and written at one of the five levels.
#ifndef ZOL_DIAG_H
#define ZOL_DIAG_H

#include "zol/zol_log.h"

namespace zol {

// Whether a line of this level would reach the log at all: the module writes
// the level and the log library lets its priority through. Lets callers skip
// formatting lines that would be dropped.
bool log_level_enabled(unsigned level);

// Reports a failed precondition (three lines at level 1) and returns ok, so
// callers can write `if (!check(p != nullptr, "p != ((void *)0)")) return;`.
inline bool check(bool ok, const char *cond_text)
{
    if (!ok) {
        zol_log_assert_failed(cond_text);
    }
    return ok;
}

} // namespace zol

#define ZOL_LOG(level, ...)                                                                        \
    do {                                                                                           \
        if (::zol::log_level_enabled(level)) {                                                     \
            char zol_log_line_[ZOL_LOG_BUF_SIZE];                                                  \
            zol_format_log_msg(zol_log_line_, ZOL_LOG_BUF_SIZE, __VA_ARGS__);                      \
            zol_log_msg_to_adb((level), zol_log_line_);                                            \
        }                                                                                          \
    } while (0)

// The assertion text of a null-pointer check, as the module has always printed it.
#define ZOL_NOT_NULL(ptr, name) ::zol::check((ptr) != nullptr, name " != ((void *)0)")

// "<file> - <function>() - L<line> " marks a position in the trace.
#define ZOL_LOG_POSITION(level) ZOL_LOG(level, "%s - %s() - L%d ", __FILE__, __func__, __LINE__)

#endif // ZOL_DIAG_H
