// The host against a fake module that misbehaves on purpose: tokens, completions
// from any thread, faults the host must count, timers, and the scenario runner.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <condition_variable>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "call_records.h"
#include "console.h"
#include "host.h"
#include "imsd_control.h"
#include "json_log.h"
#include "radio_log.h"
#include "requests.h"
#include "scenario.h"
#include "soak.h"
#include "words.h"

namespace zol_host {
namespace {

using namespace std::chrono_literals;
using zol_host_test::CallRecords;

// Request numbers of the fake module, each one a behaviour.
enum FakeRequest {
    kCompleteInline = 1,          // answered inside onRequest, on the caller's thread
    kCompleteTwice = 2,           // answered twice
    kNeverComplete = 3,           // never answered
    kListFromThread = 9,          // call list from another thread, plus two unsolicited responses
    kBogusToken = 5,              // answered with a token the host never issued
    kAnswer = RIL_REQUEST_ANSWER, // hold notifications 2 then 3 from a thread, an invitation
};

struct FakeModule {
    std::atomic<int32_t> last_serial_read{0};
    std::vector<std::thread> threads;

    // Before the host they call into goes away.
    void join()
    {
        for (std::thread &t : threads) {
            t.join();
        }
        threads.clear();
    }
};
FakeModule *g_fake = nullptr;

void unsol_int(int number, int value)
{
    Host::env()->OnUnsolicitedResponse(number, &value, sizeof value);
}

void fake_on_request(int request, void *, size_t, RIL_Token t)
{
    const RIL_Env *env = Host::env();
    int32_t serial;
    memcpy(&serial, t, sizeof serial);
    g_fake->last_serial_read = serial;
    switch (request) {
    case kCompleteInline:
        env->OnRequestComplete(t, RIL_E_REQUEST_NOT_SUPPORTED, nullptr, 0);
        break;
    case kCompleteTwice:
        env->OnRequestComplete(t, RIL_E_SUCCESS, nullptr, 0);
        env->OnRequestComplete(t, RIL_E_GENERIC_FAILURE, nullptr, 0);
        break;
    case kListFromThread:
        g_fake->threads.emplace_back([env, t] {
            std::this_thread::sleep_for(5ms);
            CallRecords list;
            list.add(1, RIL_CALL_ACTIVE, "+4915551234");
            list.add(2, RIL_CALL_WAITING, "+4915550000");
            env->OnRequestComplete(t, RIL_E_SUCCESS, list.data(), list.len());
            env->OnUnsolicitedResponse(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, nullptr, 0);
            env->OnUnsolicitedResponse(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, nullptr, 0);
        });
        break;
    case kBogusToken: {
        static int32_t stray = 77;
        env->OnRequestComplete(&stray, RIL_E_SUCCESS, nullptr, 0);
        break;
    }
    case kAnswer:
        env->OnRequestComplete(t, RIL_E_SUCCESS, nullptr, 0);
        g_fake->threads.emplace_back([env] {
            unsol_int(RIL_UNSOL_CALL_HOLD_NOTIFICATION, 2);
            std::this_thread::sleep_for(10ms);
            unsol_int(RIL_UNSOL_CALL_HOLD_NOTIFICATION, 3);
            char id[] = "1";
            char type[] = "4";
            char number[] = "+49";
            char *texts[] = {id, type, number};
            env->OnUnsolicitedResponse(RIL_UNSOL_IMS_MT_INVITE, texts, sizeof texts);
        });
        break;
    default:
        break;
    }
}

const RIL_RadioFunctions kFakeRadio = {RIL_VERSION, fake_on_request, nullptr,
                                       nullptr,     nullptr,         nullptr};

class HostTest : public ::testing::Test {
protected:
    HostTest() : out_(text_) { g_fake = &fake_; }
    ~HostTest() override
    {
        fake_.join();
        g_fake = nullptr;
    }

    // A fresh host on the fake module, and a stack that answers `fault show` with
    // `state`, commands starting with "bad" with an error and the rest with "ok".
    RunOptions fresh(const std::string &state = "ok owed=0")
    {
        fake_.join();
        text_.str("");
        host_.reset();
        host_.emplace(out_);
        Host::set_current(&*host_);
        host_->attach(&kFakeRadio);
        return {50ms, [state](const std::string &command) {
                    ControlReply r;
                    r.final_line = command == "fault show"      ? state
                                   : command.starts_with("bad") ? "error bad"
                                                                : "ok";
                    return r;
                }};
    }
    bool printed(const std::string &text) const
    {
        return text_.str().find(text) != std::string::npos;
    }

