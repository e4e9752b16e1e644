// Where the host's own lines go. Completions, unsolicited responses and the
// scenario's steps come from different threads; each line is written whole.
// With a clock set, every line starts with a timestamp of that clock, as the
// radio log and the stack's trace do, so that the three can be merged.
#ifndef ZOL_HOST_OUTPUT_H
#define ZOL_HOST_OUTPUT_H

#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "timestamp.h"

namespace zol_host {

// Control characters as \xNN, so that nothing a user typed or a peer sent
// moves the cursor or rings the terminal. Tabs stay.
inline std::string escape_controls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

class Output {
public:
    explicit Output(std::ostream &out) : out_(out) {}

    void stamp_with(zol_sim::Clock clock)
    {
        std::lock_guard<std::mutex> lock(mu_);
        clock_ = clock;
    }

    void line(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(mu_);
        write_locked(prefix_locked(), text);
        out_.flush();
    }

    // Text without a line end, such as a prompt.
    void partial(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(mu_);
        out_ << escape_controls(text);
        out_.flush();
    }

    // A headline and its indented detail lines, kept together.
    void block(const std::string &head, const std::vector<std::string> &details)
    {
        std::lock_guard<std::mutex> lock(mu_);
        const std::string prefix = prefix_locked();
        write_locked(prefix, head);
        for (const std::string &d : details) {
            write_locked(prefix, "    " + d);
        }
        out_.flush();
    }

private:
    std::string prefix_locked() const
    {
        return clock_ ? zol_sim::timestamp(*clock_) + " " : std::string();
    }
    void write_locked(const std::string &prefix, std::string_view text)
    {
        out_ << prefix << escape_controls(text) << '\n';
    }

    std::mutex mu_;
    std::ostream &out_;
    std::optional<zol_sim::Clock> clock_;
};

} // namespace zol_host

#endif
