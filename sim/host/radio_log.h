// The module's log lines, made visible: the Android log library on Linux drops
// debug lines and writes to stderr unless a host installs its own logger.
#ifndef ZOL_HOST_RADIO_LOG_H
#define ZOL_HOST_RADIO_LOG_H

#include <string>

namespace zol_host {

// "radio D IMS-ref-zol: <text>", with one trailing newline of the text dropped.
std::string format_log_line(int buffer_id, int priority, const char *tag, const char *text);

// target: a file name, "-" for stderr, or "none". Returns false (with the
// reason in error) when the file cannot be opened.
bool install_radio_log(const std::string &target, std::string &error);

} // namespace zol_host

#endif