    FakeModule fake_;
    std::ostringstream text_;
    Output out_;
    std::optional<Host> host_;
};

TEST_F(HostTest, TokensCarryTheirSerialAndFaultsOfTheModuleAreCountedNotObeyed)
{
    fresh();
    EXPECT_EQ(host_->send(kNeverComplete, nullptr, 0), 1);
    EXPECT_EQ(fake_.last_serial_read, 1);
    const auto twice = host_->request(kCompleteTwice, 1000ms);
    ASSERT_TRUE(twice);
    EXPECT_EQ(fake_.last_serial_read, 2);
    EXPECT_EQ(twice->error, RIL_E_SUCCESS) << "the first completion stands";
    host_->send(kBogusToken, nullptr, 0);
    const std::vector<std::string> errors = host_->host_errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "RIL_REQUEST_2 #2 completed twice (again with Generic Failure)");
    EXPECT_NE(errors[1].find("for unknown token"), std::string::npos);
    EXPECT_TRUE(printed("!! host error: RIL_REQUEST_2 #2 completed twice"));
}

struct TimerLog {
    std::mutex mu;
    std::condition_variable changed;
    std::vector<int> fired;
};
TimerLog *g_timer_log = nullptr;

void record_timer(void *param)
{
    const int id = static_cast<int>(reinterpret_cast<intptr_t>(param));
    {
        std::lock_guard<std::mutex> lock(g_timer_log->mu);
        g_timer_log->fired.push_back(id);
    }
    g_timer_log->changed.notify_all();
    // Re-arming from inside a callback, as the module does.
    if (id == 1) {
        const timeval soon = {0, 1000};
        Host::env()->RequestTimedCallback(record_timer, reinterpret_cast<void *>(4), &soon);
    }
}

TEST_F(HostTest, TimedCallbacksRunOnceInDueOrder)
{
    fresh();
    TimerLog log;
    g_timer_log = &log;
    const RIL_Env *env = Host::env();
    const timeval at[] = {{0, 60000}, {0, 20000}, {0, 90000}};
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(3), &at[0]);
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(2), &at[1]);
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(1), nullptr);
    // The last one due: whatever fired twice would have fired before it.
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(5), &at[2]);
    std::unique_lock<std::mutex> lock(log.mu);
    EXPECT_TRUE(log.changed.wait_for(lock, 5s,
                                     [&] { return !log.fired.empty() && log.fired.back() == 5; }));
    EXPECT_EQ(log.fired, (std::vector<int>{1, 4, 2, 3, 5}));
}

TEST_F(HostTest, ScenarioFailuresStopAtTheStepAndSayWhy)
{
    const std::pair<const char *, const char *> cases[] = {
        {"calls\nexpect unsol 1001 count=2\nclear unsol\nexpect unsol 1001 within=20\n",
         "FAIL s.zs:4: 0 of 1 RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001) within 20 ms"},
        {"request 1\n\nexpect error 0\necho never\n",
         "FAIL s.zs:3: RIL_REQUEST_GET_SIM_STATUS #1 completed with Request Not Supported (6)"},
        {"request 3\n", "FAIL s.zs:1: no completion of RIL_REQUEST_3 #1 within 50 ms"},
        {"request 2\nexpect error SUCCESS\n",
         "FAIL s.zs:1: host error: RIL_REQUEST_2 #1 completed twice"},
        {"stack bad thing\n", "FAIL s.zs:1: zol-imsd answered: error bad"},
        // The latest of several decides; an unwanted one is named.
        {"answer\nexpect unsol 1051 int=4 within=200\n",
         "FAIL s.zs:2: the latest of 2 RIL_UNSOL_CALL_HOLD_NOTIFICATION (1051) within 200 ms: "
         "ints are 3, expected 4"},
        {"answer\nexpect no-unsol 1051 for=200\n",
         "RIL_UNSOL_CALL_HOLD_NOTIFICATION (1051) since the start or the last clear unsol, "
         "expected none; the latest carried int"},
    };
    for (const auto &[script, output] : cases) {
        SCOPED_TRACE(script);
        const RunOptions options = fresh();
        EXPECT_FALSE(ScenarioRunner(*host_, out_, options).run(parse_scenario(script, "s.zs")));
        const std::string out = text_.str();
        EXPECT_NE(out.find(output), std::string::npos) << out;
        EXPECT_TRUE(out.ends_with("\nFAIL\n")) << out;
        EXPECT_EQ(out.find("never"), std::string::npos) << "ran past the first failure";
    }
}

