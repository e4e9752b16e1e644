#include "imsd_control.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zol_host {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string first_word(std::string_view line)
{
    const size_t end = line.find_first_of(" \t:");
    return std::string(line.substr(0, end));
}

std::string errno_text(const char *what)
{
    const int err = errno; // before building the text can change it
    return std::string(what) + ": " + strerror(err);
}

} // namespace

bool ControlReply::ok() const
{
    return failure.empty() && first_word(final_line) == "ok";
}

bool is_final_line(std::string_view line)
{
    const std::string word = first_word(line);
    return word == "ok" || word == "error";
}

ControlReply control_exchange(const std::string &socket_path, const std::string &command,
                              std::chrono::milliseconds timeout)
{
    ControlReply reply;
    const auto deadline = std::chrono::steady_clock::now() + timeout;

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socket_path.empty() || socket_path.size() >= sizeof addr.sun_path) {
        reply.failure = "control socket path is empty or too long: " + socket_path;
        return reply;
    }
    if (command.find('\n') != std::string::npos) {
        reply.failure = "a control command is one line";
        return reply;
    }
    memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);

    Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        reply.failure = errno_text("socket");
        return reply;
    }
    if (connect(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        const int err = errno; // before building the text can change it
        reply.failure = "cannot reach zol-imsd at " + socket_path + ": " + strerror(err);
        return reply;
    }

    const std::string out = command + "\n";
    for (size_t sent = 0; sent < out.size();) {
        // No SIGPIPE when the stack has gone away: that is an error reply here.
        const ssize_t n = ::send(fd.get(), out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            reply.failure = errno_text("send");
            return reply;
        }
        sent += static_cast<size_t>(n);
    }

    std::string pending;
    for (;;) {
        size_t eol;
        while ((eol = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, eol);
            pending.erase(0, eol + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (is_final_line(line)) {
                reply.final_line = std::move(line);
                return reply;
            }
            reply.lines.push_back(std::move(line));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            reply.failure =
                "no final line from zol-imsd within " + std::to_string(timeout.count()) + " ms";
            return reply;
        }
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            reply.failure = errno_text("poll");
            return reply;
        }
        if (ready <= 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = recv(fd.get(), buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            reply.failure = errno_text("recv");
            return reply;
        }
        if (n == 0) {
            // A last line without its newline still counts.
            if (is_final_line(pending)) {
                reply.final_line = pending;
                return reply;
            }
            reply.failure = "zol-imsd closed the connection before its final line";
            return reply;
        }
        pending.append(buf, static_cast<size_t>(n));
    }
}

} // namespace zol_host
