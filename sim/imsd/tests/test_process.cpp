// The real zol-imsd process: sockets, tracing, control clients, shutdown, what
// an operator relies on between host sessions, and answers owed across faults.
// Serving the module is proven end to end by the scenarios.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "imsd_harness.h"

using namespace zol::imsd::testing;
using Lines = std::vector<std::string>;

namespace {

// A stack with an agent connected on its data socket.
class ImsdProcess : public ::testing::Test {
protected:
    void start(std::vector<std::string> args = {})
    {
        ASSERT_TRUE(imsd.start(std::move(args)));
        data = std::make_unique<Client>(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
    }
    // Asks for the call list; its answer (30021) comes under the same token.
    bool ask(int32_t token) { return data->send(frame_bytes(token, 17)); }

    TempDir dir;
    Imsd imsd{dir.path};
    std::unique_ptr<Client> data;
};

} // namespace

TEST_F(ImsdProcess, TracesBothWaysAndIgnoresWhatItCannotServe)
{
    ASSERT_TRUE(imsd.start());
    Client agent(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(agent.send(frame_bytes(5, 17)));
    EXPECT_TRUE(frame_arrives(agent, 5, 30021));
    // Malformed frames asking for the call list, an unknown message and a short
    // payload: none of them gets an answer.
    for (const Bytes &packet :
         {Bytes{0, 0, 0, 0, 6, 0, 17, 0, 0, 0},                // short header
          Bytes{7, 0, 0, 0, 6, 0, 17, 0, 0, 0, 0},             // lead byte
          Bytes{0, 0, 0, 0, 6, 0, 17, 0, 0, 0, 3, 0xAA},       // length beyond the packet
          Bytes{0, 0, 0, 0, 6, 0, 17, 0, 0, 0, 0, 0xAA},       // bytes beyond the length
          Bytes{0, 0, 0, 0, 6, 0, 17, 0xFF, 0xFF, 0xFF, 0xFF}, // huge length
          frame_bytes(3, 999, {1, 2}), frame_bytes(4, 1)}) {
        ASSERT_TRUE(agent.send(packet));
    }
    ASSERT_TRUE(agent.send(frame_bytes(8, 17)));
    EXPECT_TRUE(frame_arrives(agent, 8, 30021)) << "nothing was sent for the others";
    EXPECT_TRUE(imsd.wait_output("imsd <- 17 get-current-calls token 5 len 0\n"
                                 "imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 5 len 1\n"
                                 "imsd <- bad frame: 10 bytes, shorter than a header\n"
                                 "imsd <- bad frame: lead byte 0x07\n"))
        << imsd.output();
    EXPECT_TRUE(imsd.wait_output("imsd <- 999 unknown token 3 len 2\n"
                                 "imsd <- 1 dial token 4 len 0\n"))
        << imsd.output();

    Client second(imsd.data_path, SOCK_SEQPACKET);
    EXPECT_EQ(agent.receive(), Bytes{}) << "a new agent connection replaces the old one";
    ASSERT_TRUE(second.send(frame_bytes(1, 17)));
    EXPECT_TRUE(frame_arrives(second, 1, 30021));
}

TEST_F(ImsdProcess, ServesSeveralControlClientsLineByLine)
{
    ASSERT_TRUE(imsd.start());
    Client a(imsd.control_path, SOCK_STREAM);
    Client b(imsd.control_path, SOCK_STREAM);
    EXPECT_EQ(a.command("call add 1 111"), Lines{"ok"});
    EXPECT_EQ(b.command("call add 1 222"), Lines{"error call 1 exists"});
    // Several commands in one write, one split over two writes, then a half-close.
    ASSERT_TRUE(b.send("call add 2 222\n\n# note\ncalls\ncall rem"));
    EXPECT_EQ(b.reply(), Lines{"ok"});
    EXPECT_EQ(b.reply().back(), "ok 2 calls");
    ASSERT_TRUE(b.send("ove 1\r\ncalls"));
    shutdown(b.fd(), SHUT_WR);
    EXPECT_EQ(b.reply(), Lines{"ok"});
    EXPECT_EQ(b.reply().back(), "ok 1 calls");
}

TEST_F(ImsdProcess, StopsCleanlyAndLeavesOthersSocketsAlone)
{
    // An interrupt stops it like a quit (the standard input case) or a SIGTERM.
    ASSERT_TRUE(imsd.start());
    Client agent(imsd.data_path, SOCK_SEQPACKET);
    EXPECT_TRUE(imsd.signal(SIGINT));
    EXPECT_EQ(imsd.wait_exit(), 0) << imsd.output();
    EXPECT_FALSE(std::filesystem::exists(imsd.data_path) ||
                 std::filesystem::exists(imsd.control_path));

    // A second stack on a data socket in use refuses to start.
    start();
    TempDir other;
    Imsd second(other.path);
    ASSERT_TRUE(second.start({"--socket", imsd.data_path}, false));
    EXPECT_EQ(second.wait_exit(), 1);
    ASSERT_TRUE(ask(7));
    EXPECT_TRUE(frame_arrives(*data, 7, 30021)) << "the first stack still serves its agent";
    EXPECT_EQ(imsd.stop(), 0);
    // A file that is no socket is not removed.
    std::ofstream(imsd.control_path) << "keep me\n";
    ASSERT_TRUE(imsd.start({}, false));
    EXPECT_EQ(imsd.wait_exit(), 1);
    EXPECT_TRUE(std::filesystem::exists(imsd.control_path));
}

// The README's walk-through types commands into the stack; the last line may
// lack its newline.
TEST_F(ImsdProcess, ReadsCommandsFromStandardInput)
{
    const auto [status, out] = run(
        {"/bin/sh", "-c",
         "printf 'call add 3 123\\n# note\\ncalls\\nquit' | " ZOL_IMSD_PATH " --stdin --socket " +
             imsd.data_path + " --control " + imsd.control_path},
        dir.path + "/stdin.out");
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("ok\ncall 3 number=123 state=active"), std::string::npos) << out;
    EXPECT_NE(out.find("ok bye"), std::string::npos) << out;
}

TEST_F(ImsdProcess, ResetReturnsToTheStartStateAndTellsTheModuleOfRegistration)
{
    start();
    for (const char *change :
         {"call add 1 5551234", "config set 5 7", "set delay 5000", "fault drop 1"}) {
        ASSERT_EQ(imsd.final_line(change).substr(0, 2), "ok") << change;
    }
    ASSERT_EQ(imsd.final_line("register off"), "ok run-status=0 reported");
    ASSERT_TRUE(frame_arrives(*data, 0, 30022));
    ASSERT_TRUE(ask(1)); // its answer is dropped: owed
    ASSERT_TRUE(imsd.wait_output("fault drop:"));

    EXPECT_EQ(imsd.final_line("reset"), "ok reset: 1 calls dropped, run-status=1 reported");
    EXPECT_EQ(data->receive(), frame_bytes(0, 30022, {1, 0, 0, 0}));
    EXPECT_EQ(imsd.final_line("config"), "ok 0 items") << "the model is new";
    // Nothing armed or delayed is left: a send is answered at once, nothing is owed.
    ASSERT_TRUE(ask(2));
    EXPECT_TRUE(frame_arrives(*data, 2, 30021, milliseconds(2000)));
    EXPECT_EQ(imsd.final_line("fault drain"), "ok sent 0, still owed 0");
}

TEST_F(ImsdProcess, WhatADepartingAgentSentIsServedAndItsAnswersOwed)
{
    // However the stack comes to read them, requests that wait unread when the
    // agent gives the connection up are all served: the first answer fails, and
    // the requests after it must not go with the connection.
    for (const char *reader : {"the stall ends", "fault refuse", "fault close"}) {
        SCOPED_TRACE(reader);
        start();
        ASSERT_EQ(imsd.final_line(reader[0] == 't' ? "fault stall 300" : "fault stall 60000"),
                  "ok");
        for (int32_t token = 1; token <= 3; ++token) {
            ASSERT_TRUE(ask(token));
        }
        shutdown(data->fd(), SHUT_RDWR);
        if (reader[0] != 't') {
            ASSERT_EQ(imsd.final_line(reader), "ok");
        }
        EXPECT_TRUE(imsd.wait_output("imsd <- 17 get-current-calls token 3 len 0\n"))
            << imsd.output();
        EXPECT_TRUE(imsd.wait_status("connected=no"));
        EXPECT_EQ(imsd.final_line("fault show").substr(0, 40),
                  "ok paused=no held=0 delayed=0 owed=3 inj");
        EXPECT_EQ(imsd.stop(), 0);
    }
}

TEST_F(ImsdProcess, OwedAnswersGoOnlyToTheModuleProcessTheyWereFor)
{
    // The agent of one module process reconnecting gets what it is owed; a new
    // host session (another process) must never get answers to requests it did
    // not make.
    for (bool same_process : {true, false}) {
        SCOPED_TRACE(same_process ? "the same process reconnects" : "another process connects");
        ASSERT_TRUE(imsd.start());
        ASSERT_EQ(imsd.final_line("fault drop 1"), "ok");
        const Bytes request = frame_bytes(9, 17);
        if (same_process) {
            Client gone(imsd.data_path, SOCK_SEQPACKET);
            ASSERT_TRUE(gone.send(request));
            ASSERT_TRUE(imsd.wait_output("fault drop:"));
        } else {
            int go[2];
            ASSERT_EQ(pipe(go), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(go[1]);
                Client gone(imsd.data_path, SOCK_SEQPACKET);
                char c;
                _exit(gone.send(request) && read(go[0], &c, 1) >= 0 ? 0 : 1);
            }
            close(go[0]);
            EXPECT_TRUE(imsd.wait_output("fault drop:"));
            close(go[1]);
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_EQ(status, 0);
        }
        ASSERT_TRUE(imsd.wait_status("connected=no"));

        Client next(imsd.data_path, SOCK_SEQPACKET);
        ASSERT_TRUE(imsd.wait_status("connected=yes"));
        if (same_process) {
            EXPECT_EQ(imsd.final_line("fault drain"), "ok sent 1, still owed 0");
            EXPECT_TRUE(frame_arrives(next, 9, 30021));
        } else {
            EXPECT_EQ(imsd.final_line("fault drain"), "ok sent 0, still owed 0");
            ASSERT_TRUE(next.send(frame_bytes(10, 17)));
            EXPECT_TRUE(frame_arrives(next, 10, 30021)) << "the first frame it gets is its own";
            EXPECT_TRUE(imsd.wait_output("dropped 1 frames held, delayed or owed"))
                << imsd.output();
        }
        EXPECT_EQ(imsd.stop(), 0);
    }
}
