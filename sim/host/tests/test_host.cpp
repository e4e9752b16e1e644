// The host against a fake module that misbehaves on purpose: tokens, completions
// from any thread, faults the host must count, the console and the scenario runner.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "console.h"
#include "host.h"
#include "imsd_control.h"
#include "json_log.h"
#include "requests.h"
#include "scenario.h"
#include "soak.h"
#include "words.h"

namespace zol_host {
namespace {

using namespace std::chrono_literals;

// Request numbers of the fake module, each one a behaviour.
enum FakeRequest {
    kCompleteInline = 1, // answered inside onRequest, on the caller's thread
    kCompleteTwice = 2,  // answered twice
    kNeverComplete = 3,  // never answered
    kListFromThread = 9, // answered from another thread, then two unsolicited responses
    kBogusToken = 5,     // answered with a token the host never issued
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
            env->OnRequestComplete(t, RIL_E_SUCCESS, nullptr, 0);
            env->OnUnsolicitedResponse(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, nullptr, 0);
            env->OnUnsolicitedResponse(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, nullptr, 0);
        });
        break;
    case kBogusToken: {
        static int32_t stray = 77;
        env->OnRequestComplete(&stray, RIL_E_SUCCESS, nullptr, 0);
        break;
    }
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
        // The latest of several decides (shown by the SIP scenarios); an unwanted one is named.
        {"calls\nexpect unsol 1001 int=1 within=200\n", "carried no data, expected ints 1"},
        {"calls\nexpect no-unsol 1001 for=200\n",
         "RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001) since the start or the last clear unsol, "
         "expected none"},
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

// The stack owes the answer: the console says so at once, and does not wait for it
// at the end.
TEST_F(HostTest, ConsoleSaysWhyAnAnswerIsLate)
{
    const RunOptions options = fresh("ok paused=no held=0 delayed=0 owed=1 injected=0");
    std::istringstream in("request 3\n");
    Console(*host_, out_, options).run(in, false);
    for (const char *p :
         {"no completion of RIL_REQUEST_3 #1 yet: the stack owes 1 answer(s)",
          "end of input: 1 completion(s) still due, but the stack owes 1 answer(s)"}) {
        EXPECT_TRUE(printed(p)) << p << "\n--- printed:\n" << text_.str();
    }
}

// The --json log is for scripts, and nothing in the tree reads it back.
TEST(Logs, JsonOfWhatTheModuleSaid)
{
    EXPECT_EQ(json_string("a\"b\\c\n\x01\xc3\xa4\xff"), R"("a\"b\\c\u000a\u0001ä\u00ff")");
    Decoded ints;
    ints.ints = std::vector<int>{1, -2};
    EXPECT_EQ(json_data(ints), R"({"ints":[1,-2]})");
    Decoded supp;
    supp.supp = SuppSvcInfo{1, 2, 3, 145, std::nullopt};
    EXPECT_EQ(json_data(supp),
              R"({"notification":{"type":1,"code":2,"index":3,"toa":145,"number":null}})");
}

// ---- The soak's request mix and its verdict; the run itself is the soak test ----

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
        {[](SoakFigures &f) { f.made_up = 2, f.restarts = 1; }, {}}, // made up for the restart
        {[](SoakFigures &f) { f.made_up = 2; },
         {"the stack drained everything it owed, yet 2 requests were still pending"}},
        {[](SoakFigures &f) {
             f.tokens.completed = 9;
             f.tokens.open = {{4, RIL_REQUEST_DIAL}};
         },
         {"1 of 10 requests never completed", "left pending: RIL_REQUEST_DIAL #4"}},
        {[](SoakFigures &f) { f.host_errors = {"x"}, f.stuck_threads = 2, f.probes_failed = 3; },
         {"host error: x", "2 request threads stuck in the module",
          "3 requests after the drain did not succeed"}},
    };
    for (const auto &c : cases) {
        SoakFigures f = figures();
        c.change(f);
        EXPECT_EQ(soak_violations(f), c.violations) << (&c - cases);
    }
}

} // namespace
} // namespace zol_host
