// zol-rild as a process, driven over its socket by a hand-made client: bad
// frames are dropped and the daemon keeps serving, one client at a time,
// and a request the module never completes is still answered.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "parcel.h"
#include "rild_wire.h"

extern char **environ;

namespace zol_host {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

int wait_ms(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

pid_t spawn(std::vector<std::string> args, int stdout_fd)
{
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDERR_FILENO);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A process whose output is read a line at a time as it comes.
class Process {
public:
    Process(std::vector<std::string> args)
    {
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        pid_ = spawn(std::move(args), fds[1]);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Process()
    {
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
        close(out_);
    }
    // Waits for a line containing text; everything read is kept in seen().
    bool wait_for(const std::string &text, std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = Clock::now() + timeout;
        while (seen_.find(text, searched_) == std::string::npos) {
            pollfd p{out_, POLLIN, 0};
            char buf[4096];
            if (poll(&p, 1, wait_ms(deadline)) <= 0) {
                return false;
            }
            const ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0) {
                return false;
            }
            seen_.append(buf, static_cast<size_t>(n));
        }
        searched_ = seen_.find(text, searched_) + text.size();
        return true;
    }
    const std::string &seen() const { return seen_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string seen_;
    size_t searched_ = 0;
};

struct Frame {
    int32_t type = -1;
    int32_t id = 0;  // serial of a reply, number of an unsolicited response
    int32_t error = 0;
    Bytes payload;
};

class Client {
public:
    explicit Client(const std::string &path)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    }
    ~Client() { close(fd_); }
    bool connected() const { return connected_; }
    void send(const Bytes &bytes)
    {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void request(int32_t request, int32_t serial, const Bytes &parcel = {})
    {
        send(request_frame(request, serial, parcel));
    }
    // The next frame, or a frame of type -1 when none came in time.
    Frame next(std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = Clock::now() + timeout;
        Bytes head = read_exactly(4, deadline);
        if (head.size() < 4) {
            return {};
        }
        const size_t length = static_cast<size_t>(head[0]) << 24 | head[1] << 16 | head[2] << 8 |
                              head[3];
        const Bytes body = read_exactly(length, deadline);
        ParcelReader r(body);
        Frame f;
        f.type = r.i32();
        f.id = r.i32();
        if (f.type == 0) {
            f.error = r.i32();
        }
        f.payload.assign(body.begin() + static_cast<long>(body.size() - r.remaining()), body.end());
        return f;
    }
    std::string text(std::chrono::milliseconds timeout)
    {
        pollfd p{fd_, POLLIN, 0};
        char buf[512];
        if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
            return {};
        }
        const ssize_t n = recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
    bool nothing_waiting()
    {
        uint8_t b;
        return recv(fd_, &b, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && errno == EAGAIN;
    }

private:
    Bytes read_exactly(size_t n, Clock::time_point deadline)
    {
        Bytes out;
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            uint8_t buf[4096];
            if (poll(&p, 1, wait_ms(deadline)) <= 0) {
                break;
            }
            const ssize_t got = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
            if (got <= 0) {
                break;
            }
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    int fd_ = -1;
    bool connected_ = false;
};

// One command to zol-imsd's control socket; its reply up to the final line.
std::string stack_command(const std::string &path, const std::string &command)
{
    Client c(path);
    EXPECT_TRUE(c.connected()) << path;
    c.send(Bytes(command.begin(), command.end()));
    c.send({'\n'});
    std::string reply;
    while (reply.find("ok") == std::string::npos && reply.find("error") == std::string::npos) {
        const std::string more = c.text(5s);
        if (more.empty()) {
            break;
        }
        reply += more;
    }
    return reply;
}

class RildProcess : public ::testing::Test {
protected:
    RildProcess()
    {
        char dir[] = "/tmp/zol-rild-process-XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        socket_ = dir_ + "/rild";
        setenv("ZOL_IMSD_SOCKET", (dir_ + "/imsd.sock").c_str(), 1);
        setenv("ZOL_IMSD_CONNECT_TIMEOUT_MS", "100", 1);
    }
    ~RildProcess() override
    {
        rild_.reset();
        imsd_.reset();
        (void)!system(("rm -rf '" + dir_ + "'").c_str());
    }
    void start(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {ZOL_RILD_BINARY, "--socket", socket_, "--log", "none"};
        args.insert(args.end(), extra.begin(), extra.end());
        rild_ = std::make_unique<Process>(args);
        ASSERT_TRUE(rild_->wait_for("rild: listening on " + socket_, 30s)) << rild_->seen();
    }
    // A client that has had its greeting: RIL_CONNECTED and the radio state.
    std::unique_ptr<Client> connect()
    {
        auto c = std::make_unique<Client>(socket_);
        EXPECT_TRUE(c->connected());
        const Frame hello = c->next();
        EXPECT_EQ(hello.type, 1);
        EXPECT_EQ(hello.id, 1034);
        EXPECT_EQ(hello.payload, (Bytes{1, 0, 0, 0, 9, 0, 0, 0})) << "count 1, RIL version 9";
        EXPECT_EQ(c->next().id, 1000);
        return c;
    }

    std::string dir_;
    std::string socket_;
    std::unique_ptr<Process> imsd_;
    std::unique_ptr<Process> rild_;
};

TEST_F(RildProcess, BadFramesAreDroppedAndServingGoesOn)
{
    start();
    auto c = connect();
    c->send({0, 0, 0, 4, 1, 2, 3, 4});                  // no room for a serial
    c->request(10, 5, {9, 0, 0, 0, 'x', 0});             // a dial cut short
    c->send({0, 0, 0x27, 0x10});                         // 10000 bytes: too long
    c->send(Bytes(10000, 0x5A));
    c->request(51, 6);                                   // BASEBAND_VERSION
    c->request(9999, 7);

    Frame dial = c->next();
    EXPECT_EQ(dial.type, 0);
    EXPECT_EQ(dial.id, 5);
    EXPECT_EQ(dial.error, 2) << "a request that can be answered is answered";
    Frame version = c->next();
    EXPECT_EQ(version.id, 6);
    EXPECT_EQ(version.error, 0);
    ParcelReader text(version.payload);
    EXPECT_EQ(text.text(), "zol-sim baseband 1.0");
    Frame unknown = c->next();
    EXPECT_EQ(unknown.id, 7);
    EXPECT_EQ(unknown.error, 6);
    EXPECT_TRUE(rild_->wait_for("malformed frame: 4 bytes cannot hold a request number"));
    EXPECT_TRUE(rild_->wait_for("malformed RIL_REQUEST_DIAL #5: "));
    EXPECT_TRUE(rild_->wait_for("malformed frame: length 10000 is over the limit"));

    // A client that leaves inside a frame; the next one is served.
    c->send({0, 0, 0, 12, 51, 0, 0});
    c.reset();
    EXPECT_TRUE(rild_->wait_for("a frame was cut short: 3 of 12 bytes"));
    auto next = connect();
    next->request(51, 1);
    EXPECT_EQ(next->next().error, 0);
}

TEST_F(RildProcess, OneClientAtATime)
{
    start();
    auto first = connect();
    Client second(socket_);
    ASSERT_TRUE(second.connected()) << "it waits in the backlog";
    first->request(51, 1);
    EXPECT_EQ(first->next().id, 1);
    EXPECT_TRUE(second.nothing_waiting()) << "not served while the first is";
    first.reset();
    EXPECT_EQ(second.next().id, 1034);

    // A second server on the same socket is refused; the first keeps it.
    Process again({ZOL_RILD_BINARY, "--socket", socket_, "--log", "none"});
    EXPECT_TRUE(again.wait_for("another server is listening on " + socket_, 30s)) << again.seen();
}

TEST_F(RildProcess, RequestsTheModuleNeverCompletesAreAnswered)
{
    imsd_ = std::make_unique<Process>(std::vector<std::string>{
        ZOL_IMSD_BINARY, "--socket", dir_ + "/imsd.sock", "--control", dir_ + "/imsd.ctl"});
    ASSERT_TRUE(imsd_->wait_for("imsd listening"));
    start({"--request-timeout-ms", "300"});
    auto c = connect();
    // Held back at the stack, the call list never reaches the module.
    ASSERT_NE(stack_command(dir_ + "/imsd.ctl", "fault pause").find("ok"), std::string::npos);
    c->request(9, 3);
    const Frame calls = c->next();
    EXPECT_EQ(calls.id, 3);
    EXPECT_EQ(calls.error, 2);
    EXPECT_TRUE(rild_->wait_for("did not complete RIL_REQUEST_GET_CURRENT_CALLS"));
    ASSERT_NE(stack_command(dir_ + "/imsd.ctl", "fault off").find("ok"), std::string::npos);
    EXPECT_TRUE(rild_->wait_for("late completion of RIL_REQUEST_GET_CURRENT_CALLS"));
    while (!c->nothing_waiting()) {
        const Frame f = c->next();
        EXPECT_EQ(f.type, 1) << "the late completion is not sent; got a reply to #" << f.id;
    }
}

} // namespace
} // namespace zol_host