TEST_F(HostTest, ConsoleWaitsAndSaysWhy)
{
    const struct {
        const char *input;
        const char *stack_state; // the final line of `fault show`
        std::vector<std::string> printed;
    } cases[] = {
        // The stack owes the answer: said at once, and not waited for at the end.
        {"request 3\n",
         "ok paused=no held=0 delayed=0 owed=1 injected=0",
         {"no completion of RIL_REQUEST_3 #1 yet: the stack owes 1 answer(s)",
          "end of input: 1 completion(s) still due, but the stack owes 1 answer(s)"}},
        // Nothing held back: the end of input waits, bounded.
        {"request 3\nwait 20\n",
         "ok paused=no held=0 delayed=0 owed=0 injected=0",
         {"still no completion of RIL_REQUEST_3 #1 after 20 ms",
          "end of input: waiting up to 50 ms for 1 completion(s) still due",
          "still no completion of RIL_REQUEST_3 #1 after 50 ms"}},
        // Each wait for an unsolicited response takes one.
        {"calls\nwait unsol 1001 1000\nwait unsol 1001 1000\nwait unsol 1001 20\nwait\n",
         "ok owed=0",
         {"no RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001) within 20 ms", "no completion is due"}},
        {"\x1b[2J\n", "ok owed=0", {"unknown command '\\x1b[2J'"}}, // control characters escaped
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        const RunOptions options = fresh(c.stack_state);
        std::istringstream in(c.input);
        Console(*host_, out_, options).run(in, false);
        for (const std::string &p : c.printed) {
            EXPECT_TRUE(printed(p)) << p << "\n--- printed:\n" << text_.str();
        }
    }
}

// ---- The control-socket client against a stand-in server that answers in pieces,
// hangs up early or not at all ----

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

TEST_F(ControlTest, RepliesInPiecesHangUpsAndSilence)
{
    const struct {
        const char *name;
        std::vector<std::string> chunks;
        std::vector<std::string> lines;
        std::string final_line;
        std::string failure;
    } cases[] = {
        {"lines split across writes",
         {"1 +4915551234 act", "ive video\r\n2 +49", "15550000 held\nok 2 calls\n"},
         {"1 +4915551234 active video", "2 +4915550000 held"},
         "ok 2 calls",
         ""},
        {"error", {"error: unknown command\n"}, {}, "error: unknown command", ""},
        {"final line without newline, then hang-up",
         {"okay so far\n", "ok"},
         {"okay so far"},
         "ok",
         ""},
        {"nothing after the final line is read", {"ok\nstray\n"}, {}, "ok", ""},
        {"hang-up before the final line",
         {"1 +4915551234 active\n"},
         {"1 +4915551234 active"},
         "",
         "zol-imsd closed the connection before its final line"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        serve(c.chunks);
        const ControlReply r = control_exchange(path_, "calls", 2000ms);
        server_.join();
        close(listen_fd_);
        listen_fd_ = -1;
        unlink(path_.c_str());
        EXPECT_EQ(received_, "calls");
        received_.clear();
        EXPECT_EQ(r.failure, c.failure);
        if (c.failure.empty()) {
            EXPECT_EQ(r.lines, c.lines);
            EXPECT_EQ(r.final_line, c.final_line);
        }
        EXPECT_EQ(r.ok(), c.final_line.starts_with("ok"));
    }

    serve({}, 200ms); // says nothing
    const auto start = std::chrono::steady_clock::now();
    const ControlReply r = control_exchange(path_, "status", 50ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 180ms);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure, "no final line from zol-imsd within 50 ms");
}

// ---- What the host writes for people and scripts to line up ----

TEST(Logs, RadioLogLines)
{
    // The plain form is what zol-host writes; its process test reads it back.
    // logcat -v threadtime: time, pid and tid five wide, priority, tag padded to 8.
    const LogLineOrigin short_tag{1, 6 /* error */, "RIL", 7, 8};
    EXPECT_EQ(format_log_line(LogFormat::ThreadTime, "1.000000", short_tag, "x"),
              "1.000000     7     8 E RIL     : x");
}

