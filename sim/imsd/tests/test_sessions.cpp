// What an operator relies on between host sessions: one stack per socket, a
// reset to the start state, answers kept for the module process they belong to,
// and a command line that explains itself.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <regex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "frame.h"
#include "imsd_harness.h"

using namespace zol::imsd::testing;

namespace {

bool nothing_arrives(Client &data)
{
    return !data.receive(milliseconds(300)).has_value();
}

// Output and exit status of zol-imsd run with `args` (both streams).
std::pair<std::string, int> run_imsd(const std::string &args)
{
    FILE *p = popen((std::string(ZOL_IMSD_PATH) + " " + args + " 2>&1 </dev/null").c_str(), "r");
    std::string out;
    char buf[4096];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;) {
        out.append(buf, n);
    }
    const int status = p != nullptr ? pclose(p) : -1;
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

TEST(Sessions, ASecondStackRefusesSocketsInUseAndLeavesThemAlone)
{
    TempDir dir;
    Imsd first(dir.path);
    ASSERT_TRUE(first.start());
    Client agent(first.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(first.wait_status("connected=yes"));

    // Both sockets taken, or only the data socket under another control path.
    TempDir other;
    for (bool same_control : {true, false}) {
        SCOPED_TRACE(same_control ? "same control socket" : "same data socket only");
        Imsd second(other.path);
        std::vector<std::string> args = {"--socket", first.data_path};
        if (same_control) {
            args.insert(args.end(), {"--control", first.control_path});
        }
        ASSERT_TRUE(second.start(args, false));
        EXPECT_EQ(second.wait_exit(), 1);
    }
    // The first stack never saw the probes and still serves its agent.
    EXPECT_EQ(first.final_line("status"),
              "ok connected=yes received=0 sent=0 connections=1 calls=0");
    ASSERT_TRUE(agent.send(frame_bytes(7, 17)));
    EXPECT_TRUE(frame_arrives(agent, 7, 30021));
}

TEST(Sessions, ResetReturnsToTheStartStateAndTellsTheModuleOfRegistration)
{
    TempDir dir;
    Imsd imsd(dir.path);
    ASSERT_TRUE(imsd.start());
    Client data(imsd.data_path, SOCK_SEQPACKET);
    ASSERT_TRUE(imsd.wait_status("connected=yes"));

    const char *changes[] = {"call add 1 5551234", "ss set clir on", "ss password 1234",
                             "config set 5 7",     "ss fail next",   "fail next dial",
                             "set delay 5000",     "fault drop 1"};
    for (const char *change : changes) {
        ASSERT_EQ(imsd.final_line(change).substr(0, 2), "ok") << change;
    }
    ASSERT_EQ(imsd.final_line("register off"), "ok run-status=0 reported");
    ASSERT_TRUE(frame_arrives(data, 0, 30022));
    ASSERT_TRUE(data.send(frame_bytes(1, 17))); // its answer is dropped: owed
    ASSERT_TRUE(imsd.wait_output("fault drop:"));
    ASSERT_EQ(imsd.final_line("fault pause"), "ok");

    EXPECT_EQ(imsd.final_line("reset"), "ok reset: 1 calls dropped, run-status=1 reported");
    const auto report = data.receive();
    ASSERT_TRUE(report && report->size() == 15u);
    EXPECT_EQ(report->back(), 0) << "run status 1, little-endian";
    EXPECT_EQ((*report)[11], 1);

    EXPECT_EQ(imsd.final_line("calls"), "ok 0 calls");
    EXPECT_EQ(imsd.final_line("config"), "ok 0 items");
    EXPECT_EQ(imsd.final_line("fault show").substr(0, 53),
              "ok paused=no held=0 delayed=0 owed=0 injected=0 drop=");
    const auto ss = Client(imsd.control_path, SOCK_STREAM).command("ss show");
    std::string text;
    for (const std::string &line : ss) {
        text += line + "\n";
    }
    EXPECT_NE(text.find("password 0000"), std::string::npos) << text;
    EXPECT_NE(text.find("clir inactive"), std::string::npos) << text;
    EXPECT_NE(text.find("ok fail-next=0"), std::string::npos) << text;
    // Nothing armed is left: a send succeeds at once and nothing owed turns up.
    ASSERT_TRUE(data.send(frame_bytes(2, 17)));
    EXPECT_TRUE(frame_arrives(data, 2, 30021));
    EXPECT_EQ(imsd.final_line("fault drain"), "ok sent 0, still owed 0");
}

TEST(Sessions, OwedAnswersGoOnlyToTheModuleProcessTheyWereFor)
{
    // The agent of one module process reconnecting gets what it is owed; a new
    // host session (another process) must never get answers to requests it did
    // not make.
    for (bool same_process : {true, false}) {
        SCOPED_TRACE(same_process ? "the same process reconnects" : "another process connects");
        TempDir dir;
        Imsd imsd(dir.path);
        ASSERT_TRUE(imsd.start());
        ASSERT_EQ(imsd.final_line("fault drop 1"), "ok");

        const Bytes request = frame_bytes(9, 17);
        if (same_process) {
            Client data(imsd.data_path, SOCK_SEQPACKET);
            ASSERT_TRUE(data.send(request));
            ASSERT_TRUE(imsd.wait_output("fault drop:"));
        } else {
            int go[2];
            ASSERT_EQ(pipe(go), 0);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(go[1]);
                Client data(imsd.data_path, SOCK_SEQPACKET);
                char c;
                _exit(data.send(request) && read(go[0], &c, 1) >= 0 ? 0 : 1);
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
            EXPECT_TRUE(nothing_arrives(next));
            EXPECT_TRUE(imsd.wait_output("dropped 1 frames held, delayed or owed"))
                << imsd.output();
        }
    }
}

TEST(Sessions, CommandLineExplainsItselfAndStampsTheTrace)
{
    const auto [bad, bad_status] = run_imsd("--no-such-flag");
    EXPECT_EQ(bad_status, 2);
    EXPECT_NE(bad.find("unknown option '--no-such-flag'"), std::string::npos) << bad;
    EXPECT_NE(bad.find("see zol-imsd --help"), std::string::npos) << bad;
    EXPECT_LE(std::count(bad.begin(), bad.end(), '\n'), 6) << bad;
    for (const char *args : {"--delay", "--clock utc", "--connect-status maybe"}) {
        EXPECT_EQ(run_imsd(args).second, 2) << args;
    }
    EXPECT_EQ(run_imsd("--version").first, std::string("zol-imsd ") + ZOL_SIM_VERSION + "\n");
    const auto [help, help_status] = run_imsd("--help");
    EXPECT_EQ(help_status, 0);
    for (const char *section : {"SYNOPSIS", "OPTIONS", "CONTROL COMMANDS", "EXIT STATUS"}) {
        EXPECT_NE(help.find(section), std::string::npos) << section;
    }

    // Wall time as logcat prints it by default; seconds since boot on request.
    const std::pair<std::vector<std::string>, const char *> clocks[] = {
        {{}, R"(^\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} imsd listening on )"},
        {{"--clock", "monotonic"}, R"(^\d+\.\d{6} imsd listening on )"},
    };
    for (const auto &clock : clocks) {
        TempDir dir;
        Imsd imsd(dir.path);
        ASSERT_TRUE(imsd.start(clock.first));
        const std::regex stamp(clock.second);
        EXPECT_TRUE(wait_until([&] { return std::regex_search(imsd.raw_output(), stamp); }))
            << imsd.raw_output();
    }
}
