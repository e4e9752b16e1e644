// The real zol-imsd process: sockets, tracing, control clients and shutdown.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "imsd_harness.h"

using namespace zol::imsd::testing;

namespace {

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

class ImsdProcess : public ::testing::Test {
protected:
    TempDir dir;
    Imsd imsd{dir.path};
};

} // namespace

TEST_F(ImsdProcess, AnswersInjectsAndTracesBothWays)
{
    ASSERT_TRUE(imsd.start());
    EXPECT_EQ(imsd.final_line("status"),
              "ok connected=no received=0 sent=0 connections=0 calls=0");
    EXPECT_EQ(imsd.final_line("inject 17"), "error not connected");
    ASSERT_EQ(imsd.final_line("call add 2 5551234"), "ok");

    Client agent(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(agent.send(Bytes{0, 0, 0, 0, 5, 0, 17, 0, 0, 0, 0}));
    const auto reply = agent.receive();
    ASSERT_TRUE(reply && reply->size() == 11u + 206u);
    EXPECT_EQ(Bytes(reply->begin(), reply->begin() + 13),
              (Bytes{0, 0, 0, 0, 5, 0x75, 0x45, 0, 0, 0, 206, 1, 2}));

    EXPECT_EQ(imsd.final_line("inject 30005 01000000"), "ok sent 15 bytes");
    EXPECT_EQ(agent.receive(), (Bytes{0, 0, 0, 0, 0, 0x75, 0x35, 0, 0, 0, 4, 1, 0, 0, 0}));
    EXPECT_EQ(imsd.final_line("inject-raw 00 01"), "ok sent 2 bytes");
    EXPECT_EQ(agent.receive(), (Bytes{0, 1}));

    EXPECT_TRUE(imsd.wait_output("imsd <- 17 get-current-calls token 5 len 0\n"
                                 "imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 5 len 206\n"
                                 "imsd -> 30005 eTKM_CALL_END_IND token 0 len 4\n"
                                 "imsd -> raw 2 bytes\n"))
        << imsd.output();
    EXPECT_EQ(imsd.final_line("status"),
              "ok connected=yes received=1 sent=3 connections=1 calls=1");
}

TEST_F(ImsdProcess, MalformedAndUnknownFramesAreTracedAndIgnored)
{
    ASSERT_TRUE(imsd.start());
    Client agent(imsd.data_path, SOCK_SEQPACKET);
    const Bytes ignored[] = {
        {0, 1, 2},
        {0, 0, 0, 0, 1, 0, 17, 0, 0, 0, 9, 0xAA},
        {7, 0, 0, 0, 1, 0, 17, 0, 0, 0, 0},
        frame_bytes(3, 999, {1, 2}),
        frame_bytes(4, 1), // known, but nothing answers it yet
    };
    for (const Bytes &packet : ignored) {
        ASSERT_TRUE(agent.send(packet));
    }
    // The first packet back answers the last request: nothing was sent for the others.
    ASSERT_TRUE(agent.send(frame_bytes(8, 17)));
    const auto reply = agent.receive();
    ASSERT_TRUE(reply && reply->size() >= 11u);
    EXPECT_EQ((*reply)[4], 8);

    const std::string out = imsd.output();
    for (const char *line : {"imsd <- bad frame: 3 bytes, shorter than a header\n",
                             "imsd <- bad frame: length field 9, 1 payload bytes arrived\n",
                             "imsd <- bad frame: lead byte 0x07\n",
                             "imsd <- 999 unknown token 3 len 2\n",
                             "imsd <- 1 dial token 4 len 0\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << out;
    }
    EXPECT_EQ(imsd.final_line("status"),
              "ok connected=yes received=6 sent=1 connections=1 calls=0");
}

TEST_F(ImsdProcess, ANewAgentConnectionReplacesTheOldOne)
{
    ASSERT_TRUE(imsd.start());
    Client first(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(imsd.wait_status("connections=1"));
    Client second(imsd.data_path, SOCK_SEQPACKET);
    EXPECT_EQ(first.receive(), Bytes{}) << "the first connection is closed";
    ASSERT_TRUE(second.send(frame_bytes(1, 17)));
    EXPECT_TRUE(second.receive().has_value());
    EXPECT_TRUE(imsd.wait_status("connected=yes received=1 sent=1 connections=2"));
}

TEST_F(ImsdProcess, ServesSeveralControlClientsLineByLine)
{
    ASSERT_TRUE(imsd.start());
    Client a(imsd.control_path, SOCK_STREAM);
    Client b(imsd.control_path, SOCK_STREAM);
    EXPECT_EQ(a.command("call add 1 111"), std::vector<std::string>{"ok"});
    EXPECT_EQ(b.command("call add 1 222"), std::vector<std::string>{"error call 1 exists"});

    // Several commands in one write, one split over two writes, then a half-close.
    ASSERT_TRUE(b.send("call add 2 222\n\n# note\ncalls\ncall rem"));
    EXPECT_EQ(b.reply(), std::vector<std::string>{"ok"});
    const std::vector<std::string> calls = b.reply();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].rfind("call 1 number=111 ", 0), 0u);
    EXPECT_EQ(calls[1].rfind("call 2 number=222 ", 0), 0u);
    EXPECT_EQ(calls[2], "ok 2 calls");
    ASSERT_TRUE(b.send("ove 1\r\ncalls"));
    shutdown(b.fd(), SHUT_WR);
    EXPECT_EQ(b.reply(), std::vector<std::string>{"ok"});
    EXPECT_EQ(b.reply().back(), "ok 1 calls");
    EXPECT_GE(a.command("help").size(), 11u);
}

TEST_F(ImsdProcess, QuitAndSignalsStopItAndRemoveTheSockets)
{
    for (const char *how : {"quit", "SIGTERM", "SIGINT"}) {
        SCOPED_TRACE(how);
        ASSERT_TRUE(imsd.start());
        Client agent(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(exists(imsd.data_path) && exists(imsd.control_path));
        if (how[0] == 'q') {
            EXPECT_EQ(Client(imsd.control_path, SOCK_STREAM).command("quit"),
                      std::vector<std::string>{"ok bye"});
        } else {
            EXPECT_TRUE(imsd.signal(how[3] == 'T' ? SIGTERM : SIGINT));
        }
        EXPECT_EQ(imsd.wait_exit(), 0) << imsd.output();
        EXPECT_FALSE(exists(imsd.data_path));
        EXPECT_FALSE(exists(imsd.control_path));
    }
}

TEST_F(ImsdProcess, ReplacesAStaleSocketButNoOtherFile)
{
    // What a killed stack leaves behind: a socket file nobody listens on.
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", imsd.data_path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    close(fd);
    ASSERT_TRUE(imsd.start());
    EXPECT_TRUE(Client(imsd.data_path, SOCK_SEQPACKET).ok());
    EXPECT_EQ(imsd.stop(), 0);

    std::ofstream(imsd.control_path) << "keep me\n";
    ASSERT_TRUE(imsd.start({}, false));
    EXPECT_EQ(imsd.wait_exit(), 1);
    std::string line;
    EXPECT_TRUE(std::getline(std::ifstream(imsd.control_path), line));
    EXPECT_EQ(line, "keep me");
}

TEST_F(ImsdProcess, ReadsCommandsFromStandardInput)
{
    ASSERT_TRUE(imsd.start({"--stdin"}, true, true));
    const std::string script = "call add 3 123\n# comment\ncalls\ncall set 3 state=held";
    ASSERT_EQ(write(imsd.stdin_fd, script.data(), script.size()),
              static_cast<ssize_t>(script.size()));
    EXPECT_TRUE(imsd.wait_output("ok\ncall 3 number=123 state=active"));
    EXPECT_TRUE(imsd.wait_output("ok 1 calls\n"));
    // The end of the input runs an unfinished last line, and the stack keeps serving.
    close(imsd.stdin_fd);
    imsd.stdin_fd = -1;
    EXPECT_TRUE(wait_until([&] {
        const auto reply = Client(imsd.control_path, SOCK_STREAM).command("calls");
        return reply.size() == 2 && reply[0].find("state=held") != std::string::npos;
    }));
}
