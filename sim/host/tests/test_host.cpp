// The host against a fake module that misbehaves on purpose: tokens, completions
// from any thread, faults the host must count, timers, and the scenario runner.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "call_records.h"
#include "console.h"
#include "host.h"
#include "scenario.h"

namespace zol_host {
namespace {

using namespace std::chrono_literals;
using zol_host_test::CallRecords;

// Request numbers of the fake module, each one a behaviour.
enum FakeRequest {
    kCompleteInline = 1,    // answered inside onRequest, on the caller's thread
    kCompleteTwice = 2,     // answered twice
    kNeverComplete = 3,     // never answered
    kListFromThread = 9,    // call list from another thread, plus two unsolicited responses
    kBogusToken = 5,        // answered with a token the host never issued
    // Requests of the module's own, answered with data made from what they carried.
    kDial = RIL_REQUEST_DIAL,                     // records the dial record
    kFailCause = RIL_REQUEST_LAST_CALL_FAIL_CAUSE,  // int 16
    kSendSms = RIL_REQUEST_IMS_SEND_SMS,          // SMS response with the host's reference
    kGetConfig = RIL_REQUEST_IMS_GET_CONFIGRATION,  // the item text back, length of a pointer
    kAnswer = RIL_REQUEST_ANSWER,  // hold notifications 2 then 3 from a thread, an invitation
};

struct FakeModule {
    std::atomic<int32_t> last_serial_read{0};
    std::string dial_address;  // written inside onRequest, read after the run
    int dial_call_type = -1;
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

void fake_on_request(int request, void *data, size_t len, RIL_Token t)
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
    case kDial: {
        const auto *d = static_cast<const RIL_Dial *>(data);
        g_fake->dial_address = len == sizeof *d && d->address != nullptr ? d->address : "?";
        g_fake->dial_call_type = d->callType;
        env->OnRequestComplete(t, RIL_E_SUCCESS, nullptr, 0);
        break;
    }
    case kFailCause: {
        int cause = 16;
        env->OnRequestComplete(t, RIL_E_SUCCESS, &cause, sizeof cause);
        break;
    }
    case kSendSms: {
        const auto *m = static_cast<const RIL_IMS_SMS_Message *>(data);
        RIL_SMS_Response r = {m->messageRef, nullptr, 0};
        env->OnRequestComplete(t, RIL_E_SUCCESS, &r, sizeof r);
        break;
    }
    case kGetConfig: {
        std::string value = std::string(static_cast<char **>(data)[0]) + "=sip:ims.example.org";
        env->OnRequestComplete(t, RIL_E_SUCCESS, value.data(), sizeof(char *));
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

const RIL_RadioFunctions kFakeRadio = {RIL_VERSION, fake_on_request, nullptr, nullptr, nullptr,
                                       nullptr};

class HostTest : public ::testing::Test {
protected:
    HostTest() : out_(text_), host_(out_)
    {
        g_fake = &fake_;
        Host::set_current(&host_);
        host_.attach(&kFakeRadio);
    }
    ~HostTest() override
    {
        fake_.join();
        g_fake = nullptr;
    }

    bool run(const std::string &script, std::chrono::milliseconds timeout = 2000ms)
    {
        RunOptions options{timeout, [](const std::string &command) {
                               ControlReply r;
                               r.lines = {"echoed " + command};
                               r.final_line = command.starts_with("bad") ? "error bad" : "ok";
                               return r;
                           }};
        return ScenarioRunner(host_, out_, options).run(parse_scenario(script, "s.zs"));
    }
    bool printed(const std::string &text) const
    {
        return text_.str().find(text) != std::string::npos;
    }

    FakeModule fake_;
    std::ostringstream text_;
    Output out_;
    Host host_;
};

TEST_F(HostTest, TokensStartWithTheirSerialFromOne)
{
    EXPECT_EQ(host_.send(kNeverComplete, nullptr, 0), 1);
    EXPECT_EQ(fake_.last_serial_read, 1);
    EXPECT_EQ(host_.send(kNeverComplete, nullptr, 0), 2);
    EXPECT_EQ(fake_.last_serial_read, 2);
}

TEST_F(HostTest, CompletionInsideOnRequestIsRecorded)
{
    const auto c = host_.request(kCompleteInline, 1000ms);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->serial, 1);
    EXPECT_EQ(c->request, kCompleteInline);
    EXPECT_EQ(c->error, RIL_E_REQUEST_NOT_SUPPORTED);
    EXPECT_TRUE(printed("< RIL_REQUEST_GET_SIM_STATUS #1: Request Not Supported\n"));
    EXPECT_TRUE(host_.host_errors().empty());
}

TEST_F(HostTest, FaultsOfTheModuleAreCountedNotObeyed)
{
    const auto twice = host_.request(kCompleteTwice, 1000ms);
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->error, RIL_E_SUCCESS) << "the first completion stands";
    host_.send(kBogusToken, nullptr, 0);
    const std::vector<std::string> errors = host_.host_errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "RIL_REQUEST_2 #1 completed twice (again with Generic Failure)");
    EXPECT_NE(errors[1].find("for unknown token"), std::string::npos);
    EXPECT_TRUE(printed("!! host error: RIL_REQUEST_2 #1 completed twice"));
}

TEST_F(HostTest, CallListFromAnotherThread)
{
    const auto c = host_.request(kListFromThread, 2000ms);
    ASSERT_TRUE(c);
    ASSERT_TRUE(c->decoded.calls);
    EXPECT_EQ(c->decoded.calls->size(), 2u);
    EXPECT_EQ(host_.wait_unsol(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, 2, 0, 2000ms), 2);
    EXPECT_TRUE(printed("< RIL_REQUEST_GET_CURRENT_CALLS #1: Success, 2 calls\n"
                        "    call 1: state=active number=\"+4915551234\""));
    EXPECT_TRUE(printed("< unsol RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001)\n"));
}

struct TimerLog {
    std::mutex mu;
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
    // Re-arming from inside a callback, as the module does.
    if (id == 1) {
        const timeval soon = {0, 1000};
        Host::env()->RequestTimedCallback(record_timer, reinterpret_cast<void *>(4), &soon);
    }
}

TEST_F(HostTest, TimedCallbacksRunOnceInDueOrder)
{
    TimerLog log;
    g_timer_log = &log;
    const timeval later = {0, 60000};
    const timeval sooner = {0, 20000};
    const RIL_Env *env = Host::env();
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(3), &later);
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(2), &sooner);
    env->RequestTimedCallback(record_timer, reinterpret_cast<void *>(1), nullptr);
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    for (;;) {
        std::this_thread::sleep_for(5ms);
        std::lock_guard<std::mutex> lock(log.mu);
        if (log.fired.size() >= 4 || std::chrono::steady_clock::now() > deadline) {
            break;
        }
    }
    std::this_thread::sleep_for(20ms);  // nothing fires twice
    std::lock_guard<std::mutex> lock(log.mu);
    EXPECT_EQ(log.fired, (std::vector<int>{1, 4, 2, 3}));
}

