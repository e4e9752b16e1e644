// The control-socket client against a stand-in server that answers in pieces,
// hangs up early or not at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "imsd_control.h"

namespace zol_host {
namespace {

using namespace std::chrono_literals;

class ControlTest : public ::testing::Test {
protected:
    ControlTest()
    {
        char dir[] = "/tmp/zol-host-control-XXXXXX";
        EXPECT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/ctl";
    }
    ~ControlTest() override
    {
        if (server_.joinable()) {
            server_.join();
        }
        if (listen_fd_ >= 0) {
            close(listen_fd_);
        }
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }

    // Accepts one client, reads its command line, then writes the chunks
    // (pausing between them) and hangs up after `hold`.
    void serve(std::vector<std::string> chunks, std::chrono::milliseconds hold = 0ms)
    {
        listen_fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        ASSERT_EQ(bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(listen_fd_, 1), 0);
        server_ = std::thread([this, chunks = std::move(chunks), hold] {
            const int fd = accept(listen_fd_, nullptr, nullptr);
            char c;
            while (read(fd, &c, 1) == 1 && c != '\n') {
                received_ += c;
            }
            for (const std::string &chunk : chunks) {
                (void)!write(fd, chunk.data(), chunk.size());
                std::this_thread::sleep_for(2ms);
            }
            std::this_thread::sleep_for(hold);
            close(fd);
        });
    }

    std::string dir_;
    std::string path_;
    int listen_fd_ = -1;
    std::thread server_;
    std::string received_;
};

TEST_F(ControlTest, RepliesInPieces)
{
    struct Case {
        const char *name;
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::string final_line;
        bool ok;
    };
    const Case cases[] = {
        {"lines split across writes",
         {"1 +4915551234 act", "ive video\r\n2 +49", "15550000 held\nok 2 calls\n"},
         {"1 +4915551234 active video", "2 +4915550000 held"}, "ok 2 calls", true},
        {"bare ok", {"ok\n"}, {}, "ok", true},
        {"error", {"error: unknown command\n"}, {}, "error: unknown command", false},
        {"final line without newline, then hang-up", {"okay so far\n", "ok"}, {"okay so far"}, "ok",
         true},
        {"nothing after the final line is read", {"ok\nstray\n"}, {}, "ok", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        serve(c.chunks);
        const ControlReply r = control_exchange(path_, "calls", 2000ms);
        server_.join();
        close(listen_fd_);
        listen_fd_ = -1;
        unlink(path_.c_str());
        EXPECT_EQ(received_, "calls");
        received_.clear();
        EXPECT_EQ(r.failure, "");
        EXPECT_EQ(r.lines, c.lines);
        EXPECT_EQ(r.final_line, c.final_line);
        EXPECT_EQ(r.ok(), c.ok);
    }
}

TEST_F(ControlTest, HangUpBeforeTheFinalLineFails)
{
    serve({"1 +4915551234 active\n"});
    const ControlReply r = control_exchange(path_, "calls", 2000ms);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure, "zol-imsd closed the connection before its final line");
}

TEST_F(ControlTest, SilentServerTimesOut)
{
    serve({}, 200ms);
    const auto start = std::chrono::steady_clock::now();
    const ControlReply r = control_exchange(path_, "status", 50ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 180ms);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure, "no final line from zol-imsd within 50 ms");
}

TEST_F(ControlTest, NoServer)
{
    const ControlReply r = control_exchange(path_, "status", 50ms);
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.failure.find("cannot reach zol-imsd at " + path_), std::string::npos) << r.failure;
}

} // namespace
} // namespace zol_host
