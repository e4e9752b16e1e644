// What the stand-ins' tests share: programs run as processes with their output
// kept, Unix-socket clients, and zol-imsd started and talked to as the agent and
// a control client would. Every wait is bounded.
#ifndef ZOL_IMSD_HARNESS_H
#define ZOL_IMSD_HARNESS_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zol::imsd::testing {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Generous enough for sanitizer builds on a loaded machine.
inline constexpr milliseconds kWait{10000};

bool wait_until(const std::function<bool()> &cond, milliseconds timeout = kWait);
Bytes frame_bytes(int32_t token, uint16_t message, const Bytes &payload = {});

// A fresh directory under /tmp (short enough for socket paths), removed with its files.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
};

// A program running with standard output and error going to `out_path`;
// stopped (SIGTERM, then SIGKILL) when it goes.
class Process {
public:
    Process(std::vector<std::string> args, std::string out_path);
    ~Process();
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    bool running() const { return pid_ > 0; }
    bool signal(int sig);
    // The exit status once it exits by itself (128 + signal when killed); -1 if it
    // is still running after `timeout`.
    int wait_exit(milliseconds timeout = kWait);
    int stop();
    std::string output() const;
    bool wait_output(const std::string &text, milliseconds timeout = kWait) const;

private:
    pid_t pid_ = -1;
    std::string out_path_;
};

// Runs a program to its end; its exit status and output.
std::pair<int, std::string> run(std::vector<std::string> args, const std::string &out_path);

// A connected Unix socket: SOCK_STREAM for control, SOCK_SEQPACKET for data.
class Client {
public:
    Client(const std::string &path, int type);
    ~Client();
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool send(const std::string &text) { return send(Bytes(text.begin(), text.end())); }
    bool send(const Bytes &bytes);
    // One packet (a stream: what is there), empty once the connection ended; nullopt on timeout.
    std::optional<Bytes> receive(milliseconds timeout = kWait);
    // A stream: exactly n bytes, fewer when the connection ends or time runs out.
    Bytes read_exactly(size_t n, milliseconds timeout = kWait);
    // Control: the lines of one reply, up to the final ok/error line; empty on timeout.
    std::vector<std::string> reply();
    std::vector<std::string> command(const std::string &line);

private:
    int fd_ = -1;
    std::string lines_;
};

// The next packet on `data` is a frame of `message` with this token id.
bool frame_arrives(Client &data, int32_t token, uint16_t message, milliseconds timeout = kWait);

class Imsd {
public:
    // Sockets and trace files live in `dir`.
    explicit Imsd(const std::string &dir);

    // With `wait`, returns once the control socket answers. The run status is not
    // sent on connect unless `extra_args` asks for it.
    bool start(std::vector<std::string> extra_args = {}, bool wait = true);
    int stop() { return process_ ? process_->stop() : -1; }
    bool signal(int sig) { return process_ && process_->signal(sig); }
    int wait_exit() { return process_ ? process_->wait_exit() : -1; }

    std::string final_line(const std::string &command);
    // Standard output of the current run, without the trace lines' time stamps.
    std::string output() const;
    bool wait_output(const std::string &text) const;
    bool wait_status(const std::string &text); // until `status` contains the text

    const std::string data_path;
    const std::string control_path;

private:
    std::string dir_;
    int runs_ = 0;
    std::optional<Process> process_;
};

} // namespace zol::imsd::testing

#endif