TEST_F(HostTest, ScenarioPasses)
{
    EXPECT_TRUE(run("echo start\n"
                    "stack call add 1 +4915551234\n"
                    "request 1\n"
                    "expect error REQUEST_NOT_SUPPORTED\n"
                    "calls\n"
                    "expect error SUCCESS\n"
                    "expect calls 2\n"
                    "expect call 2 state=waiting number=+4915550000\n"
                    "expect unsol 1001 count=2\n"
                    "print calls\n"))
        << text_.str();
    EXPECT_TRUE(printed("[2] stack call add 1 +4915551234\n  imsd: echoed call add 1 +4915551234\n"
                        "  imsd: ok\n"));
    EXPECT_TRUE(printed("  RIL_REQUEST_GET_CURRENT_CALLS #2: 2 calls\n    call 1: state=active"));
    EXPECT_TRUE(text_.str().ends_with("\nPASS\n"));
}

TEST_F(HostTest, RequestStepsSendTheirDataAndCheckTheAnswers)
{
    EXPECT_TRUE(run("dial +4915551234 video\n"
                    "expect error SUCCESS\n"
                    "expect no-data\n"
                    "last-fail-cause\n"
                    "expect ints 16\n"
                    "sms-send - 0011 9\n"
                    "expect sms-response ref=9 error=0 ack=null\n"
                    "ims-config-get 5\n"
                    "expect strings 5=sip:ims.example.org\n"
                    "answer\n"
                    "expect unsol 1051 int=3\n"
                    "expect unsol RIL_UNSOL_IMS_MT_INVITE strings=1,4,+49\n"
                    "expect no-unsol 1055 for=10\n"))
        << text_.str();
    EXPECT_EQ(fake_.dial_address, "+4915551234");
    EXPECT_EQ(fake_.dial_call_type, 3);
    EXPECT_TRUE(printed("< RIL_REQUEST_IMS_SEND_SMS #3: Success, ref=9 ack=null error=0\n"));
    EXPECT_TRUE(printed("< unsol RIL_UNSOL_CALL_HOLD_NOTIFICATION (1051): int 3\n"));
}

