// --json: one JSON object a line for every request the host sends, every
// completion (with its decoded data) and every unsolicited response, for
// scripts. Times are those of the console and the radio log.
#ifndef ZOL_HOST_JSON_LOG_H
#define ZOL_HOST_JSON_LOG_H

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "decode.h"
#include "timestamp.h"

namespace zol_host {

struct Completion;
struct Unsolicited;

// A JSON string literal: quotes, backslashes and control characters escaped;
// bytes that are not UTF-8 as \u00XX.
std::string json_string(const std::string &text);
std::string json_text(const std::optional<std::string> &text); // null for nothing
// The data a completion or unsolicited response carried, or null.
std::string json_data(const Decoded &d);

class JsonLog {
public:
    JsonLog(FILE *file, zol_sim::Clock clock) : file_(file), clock_(clock) {}

    void request(int serial, int request, size_t length);
    void completion(const Completion &c);
    void unsolicited(const Unsolicited &u);

private:
    void write(const std::string &event, const std::string &fields);

    std::mutex mu_;
    FILE *file_;
    zol_sim::Clock clock_;
};

} // namespace zol_host

#endif
