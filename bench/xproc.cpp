// Across processes: the host here, the module and the socket agent inside it,
// the simulated stack in a process of its own. The floor is a bare
// SOCK_SEQPACKET ping-pong with the same stack process and the same hops: the
// sending thread, a reader thread, the bare loop's thread, the completion.
#include "groups.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "bare_loop.h"
#include "harness.h"
#include "host.h"
#include "ipc_agent.h"
#include "kinds.h"

namespace zol_bench {

namespace {

int connect_unix(const std::string &path, int type)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return -1;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

// zol-imsd in a scratch directory, its trace thrown away.
class Stack {
public:
    bool start()
    {
        char dir[] = "/tmp/zol-bench.XXXXXX";
        if (mkdtemp(dir) == nullptr) {
            return false;
        }
        dir_ = dir;
        socket_ = dir_ + "/imsd.sock";
        control_ = dir_ + "/imsd.ctl";
        pid_ = fork();
        if (pid_ == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            execl(ZOL_IMSD, "zol-imsd", "--socket", socket_.c_str(), "--control", control_.c_str(),
                  "--connect-status", "off", static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && pid_ > 0; ++i) {
            const int fd = connect_unix(control_, SOCK_STREAM);
            if (fd >= 0) {
                close(fd);
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    // One control command; true when the stack answered "ok".
    bool command(const std::string &line)
    {
        const int fd = connect_unix(control_, SOCK_STREAM);
        if (fd < 0) {
            return false;
        }
        const std::string text = line + "\n";
        bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        shutdown(fd, SHUT_WR);
        std::string reply;
        char buf[512];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0) {
            reply.append(buf, static_cast<size_t>(n));
        }
        close(fd);
        const size_t last = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
        const std::string last_line = reply.substr(last == std::string::npos ? 0 : last + 1);
        return ok && last_line.rfind("ok", 0) == 0;
    }

    const std::string &socket_path() const { return socket_; }

    ~Stack()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) {
            unlink(socket_.c_str());
            unlink(control_.c_str());
            rmdir(dir_.c_str());
        }
    }

private:
    pid_t pid_ = -1;
    std::string dir_, socket_, control_;
};

// The floor's connection: answers are read on a thread of their own and go
// through the bare loop, like the agent's reader and the module's event thread.
class PingPong {
public:
    explicit PingPong(const std::string &path) : loop_(floor_handler, nullptr)
    {
        set_floor_loop(&loop_);
        fd_ = connect_unix(path, SOCK_SEQPACKET);
        if (fd_ >= 0) {
            reader_ = std::thread([this] { read_answers(); });
        }
    }

    ~PingPong()
    {
        if (fd_ >= 0) {
            shutdown(fd_, SHUT_RDWR);
            reader_.join();
            close(fd_);
        }
        set_floor_loop(nullptr);
    }

    bool connected() const { return fd_ >= 0; }

    uint64_t round_trip(const std::vector<uint8_t> &frame)
    {
        Host &host = Host::get();
        host.arm(1);
        const uint64_t start = now_ns();
        if (send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(frame.size())) {
            return 0;
        }
        host.wait();
        return now_ns() - start;
    }

private:
    void read_answers()
    {
        std::vector<uint8_t> buffer(64 * 1024);
        for (;;) {
            const ssize_t n = recv(fd_, buffer.data(), buffer.size(), MSG_TRUNC);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return;
            }
            ipc_agent_recv_type rec = {0, buffer.data(), static_cast<int32_t>(n)};
            floor_read_cb(&rec);
        }
    }

