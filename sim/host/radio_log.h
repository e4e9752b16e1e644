// The module's log lines, made visible: the Android log library on Linux drops
// debug lines and writes to stderr unless a host installs its own logger.
#ifndef ZOL_HOST_RADIO_LOG_H
#define ZOL_HOST_RADIO_LOG_H

#include <optional>
#include <string>

#include "timestamp.h"

namespace zol_host {

enum class LogFormat {
    Plain,      // "<time> radio D IMS-ref-zol: <text>"
    ThreadTime, // logcat's threadtime: "<time>  <pid>  <tid> D IMS-ref-zol: <text>"
};

struct LogLineOrigin {
    int buffer_id = -1;
    int priority = 0;
    const char *tag = nullptr;
    long pid = 0;
    long tid = 0;
};

// One line, with one trailing newline of the text dropped; no time when the
// stamp is empty.
std::string format_log_line(LogFormat format, const std::string &stamp, const LogLineOrigin &o,
                            const char *text);

struct RadioLogOptions {
    std::string target = "-"; // a file name, "-" for stderr, or "none"
    LogFormat format = LogFormat::Plain;
    std::optional<zol_sim::Clock> clock = zol_sim::Clock::wall; // nothing: no time
};

// Returns false (with the reason in error) when the file cannot be opened.
bool install_radio_log(const RadioLogOptions &options, std::string &error);

// "plain" or "threadtime".
std::optional<LogFormat> parse_log_format(const std::string &text);

} // namespace zol_host

#endif
