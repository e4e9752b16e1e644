#include "server.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "capture.h"
#include "control.h"
#include "faults.h"
#include "messages.h"
#include "model.h"
#include "network.h"
#include "registration.h"
#include "text.h"
#include "timers.h"
#include "timestamp.h"

namespace zol::imsd {

namespace {

constexpr size_t kMaxPacket = 64 * 1024;
constexpr size_t kMaxLine = 1024 * 1024; // inject-raw of a maximal packet fits
constexpr size_t kVerboseHexBytes = 64;
constexpr int kSendTimeoutS = 2;
// More than the kernel queues on one connection.
constexpr size_t kMaxQueuedPackets = 4096;
constexpr int64_t kRelistenRetryMs = 100;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// Whether a process has a socket bound at `path`. The probe uses the other
// socket type: the kernel then refuses with EPROTOTYPE when someone is bound
// there and ECONNREFUSED when the file is left over, and a live stack never
// sees a connection it would take for its agent.
bool in_use(const sockaddr_un &addr, int type)
{
    const int probe_type = type == SOCK_STREAM ? SOCK_SEQPACKET : SOCK_STREAM;
    Fd fd(socket(AF_UNIX, probe_type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        return false;
    }
    if (connect(fd.get(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
        return true;
    }
    return errno == EPROTOTYPE || errno == EAGAIN || errno == EINPROGRESS;
}

// A listening socket that removes its file on close, unless someone else has
// replaced the file meanwhile. It never takes over a socket that is in use.
class Listener {
public:
    ~Listener() { close_and_unlink(); }

    bool open(const std::string &path, int type, std::string &error)
    {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.empty() || path.size() >= sizeof addr.sun_path) {
            error = "bad socket path length";
            return false;
        }
        memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            // Only a socket left behind by an earlier run is ours to remove.
            if (!S_ISSOCK(st.st_mode)) {
                error = "exists and is not a socket";
                return false;
            }
            if (in_use(addr, type)) {
                error = "in use: another stack (or another program) serves it";
                return false;
            }
            unlink(path.c_str());
        }
        fd_.reset(socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd_ || bind(fd_.get(), reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            listen(fd_.get(), 16) != 0 || lstat(path.c_str(), &st) != 0) {
            error = strerror(errno);
            fd_.reset();
            return false;
        }
        path_ = path;
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        return true;
    }

    void close_and_unlink()
    {
        if (!fd_) {
            return;
        }
        fd_.reset();
        struct stat st {};
        if (lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
            unlink(path_.c_str());
        }
    }

    int get() const { return fd_.get(); }

private:
    Fd fd_;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

struct Client {
    Fd fd;
    std::string in;
    std::string out;
    bool eof = false;  // no more commands; close once the replies are out
    bool dead = false; // close now
};

// The process at the other end of an agent connection. Answers owed to one
// module process are never given to another: a new host session is a new
// process, while the agent of the same process reconnecting is the same peer.
struct Peer {
    pid_t pid = 0;                  // 0: unknown
    unsigned long long started = 0; // start time in clock ticks after boot, against pid reuse

    bool known() const { return pid > 0; }
    bool operator==(const Peer &) const = default;
};

unsigned long long process_start(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    // Field 22; the command name (field 2) may hold blanks and parentheses.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    const std::vector<std::string_view> fields =
        split_words(std::string_view(stat).substr(close + 1));
    return fields.size() > 19 ? parse_uint(fields[19], UINT64_MAX).value_or(0) : 0;
}

Peer peer_of(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.pid <= 0) {
        return {};
    }
    return Peer{cred.pid, process_start(cred.pid)};
}

int64_t monotonic_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class Server final : public Link {
public:
    explicit Server(const Options &options) : opt_(options)
    {
        model_.call_sim.delay_ms = options.call_delay_ms;
        attach_network(model_, options.network);
    }

    int run();
    std::string start_capture();

    LinkStatus status() const override
    {
        return LinkStatus{static_cast<bool>(agent_), received_, sent_, connections_};
    }
    std::string send_frame(const Frame &frame) override;
    std::string send_raw(std::span<const uint8_t> bytes) override;
    TimerQueue *timers() override { return &timers_; }
    FaultPlan *faults() override { return &faults_; }
    void transmit(std::vector<Packet> packets) override;
    std::string link_fault(LinkFault fault, uint32_t ms) override;
    void drain_on_connect() override { drain_on_connect_ = true; }
    void reset(Model &model) override;

private:
    // Runs the delayed actions that are due and sends what they emit.
    void run_timers();
    // Applies what the network reported and sends what that emits.
    void run_network();
    // How long poll() may sleep before the next delayed action; -1 for ever.
    int poll_timeout();
    bool set_up();
    void loop();
    bool accept_agent();
    void read_agent();
    // Reads what the agent sent before the connection stopped taking frames.
    void take_remaining();
    void refuse_agent();
    // Stops taking connections; those already made are served and ended first.
    void stop_listening();
    void listen_again();
    void drop_agent(const char *why);
    void handle_packet(std::span<const uint8_t> packet, size_t real_size);
    std::string send_packet(std::span<const uint8_t> bytes);
    void accept_client();
    void read_client(Client &client);
    void flush_client(Client &client);
    void read_stdin();
    // Runs complete lines of `buffer`; with `at_end` a last unterminated line too.
    void run_lines(std::string &buffer, bool at_end, Client *client);
    void run_line(std::string_view line, Client *client);
    void flush_clients_before_exit();
    // One trace line on standard output, stamped with the chosen clock.
    void trace(const std::string &line)
    {
        const std::string stamped = zol_sim::timestamp(opt_.clock) + " " + line + "\n";
        fputs(stamped.c_str(), stdout);
        fflush(stdout);
    }
    void verbose(const std::string &line)
    {
        if (opt_.verbose) {
            trace(line);
        }
    }
    // A new agent connection: what the plan holds for another module process is
    // dropped, and a drain that `fault off` could not finish is done now.
    void settle_ledger(const Peer &peer);
    void capture(zol_sim::CaptureDirection direction, std::span<const uint8_t> bytes,
                 size_t original_size)
    {
        if (capture_.is_open()) {
            capture_.write({direction, static_cast<uint32_t>(connections_),
                            static_cast<uint32_t>(agent_peer_.pid)},
                           bytes, original_size);
        }
    }

    Options opt_;
    Model model_;
    TimerQueue timers_;
    FaultPlan faults_;
    bool agent_refused_ = false;       // its reading side is shut: not polled any more
    bool agent_gone_ = false;          // sends to it fail: the agent gave it up
    bool draining_ = false;            // inside take_remaining()
    int64_t refuse_until_ = 0;         // connections made before this are refused as well
    int64_t stall_until_ = 0;          // nothing is read from the agent before this
    std::optional<int64_t> listen_at_; // the data socket is closed until then
    Fd signals_;
    Listener data_listener_;
    Listener control_listener_;
    Fd agent_;
    std::vector<std::unique_ptr<Client>> clients_;
    bool stdin_open_ = false;
    std::string stdin_buffer_;
    std::vector<uint8_t> packet_ = std::vector<uint8_t>(kMaxPacket);
    uint64_t received_ = 0;
    uint64_t sent_ = 0;
    uint64_t connections_ = 0;
    bool stop_ = false;
    Peer agent_peer_;  // the process at the other end of agent_
    Peer ledger_peer_; // the process the fault plan's frames are meant for
    bool drain_on_connect_ = false;
    zol_sim::CaptureWriter capture_;
};

bool Server::set_up()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    // Delivered through a descriptor so that poll() sees them without races.
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        perror("zol-imsd: sigprocmask");
        return false;
    }
    signals_.reset(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals_) {
        perror("zol-imsd: signalfd");
        return false;
    }
    std::string error;
    if (!data_listener_.open(opt_.socket_path, SOCK_SEQPACKET, error)) {
        fprintf(stderr, "zol-imsd: cannot listen on %s: %s\n", opt_.socket_path.c_str(),
                error.c_str());
        return false;
    }
    if (!control_listener_.open(opt_.control_path, SOCK_STREAM, error)) {
        fprintf(stderr, "zol-imsd: cannot listen on %s: %s\n", opt_.control_path.c_str(),
                error.c_str());
        return false;
    }
    stdin_open_ = opt_.use_stdin;
    return true;
}

std::string Server::start_capture()
{
    if (opt_.pcap_path.empty()) {
        return {};
    }
    return capture_.open(opt_.pcap_path, zol_sim::CapturePoint::stack);
}

int Server::run()
{
    if (!set_up()) {
        return 1;
    }
    if (const std::string why = start_capture(); !why.empty()) {
        fprintf(stderr, "zol-imsd: cannot capture to %s: %s\n", opt_.pcap_path.c_str(),
                why.c_str());
        return 1;
    }
    trace("imsd listening on " + opt_.socket_path + " control " + opt_.control_path);
    loop();
    // Listeners first, so that nobody connects to a stack on its way out.
    data_listener_.close_and_unlink();
    control_listener_.close_and_unlink();
    flush_clients_before_exit();
    clients_.clear();
    agent_.reset();
    trace("imsd stopped");
    return 0;
}

void Server::loop()
{
    enum class Kind { signals, agent, data_listener, control_listener, client, stdin_fd, network };
    struct Slot {
        Kind kind;
        Client *client;
    };
    std::vector<pollfd> fds;
    std::vector<Slot> slots;
    while (!stop_) {
        fds.clear();
        slots.clear();
        auto watch = [&](int fd, short events, Kind kind, Client *client = nullptr) {
            fds.push_back(pollfd{fd, events, 0});
            slots.push_back(Slot{kind, client});
        };
        watch(signals_.get(), POLLIN, Kind::signals);
        if (agent_ && !agent_refused_ && monotonic_ms() >= stall_until_) {
            watch(agent_.get(), POLLIN, Kind::agent);
        }
        if (data_listener_.get() >= 0) {
            watch(data_listener_.get(), POLLIN, Kind::data_listener);
        }
        watch(control_listener_.get(), POLLIN, Kind::control_listener);
        for (const auto &c : clients_) {
            const short events =
                static_cast<short>((c->eof ? 0 : POLLIN) | (c->out.empty() ? 0 : POLLOUT));
            watch(c->fd.get(), events, Kind::client, c.get());
        }
        if (stdin_open_) {
            watch(STDIN_FILENO, POLLIN, Kind::stdin_fd);
        }
        if (model_.network != nullptr) {
            watch(model_.network->wake_fd(), POLLIN, Kind::network);
        }

        const int polled = poll(fds.data(), fds.size(), poll_timeout());
        if (polled < 0) {
            if (errno == EINTR) {
                continue;
            }
            perror("zol-imsd: poll");
            return;
        }
        // Before the descriptors, so that what they bring sees the model up to date.
        run_timers();
        for (size_t i = 0; i < fds.size() && !stop_; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            switch (slots[i].kind) {
            case Kind::signals: {
                signalfd_siginfo info{};
                if (read(signals_.get(), &info, sizeof info) == sizeof info) {
                    trace(strf("imsd stopping (signal %u)", info.ssi_signo));
                    stop_ = true;
                }
                break;
            }
            case Kind::agent:
                read_agent();
                break;
            case Kind::data_listener:
                accept_agent();
                break;
            case Kind::control_listener:
                accept_client();
                break;
            case Kind::client:
                if (fds[i].revents & POLLOUT) {
                    flush_client(*slots[i].client);
                }
                if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                    read_client(*slots[i].client);
                }
                break;
            case Kind::stdin_fd:
                read_stdin();
                break;
            case Kind::network:
                run_network();
                break;
            }
        }
        std::erase_if(clients_, [](const std::unique_ptr<Client> &c) {
            return c->dead || (c->eof && c->out.empty());
        });
    }
}

bool Server::accept_agent()
{
    Fd fd(accept4(data_listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!fd) {
        return false;
    }
    // Sends block for a bounded time only, so a stuck agent cannot freeze the stack.
    const timeval timeout{kSendTimeoutS, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const bool replacing = static_cast<bool>(agent_);
    if (replacing && !agent_refused_) {
        // What the old connection still holds was sent before the new one was made.
        shutdown(agent_.get(), SHUT_RD);
        take_remaining();
    }
    agent_ = std::move(fd);
    agent_refused_ = false;
    agent_gone_ = false;
    agent_peer_ = peer_of(agent_.get());
    ++connections_;
    trace(strf("imsd agent connected (pid %d%s)", static_cast<int>(agent_peer_.pid),
               replacing ? ", replacing the previous connection" : ""));
    settle_ledger(agent_peer_);
    if (opt_.report_on_connect) {
        std::vector<Packet> packets;
        for (Frame &frame : frames_on_connect(model_.registration)) {
            std::vector<Packet> some = faults_.submit(std::move(frame), false, monotonic_ms());
            std::move(some.begin(), some.end(), std::back_inserter(packets));
        }
        transmit(std::move(packets));
    }
    if (agent_ && monotonic_ms() < refuse_until_) {
        refuse_agent();
    }
    return true;
}

void Server::settle_ledger(const Peer &peer)
{
    if (!(peer.known() && peer == ledger_peer_)) {
        if (const size_t dropped = faults_.forget(); dropped > 0) {
            trace(strf("imsd    dropped %zu frames held, delayed or owed for the module in "
                       "pid %d: this connection is another process's",
                       dropped, static_cast<int>(ledger_peer_.pid)));
        }
        ledger_peer_ = peer;
    }
    if (drain_on_connect_) {
        drain_on_connect_ = false;
        trace("imsd    paying what fault off could not send");
        transmit(faults_.drain(model_));
    }
}

void Server::reset(Model &model)
{
    model = Model{};
    model.call_sim.delay_ms = opt_.call_delay_ms;
    timers_.clear();
    faults_ = FaultPlan{};
    drain_on_connect_ = false;
    link_fault(LinkFault::none, 0);
    trace("imsd reset to the start state");
}

void Server::take_remaining()
{
    draining_ = true;
    for (size_t i = 0; agent_ && i < kMaxQueuedPackets; ++i) {
        const ssize_t n =
            recv(agent_.get(), packet_.data(), packet_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        const size_t real = static_cast<size_t>(n);
        handle_packet(std::span<const uint8_t>(packet_.data(), std::min(real, packet_.size())),
                      real);
    }
    draining_ = false;
    if (agent_ && agent_refused_ && agent_gone_) {
        drop_agent("gone");
    }
}

void Server::refuse_agent()
{
    // The agent's sends fail from now on; what it sent before is still served,
    // and answers still reach it until it gives the connection up.
    shutdown(agent_.get(), SHUT_RD);
    agent_refused_ = true;
    trace("imsd agent refused");
    take_remaining();
}

void Server::stop_listening()
{
    // No connection can be made any more, so none can be lost with the socket.
    shutdown(data_listener_.get(), SHUT_RDWR);
    while (accept_agent()) {
        shutdown(agent_.get(), SHUT_RD);
        take_remaining();
        drop_agent("fault close");
    }
    data_listener_.close_and_unlink();
    trace("imsd not listening");
}

void Server::listen_again()
{
    std::string error;
    if (!data_listener_.open(opt_.socket_path, SOCK_SEQPACKET, error)) {
        trace("imsd cannot listen again: " + error);
        listen_at_ = monotonic_ms() + kRelistenRetryMs;
        return;
    }
    listen_at_.reset();
    trace("imsd listening again");
}

std::string Server::link_fault(LinkFault fault, uint32_t ms)
{
    const int64_t now = monotonic_ms();
    switch (fault) {
    case LinkFault::none:
        refuse_until_ = 0;
        stall_until_ = 0;
        // A refused connection cannot take frames again: ending it makes the
        // agent come back on a fresh one. Nothing is left to read on it.
        if (agent_ && agent_refused_) {
            drop_agent("fault off");
        }
        if (listen_at_) {
            listen_again();
        }
        return {};
    case LinkFault::refuse:
        if (!agent_ && ms == 0) {
            return "not connected";
        }
        refuse_until_ = now + ms;
        if (agent_ && !agent_refused_) {
            refuse_agent();
        }
        return {};
    case LinkFault::close:
        if (!agent_ && ms == 0) {
            return "not connected";
        }
        if (agent_) {
            shutdown(agent_.get(), SHUT_RD);
            take_remaining();
            drop_agent("fault close");
        }
        if (ms > 0 && !listen_at_) {
            stop_listening();
        }
        if (ms > 0) {
            listen_at_ = now + ms;
        }
        return {};
    case LinkFault::stall:
        stall_until_ = now + ms;
        trace(strf("imsd stalling for %u ms", ms));
        return {};
    }
    return "unknown fault";
}

void Server::transmit(std::vector<Packet> packets)
{
    for (Packet &p : packets) {
        trace("imsd " + p.trace);
        if (p.bytes.empty()) {
            continue;
        }
        if (p.bytes.size() > kFrameHeaderLen) {
            verbose("imsd    " +
                    format_hex(std::span<const uint8_t>(p.bytes).subspan(kFrameHeaderLen),
                               kVerboseHexBytes));
        }
        if (!send_packet(p.bytes).empty() && p.answer) {
            trace(strf("imsd    owes %u again", unsigned{p.answer->message}));
            faults_.owe(std::move(*p.answer));
        }
    }
}

void Server::drop_agent(const char *why)
{
    agent_.reset();
    agent_refused_ = false;
    agent_gone_ = false;
    trace(strf("imsd agent disconnected (%s)", why));
}

void Server::read_agent()
{
    // A bounded batch, so that a busy agent cannot starve the control clients.
    for (int i = 0; i < 64 && agent_; ++i) {
        const ssize_t n =
            recv(agent_.get(), packet_.data(), packet_.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                drop_agent(strerror(errno));
            }
            return;
        }
        if (n == 0) {
            drop_agent("closed");
            return;
        }
        const size_t real = static_cast<size_t>(n);
        handle_packet(std::span<const uint8_t>(packet_.data(), std::min(real, packet_.size())),
                      real);
    }
}

void Server::handle_packet(std::span<const uint8_t> packet, size_t real_size)
{
    ++received_;
    capture(zol_sim::CaptureDirection::to_stack, packet, real_size);
    if (real_size > packet.size()) {
        trace(strf("imsd <- bad frame: %zu bytes, truncated to %zu", real_size, packet.size()));
        return;
    }
    Frame frame;
    std::string error;
    if (!decode_frame(packet, frame, error)) {
        trace("imsd <- bad frame: " + error);
        verbose("imsd    " + format_hex(packet, kVerboseHexBytes));
        return;
    }
    trace(strf("imsd <- %u %s token %d len %zu", unsigned{frame.message},
               message_name(frame.message), frame.token, frame.payload.size()));
    if (!frame.payload.empty()) {
        verbose("imsd    " + format_hex(frame.payload, kVerboseHexBytes));
    }
    Context ctx(model_, frame, &timers_);
    dispatch(ctx);
    for (const std::string &note : ctx.notes) {
        trace("imsd    " + note);
    }
    // The first frame of the message the module now waits for is its answer.
    const uint16_t awaited = awaited_answer(frame);
    bool answered = false;
    std::vector<Packet> packets;
    for (Frame &out : ctx.outgoing) {
        const bool answer = awaited != 0 && !answered && out.message == awaited;
        answered = answered || answer;
        std::vector<Packet> some = faults_.submit(std::move(out), answer, monotonic_ms());
        std::move(some.begin(), some.end(), std::back_inserter(packets));
    }
    if (awaited != 0 && !answered && !ctx.deferred) {
        trace(strf("imsd    owes %u %s to token %d", unsigned{awaited}, message_name(awaited),
                   frame.token));
        faults_.owe_answer(frame.token, awaited);
    }
    transmit(std::move(packets));
}

void Server::run_timers()
{
    const int64_t now = monotonic_ms();
    if (listen_at_ && now >= *listen_at_) {
        listen_again();
    }
    std::vector<std::string> notes;
    std::vector<Frame> frames = run_due_timers(model_, timers_, now, &notes);
    for (const std::string &note : notes) {
        trace("imsd    " + note);
    }
    std::vector<Packet> packets = faults_.due(now);
    for (Frame &out : frames) {
        std::vector<Packet> some = faults_.submit(std::move(out), false, now);
        std::move(some.begin(), some.end(), std::back_inserter(packets));
    }
    transmit(std::move(packets));
}

void Server::run_network()
{
    std::vector<std::string> notes;
    std::vector<Frame> frames = run_network_events(model_, &timers_, notes);
    for (const std::string &note : notes) {
        trace("imsd    " + note);
    }
    std::vector<Packet> packets;
    for (Frame &out : frames) {
        std::vector<Packet> some = faults_.submit(std::move(out), false, monotonic_ms());
        std::move(some.begin(), some.end(), std::back_inserter(packets));
    }
    transmit(std::move(packets));
}

int Server::poll_timeout()
{
    const int64_t now = monotonic_ms();
    std::optional<int64_t> due = timers_.next_due();
    auto sooner = [&](std::optional<int64_t> t) {
        if (t && (!due || *t < *due)) {
            due = t;
        }
    };
    sooner(faults_.next_due());
    sooner(listen_at_);
    if (stall_until_ > now) {
        sooner(stall_until_);
    }
    if (!due) {
        return -1;
    }
    return static_cast<int>(std::clamp<int64_t>(*due - now, 0, INT_MAX));
}

std::string Server::send_frame(const Frame &frame)
{
    trace(strf("imsd -> %u %s token %d len %zu", unsigned{frame.message},
               message_name(frame.message), frame.token, frame.payload.size()));
    if (!frame.payload.empty()) {
        verbose("imsd    " + format_hex(frame.payload, kVerboseHexBytes));
    }
    return send_packet(encode_frame(frame));
}

std::string Server::send_raw(std::span<const uint8_t> bytes)
{
    trace(strf("imsd -> raw %zu bytes", bytes.size()));
    verbose("imsd    " + format_hex(bytes, kVerboseHexBytes));
    return send_packet(bytes);
}

std::string Server::send_packet(std::span<const uint8_t> bytes)
{
    std::string error;
    if (!agent_) {
        error = "not connected";
    } else {
        ssize_t n;
        do {
            n = send(agent_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        if (n == static_cast<ssize_t>(bytes.size())) {
            ++sent_;
            capture(zol_sim::CaptureDirection::from_stack, bytes, bytes.size());
            return {};
        }
        if (n >= 0) {
            error = "short send";
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            error = "timed out";
        } else {
            error = strerror(errno);
            // The agent gave the connection up, but what it sent before may still
            // wait here unread: it is read on until its end shows. Only a refused
            // connection that is not being read any more has nothing left.
            if (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) {
                agent_gone_ = true;
                if (agent_refused_ && !draining_) {
                    drop_agent(error.c_str());
                }
            }
        }
    }
    trace("imsd send failed: " + error);
    return error;
}

void Server::accept_client()
{
    Fd fd(accept4(control_listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
        return;
    }
    auto client = std::make_unique<Client>();
    client->fd = std::move(fd);
    clients_.push_back(std::move(client));
    verbose("imsd control client connected");
}

void Server::read_client(Client &client)
{
    char buf[4096];
    const ssize_t n = recv(client.fd.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            client.dead = true;
        }
        return;
    }
    if (n == 0) {
        // The client may have only shut down its side and still wait for replies.
        client.eof = true;
        run_lines(client.in, true, &client);
        return;
    }
    client.in.append(buf, static_cast<size_t>(n));
    run_lines(client.in, false, &client);
    if (client.in.size() > kMaxLine) {
        client.dead = true;
    }
}

void Server::flush_client(Client &client)
{
    while (!client.out.empty() && !client.dead) {
        const ssize_t n = send(client.fd.get(), client.out.data(), client.out.size(),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            client.out.erase(0, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                client.dead = true;
            }
            return;
        }
    }
}

void Server::read_stdin()
{
    char buf[4096];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        // The end of a script is not the end of the stack: it keeps serving.
        stdin_open_ = false;
        run_lines(stdin_buffer_, true, nullptr);
        return;
    }
    stdin_buffer_.append(buf, static_cast<size_t>(n));
    run_lines(stdin_buffer_, false, nullptr);
    if (stdin_buffer_.size() > kMaxLine) {
        trace("error line too long");
        stdin_buffer_.clear();
    }
}

void Server::run_lines(std::string &buffer, bool at_end, Client *client)
{
    size_t start = 0;
    for (;;) {
        const size_t nl = buffer.find('\n', start);
        if (nl == std::string::npos) {
            break;
        }
        run_line(std::string_view(buffer).substr(start, nl - start), client);
        start = nl + 1;
        if (stop_) {
            break;
        }
    }
    buffer.erase(0, start);
    if (at_end && !buffer.empty() && !stop_) {
        run_line(buffer, client);
        buffer.clear();
    }
}

void Server::run_line(std::string_view line, Client *client)
{
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    std::optional<Reply> reply = run_command(line, model_, *this);
    if (!reply) {
        return;
    }
    verbose(strf("imsd control: %.*s -> %s", static_cast<int>(line.size()), line.data(),
                 reply->lines.back().c_str()));
    if (client != nullptr) {
        client->out += reply->text();
        flush_client(*client);
    } else {
        fputs(reply->text().c_str(), stdout);
        fflush(stdout);
    }
    if (reply->quit) {
        trace("imsd stopping (quit)");
        stop_ = true;
    }
}

void Server::flush_clients_before_exit()
{
    // The client that sent quit waits for its reply; give everyone a moment.
    for (int round = 0; round < 50; ++round) {
        std::vector<pollfd> fds;
        for (const auto &c : clients_) {
            if (!c->dead && !c->out.empty()) {
                fds.push_back(pollfd{c->fd.get(), POLLOUT, 0});
            }
        }
        if (fds.empty() || poll(fds.data(), fds.size(), 10) < 0) {
            return;
        }
        for (const auto &c : clients_) {
            flush_client(*c);
        }
    }
}

} // namespace

int run_server(const Options &options)
{
    Server server(options);
    return server.run();
}

} // namespace zol::imsd
