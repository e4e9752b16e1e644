#include "imsd_harness.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "frame.h"

#ifndef ZOL_IMSD_PATH
#error "ZOL_IMSD_PATH names the zol-imsd executable"
#endif

extern char **environ;

namespace zol::imsd::testing {

using Clock = std::chrono::steady_clock;

bool wait_until(const std::function<bool()> &cond, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!cond()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

Bytes frame_bytes(int32_t token, uint16_t message, const Bytes &payload)
{
    return encode_frame(Frame{token, message, payload});
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/zol-imsd-test.XXXXXX";
    path = mkdtemp(tmpl) != nullptr ? tmpl : "";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

Client::Client(const std::string &path, int type)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    fd_ = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

Client::~Client()
{
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool Client::send(const Bytes &bytes)
{
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::optional<Bytes> Client::receive(milliseconds timeout)
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    Bytes buf(128 * 1024);
    const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

Bytes Client::read_exactly(size_t n, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    Bytes out;
    while (out.size() < n) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        uint8_t buf[4096];
        const ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

std::vector<std::string> Client::reply()
{
    std::vector<std::string> lines;
    for (;;) {
        for (size_t nl; (nl = lines_.find('\n')) != std::string::npos;) {
            lines.push_back(lines_.substr(0, nl));
            lines_.erase(0, nl + 1);
            const std::string &l = lines.back();
            if (l == "ok" || l == "error" || l.rfind("ok ", 0) == 0 || l.rfind("error ", 0) == 0) {
                return lines;
            }
        }
        const std::optional<Bytes> more = receive();
        if (!more || more->empty()) {
            return {};
        }
        lines_.append(more->begin(), more->end());
    }
}

std::vector<std::string> Client::command(const std::string &line)
{
    return send(line + "\n") ? reply() : std::vector<std::string>{};
}

bool frame_arrives(Client &data, int32_t token, uint16_t message, milliseconds timeout)
{
    const auto packet = data.receive(timeout);
    return packet && packet->size() >= kFrameHeaderLen &&
           std::equal(packet->begin(), packet->begin() + 7, frame_bytes(token, message).begin());
}

Process::Process(std::vector<std::string> args, std::string out_path)
    : out_path_(std::move(out_path))
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process()
{
    if (stop() < 0 && signal(SIGKILL)) {
        waitpid(pid_, nullptr, 0);
    }
}

bool Process::signal(int sig)
{
    return running() && kill(pid_, sig) == 0;
}

int Process::wait_exit(milliseconds timeout)
{
    int status = 0;
    if (!running() ||
        !wait_until([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Process::stop()
{
    return signal(SIGTERM) ? wait_exit() : -1;
}

std::string Process::output() const
{
    std::ostringstream s;
    s << std::ifstream(out_path_).rdbuf();
    return s.str();
}

bool Process::wait_output(const std::string &text, milliseconds timeout) const
{
    return wait_until([&] { return output().find(text) != std::string::npos; }, timeout);
}

std::pair<int, std::string> run(std::vector<std::string> args, const std::string &out_path)
{
    Process p(std::move(args), out_path);
    const int status = p.wait_exit();
    return {status, p.output()};
}

Imsd::Imsd(const std::string &dir)
    : data_path(dir + "/data.sock"), control_path(dir + "/control.sock"), dir_(dir)
{
}

bool Imsd::start(std::vector<std::string> extra_args, bool wait)
{
    // Quiet on connect, so that tests count exactly the frames they cause; a later
    // --connect-status on in `extra_args` wins.
    std::vector<std::string> args = {ZOL_IMSD_PATH, "--socket",         data_path, "--control",
                                     control_path,  "--connect-status", "off"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    process_.reset();
    process_.emplace(args, dir_ + "/imsd-" + std::to_string(++runs_) + ".out");
    // Ready once the control socket answers; the data socket is bound before it.
    return process_->running() &&
           (!wait || wait_until([&] { return Client(control_path, SOCK_STREAM).ok(); }));
}

std::string Imsd::final_line(const std::string &command)
{
    const std::vector<std::string> reply = Client(control_path, SOCK_STREAM).command(command);
    return reply.empty() ? std::string("(no reply)") : reply.back();
}

std::string Imsd::output() const
{
    // Either clock's stamp: "MM-DD HH:MM:SS.mmm " or "SECONDS.micros ".
    static const std::regex stamp(R"(^(\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}|\d+\.\d{6}) )",
                                  std::regex::multiline);
    return std::regex_replace(process_ ? process_->output() : std::string(), stamp, "");
}

bool Imsd::wait_output(const std::string &text) const
{
    return wait_until([&] { return output().find(text) != std::string::npos; });
}

bool Imsd::wait_status(const std::string &text)
{
    return wait_until([&] { return final_line("status").find(text) != std::string::npos; });
}

} // namespace zol::imsd::testing