TEST_F(HostTest, ScenarioVerdicts)
{
    struct Case {
        const char *name;
        std::string script;
        bool pass;
        std::string output;
    };
    const Case cases[] = {
        {"unsolicited responses count from the last clear",
         "calls\nexpect unsol 1001 count=2\nclear unsol\nexpect unsol 1001 within=20\n", false,
         "FAIL s.zs:4: 0 of 1 RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001) within 20 ms"},
        {"expectation fails", "request 1\n\nexpect error 0\necho never\n", false,
         "FAIL s.zs:3: RIL_REQUEST_GET_SIM_STATUS #1 completed with Request Not Supported (6)"},
        {"completion never comes", "request 3\n", false,
         "FAIL s.zs:1: no completion of RIL_REQUEST_3 #1 within 50 ms"},
        {"host error fails the step that caused it", "request 2\nexpect error SUCCESS\n", false,
         "FAIL s.zs:1: host error: RIL_REQUEST_2 #1 completed twice"},
        {"stack error", "stack bad thing\n", false, "FAIL s.zs:1: zol-imsd answered: error bad"},
        {"the latest unsolicited response decides", "answer\nexpect unsol 1051 int=4 within=200\n",
         false,
         "FAIL s.zs:2: the latest of 2 RIL_UNSOL_CALL_HOLD_NOTIFICATION (1051) within 200 ms: "
         "ints are 3, expected 4"},
        {"an unwanted unsolicited response", "answer\nexpect no-unsol 1051 for=200\n", false,
         "RIL_UNSOL_CALL_HOLD_NOTIFICATION (1051) since the start or the last clear unsol, "
         "expected none; the latest carried int"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        text_.str("");
        Host fresh(out_);
        Host::set_current(&fresh);
        fresh.attach(&kFakeRadio);
        RunOptions options{50ms, [](const std::string &command) {
                               ControlReply r;
                               r.final_line = command.starts_with("bad") ? "error bad" : "ok";
                               return r;
                           }};
        EXPECT_EQ(ScenarioRunner(fresh, out_, options).run(parse_scenario(c.script, "s.zs")),
                  c.pass);
        const std::string out = text_.str();
        EXPECT_NE(out.find(c.output), std::string::npos) << out;
        EXPECT_TRUE(out.ends_with(c.pass ? "\nPASS\n" : "\nFAIL\n")) << out;
        EXPECT_EQ(out.find("never"), std::string::npos) << "ran past the first failure";
        fake_.join();
    }
}

TEST_F(HostTest, ConsoleWaitsAndSaysWhy)
{
    struct Case {
        const char *name;
        const char *input;
        const char *stack_state;  // the final line of `fault show`
        std::vector<std::string> printed;
    };
    const Case cases[] = {
        {"the stack owes the answer: said at once, and not waited for at the end",
         "request 3\n", "ok paused=no held=0 delayed=0 owed=1 injected=0",
         {"no completion of RIL_REQUEST_3 #1 yet: the stack owes 1 answer(s)",
          "end of input: 1 completion(s) still due, but the stack owes 1 answer(s)"}},
        {"nothing held back: the end of input waits, bounded",
         "request 3\nwait 20\n", "ok paused=no held=0 delayed=0 owed=0 injected=0",
         {"no completion of RIL_REQUEST_3 #1 within 50 ms",
          "still no completion of RIL_REQUEST_3 #1 after 20 ms",
          "end of input: waiting up to 50 ms for 1 completion(s) still due",
          "still no completion of RIL_REQUEST_3 #1 after 50 ms"}},
        {"each wait for an unsolicited response takes one",
         "calls\nwait unsol 1001 1000\nwait unsol 1001 1000\nwait unsol 1001 20\nwait\n",
         "ok owed=0",
         {"no RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED (1001) within 20 ms", "no completion is due"}},
        {"control characters are shown escaped", "\x1b[2J\nsleep x\n", "ok owed=0",
         {"unknown command '\\x1b[2J'", "usage: sleep <ms>"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        text_.str("");
        Host fresh(out_);
        Host::set_current(&fresh);
        fresh.attach(&kFakeRadio);
        const std::string state = c.stack_state;
        RunOptions options{50ms, [state](const std::string &command) {
                               ControlReply r;
                               r.final_line = command == "fault show" ? state : "ok";
                               return r;
                           }};
        std::istringstream in(c.input);
        Console(fresh, out_, options).run(in, false);
        for (const std::string &p : c.printed) {
            EXPECT_TRUE(printed(p)) << p << "\n--- printed:\n" << text_.str();
        }
        fake_.join();
    }
}

} // namespace
} // namespace zol_host
