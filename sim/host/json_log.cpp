#include "json_log.h"

#include "host.h"
#include "names.h"

namespace zol_host {
namespace {

// The length of a well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_length(const std::string &s, size_t i)
{
    const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b0 = b(i);
    const size_t len = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
    if (len == 0 || i + len > s.size() || (b0 >= 0x80 && b0 < 0xC2)) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return len;
}

std::string field(const char *key, const std::string &value)
{
    return std::string(",\"") + key + "\":" + value;
}

std::string field(const char *key, long long value)
{
    return field(key, std::to_string(value));
}

} // namespace

std::string json_string(const std::string &text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto u = static_cast<uint8_t>(text[i]);
        if (u >= 0x80) {
            if (const size_t len = utf8_length(text, i)) {
                out.append(text, i, len);
                i += len;
                continue;
            }
        }
        char esc[8];
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u < 0x20 || u >= 0x7f) {
            snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += static_cast<char>(u);
        }
        ++i;
    }
    return out + "\"";
}

std::string json_text(const std::optional<std::string> &text)
{
    return text ? json_string(*text) : "null";
}

std::string json_data(const Decoded &d)
{
    std::string out;
    const auto list = [&](const char *key, const auto &items, const auto &one) {
        out = std::string("{\"") + key + "\":[";
        for (size_t i = 0; i < items.size(); ++i) {
            // Appended, not "," + item: GCC 12 warns (-Wrestrict) about that insert.
            if (i != 0) {
                out += ',';
            }
            out += one(items[i]);
        }
        out += "]}";
    };
    if (d.calls) {
        list("calls", *d.calls, [](const CallInfo &c) {
            return "{\"index\":" + std::to_string(c.index) + field("state", c.state) +
                   field("number", json_text(c.number)) + field("toa", c.toa) +
                   field("mpty", c.mpty) + field("mt", c.mt) + field("voice", c.voice) +
                   field("calltype", c.call_type) + field("attr", c.call_attribute) +
                   field("text", json_text(c.extra_text)) + "}";
        });
    } else if (d.ints) {
        list("ints", *d.ints, [](int v) { return std::to_string(v); });
    } else if (d.strings) {
        list("strings", *d.strings,
             [](const std::optional<std::string> &t) { return json_text(t); });
    } else if (d.forwards) {
        list("forwardings", *d.forwards, [](const ForwardInfo &f) {
            return "{\"status\":" + std::to_string(f.status) + field("reason", f.reason) +
                   field("class", f.service_class) + field("toa", f.toa) +
                   field("number", json_text(f.number)) + field("time", f.time) +
                   field("interval", json_text(f.interval)) + "}";
        });
    } else if (d.sms) {
        out = "{\"sms\":{\"ref\":" + std::to_string(d.sms->ref) +
              field("ack", json_text(d.sms->ack)) + field("error", d.sms->error) + "}}";
    } else if (d.supp) {
        out = "{\"notification\":{\"type\":" + std::to_string(d.supp->type) +
              field("code", d.supp->code) + field("index", d.supp->index) +
              field("toa", d.supp->toa) + field("number", json_text(d.supp->number)) + "}}";
    } else if (!d.details.empty()) {
        // Data of no known shape: the hex dump, without its blanks.
        std::string hex;
        for (const std::string &row : d.details) {
            for (const char c : row) {
                if (c != ' ') {
                    hex += c;
                }
            }
        }
        out = "{\"bytes\":" + json_string(hex) + "}";
    } else {
        out = "null";
    }
    return out;
}

void JsonLog::write(const std::string &event, const std::string &fields)
{
    const std::string line = "{\"time\":" + json_string(zol_sim::timestamp(clock_)) +
                             field("event", json_string(event)) + fields + "}\n";
    std::lock_guard<std::mutex> lock(mu_);
    fputs(line.c_str(), file_);
    fflush(file_);
}

void JsonLog::request(int serial, int request, size_t length)
{
    write("request", field("serial", serial) + field("request", request) +
                         field("name", json_string(request_name(request))) +
                         field("length", static_cast<long long>(length)));
}

void JsonLog::completion(const Completion &c)
{
    std::string f = field("serial", c.serial) + field("request", c.request) +
                    field("name", json_string(request_name(c.request))) + field("error", c.error) +
                    field("error_name", json_string(errno_name(c.error))) +
                    field("length", static_cast<long long>(c.length)) +
                    field("data", json_data(c.decoded));
    if (!c.decoded.problem.empty()) {
        f += field("problem", json_string(c.decoded.problem));
    }
    write("completion", f);
}

void JsonLog::unsolicited(const Unsolicited &u)
{
    std::string f = field("number", u.number) + field("name", json_string(unsol_name(u.number))) +
                    field("length", static_cast<long long>(u.length)) +
                    field("data", json_data(u.decoded));
    if (!u.decoded.problem.empty()) {
        f += field("problem", json_string(u.decoded.problem));
    }
    write("unsolicited", f);
}

} // namespace zol_host