TEST(Logs, OutputLinesAreStampedAndEscaped)
{
    std::ostringstream text;
    Output out(text);
    out.line("plain\x07");
    out.stamp_with(zol_sim::Clock::monotonic);
    out.block("head", {"detail"});
    const std::regex stamped(R"(plain\\x07\n\d+\.\d{6} head\n\d+\.\d{6}     detail\n)");
    EXPECT_TRUE(std::regex_match(text.str(), stamped)) << text.str();
}

TEST(Logs, JsonOfWhatTheModuleSaid)
{
    EXPECT_EQ(json_string("a\"b\\c\n\x01\xc3\xa4\xff"), R"("a\"b\\c\u000a\u0001ä\u00ff")");
    Decoded calls;
    CallInfo c;
    c.index = 1;
    c.state = 4;
    c.number = "+49";
    calls.calls = std::vector<CallInfo>{c};
    EXPECT_EQ(json_data(calls),
              R"({"calls":[{"index":1,"state":4,"number":"+49","toa":0,"mpty":0,"mt":0,)"
              R"("voice":1,"calltype":0,"attr":0,"text":null}]})");
    EXPECT_EQ(json_data(Decoded{}), "null");

    char file_text[1024] = {};
    FILE *file = fmemopen(file_text, sizeof file_text, "w");
    ASSERT_NE(file, nullptr);
    JsonLog json(file, zol_sim::Clock::monotonic);
    Completion done{3, 9, 2, 0, {}};
    json.completion(done);
    fclose(file);
    const std::regex line(R"(\{"time":"\d+\.\d{6}","event":"completion","serial":3,"request":9,)"
                          R"("name":"RIL_REQUEST_GET_CURRENT_CALLS","error":2,)"
                          R"("error_name":"Generic Failure","length":0,"data":null\}\n)");
    EXPECT_TRUE(std::regex_match(std::string(file_text), line)) << file_text;
}

// ---- The soak's request mix and its verdict; the run itself is the soak test ----

// A line that does not build would silently drop out of the mix.
TEST(Soak, EveryRequestOfTheMixBuilds)
{
    for (const SoakRequest &r : soak_requests()) {
        SCOPED_TRACE(r.line);
        std::string error;
        const auto words = split_words(r.line, error);
        ASSERT_TRUE(words.has_value()) << error;
        const RequestCommand *command = find_request_command((*words)[0].text);
        ASSERT_NE(command, nullptr);
        Outgoing out;
        EXPECT_EQ(
            prepare_request(*command, std::vector<Word>(words->begin() + 1, words->end()), out),
            "");
        EXPECT_GT(r.weight, 0);
        EXPECT_TRUE(r.awaited == 0 || (r.awaited > 30000 && r.awaited < 30200));
    }
}

TEST(Soak, ViolationsNameWhatBroke)
{
    auto figures = [] {
        SoakFigures f;
        f.tokens.issued = 10;
        f.tokens.completed = 10;
        return f;
    };
    const struct {
        void (*change)(SoakFigures &);
        std::vector<std::string> violations;
    } cases[] = {
        {[](SoakFigures &f) { f.made_up = 2, f.restarts = 1; }, {}},
        {[](SoakFigures &f) { f.made_up = 2; },
         {"the stack drained everything it owed, yet 2 requests were still pending"}},
        {[](SoakFigures &f) {
             f.tokens.completed = 9;
             f.tokens.open = {{4, RIL_REQUEST_DIAL}};
         },
         {"1 of 10 requests never completed", "left pending: RIL_REQUEST_DIAL #4"}},
        {[](SoakFigures &f) { f.unexpected_exits = 1, f.made_up = 1; },
         {"the stack exited 1 times by itself"}},
        {[](SoakFigures &f) {
             f.host_errors = {"RIL_REQUEST_HANGUP #3 completed twice"};
             f.stack_exit_status = 1, f.stuck_threads = 2, f.probes_failed = 3;
         },
         {"host error: RIL_REQUEST_HANGUP #3 completed twice", "the stack ended with status 1",
          "2 request threads stuck in the module", "3 requests after the drain did not succeed"}},
    };
    for (const auto &c : cases) {
        SoakFigures f = figures();
        c.change(f);
        EXPECT_EQ(soak_violations(f), c.violations) << (&c - cases);
    }
}

} // namespace
} // namespace zol_host