    BareLoop loop_;
    int fd_ = -1;
    std::thread reader_;
};

} // namespace

int run_cross_process(const Options &options)
{
    set_log_mode(LogMode::filtered);
    Stack stack;
    if (!expect(stack.start(), "zol-imsd did not start")) {
        return 1;
    }
    for (const std::string &c : stack_setup_commands()) {
        expect(stack.command(c), "stack command '%s' failed", c.c_str());
    }
    std::vector<RequestKind> kinds = cross_process_kinds();
    const std::string cpus = cpus_label();
    const int reps = options.smoke ? 1 : 5;
    const int requests = options.smoke ? 100 : 3000;
    const int counted = options.smoke ? 100 : 1000;

    // The stack serves one connection at a time, so the floor goes first and
    // hangs up before the module's agent connects.
    std::vector<Row> rows;
    auto add_row = [&](const std::string &path, const char *variant, double allocations,
                       double expected) {
        const std::string name =
            "cross-process/" + path + "/" + (variant != nullptr ? variant : "floor");
        const Summary s = summary_of(name);
        Row r;
        r.group = "cross-process";
        r.path = path;
        r.variant = variant != nullptr ? variant : "";
        r.cpus = cpus;
        r.floor = variant == nullptr;
        r.median_ns = s.median;
        r.p99_ns = s.p99;
        r.samples = s.count;
        r.allocations = allocations;
        r.expected_allocations = expected;
        rows.push_back(r);
    };
    std::vector<double> floor_allocs(kinds.size(), -1);
    {
        PingPong floor(stack.socket_path());
        if (!expect(floor.connected(), "cannot connect to zol-imsd")) {
            return 1;
        }
        for (size_t i = 0; i < kinds.size(); ++i) {
            RequestKind &k = kinds[i];
            for (int w = 0; w < 50; ++w) {
                floor.round_trip(k.request_frame);
            }
            add_benchmark(
                "cross-process/" + k.name + "/floor", requests, reps, [] {},
                [&floor, &k] { return floor.round_trip(k.request_frame); });
        }
        run_benchmarks(options, false);
        for (size_t i = 0; i < kinds.size(); ++i) {
            floor_allocs[i] =
                allocations_per(counted, [&] { floor.round_trip(kinds[i].request_frame); });
        }
    }

    setenv("ZOL_IMSD_SOCKET", stack.socket_path().c_str(), 1);
    const RIL_RadioFunctions *radio = load_module(ZOL_SIM_MODULE);
    if (!expect(radio != nullptr, "the module did not come up")) {
        return 1;
    }
    Token token;
    auto round_trip = [&](const RequestKind &k) {
        Host &host = Host::get();
        host.arm(k.callbacks);
        const uint64_t start = now_ns();
        radio->onRequest(k.request, const_cast<void *>(k.data), k.datalen, token.next());
        host.wait();
        return now_ns() - start;
    };
    for (const RequestKind &k : kinds) {
        for (int w = 0; w < 50; ++w) {
            round_trip(k);
        }
    }
    for (RequestKind &k : kinds) {
        for (LogMode mode : {LogMode::formatted, LogMode::filtered}) {
            add_benchmark(
                "cross-process/" + k.name + "/" + log_mode_name(mode), requests, reps,
                [mode] { set_log_mode(mode); }, [&round_trip, &k] { return round_trip(k); });
        }
    }
    run_benchmarks(options, true);
    set_log_mode(LogMode::filtered);

    for (size_t i = 0; i < kinds.size(); ++i) {
        const RequestKind &k = kinds[i];
        const double allocs = allocations_per(counted, [&] { round_trip(k); });
        expect(allocs == k.expected_allocations, "%s: %.3f heap blocks per request, want %d",
               k.name.c_str(), allocs, k.expected_allocations);
        expect(Host::get().tally().last_response_len == k.response_len,
               "%s: a response of %zu bytes, want %zu", k.name.c_str(),
               Host::get().tally().last_response_len, k.response_len);
        add_row(k.name, nullptr, floor_allocs[i], kFloorAllocations);
        for (LogMode mode : {LogMode::formatted, LogMode::filtered}) {
            add_row(k.name, log_mode_name(mode), allocs, k.expected_allocations);
        }
    }
    expect_clean_tally();
    if (!options.out.empty() && !write_rows(options.out, rows)) {
        expect(false, "cannot write %s", options.out.c_str());
    }
    return failures() == 0 ? 0 : 1;
}

} // namespace zol_bench
