// Where the host's own lines go. Completions, unsolicited responses and the
// scenario's steps come from different threads; each line is written whole.
#ifndef ZOL_HOST_OUTPUT_H
#define ZOL_HOST_OUTPUT_H

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace zol_host {

class Output {
public:
    explicit Output(std::ostream &out) : out_(out) {}

    void line(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(mu_);
        out_ << text << '\n';
        out_.flush();
    }

    // Text without a line end, such as a prompt.
    void partial(const std::string &text)
    {
        std::lock_guard<std::mutex> lock(mu_);
        out_ << text;
        out_.flush();
    }

    // A headline and its indented detail lines, kept together.
    void block(const std::string &head, const std::vector<std::string> &details)
    {
        std::lock_guard<std::mutex> lock(mu_);
        out_ << head << '\n';
        for (const std::string &d : details) {
            out_ << "    " << d << '\n';
        }
        out_.flush();
    }

private:
    std::mutex mu_;
    std::ostream &out_;
};

} // namespace zol_host

#endif
