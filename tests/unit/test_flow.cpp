// The request/confirmation flow, through the current call list request: the
// pending pattern, failed sends, a full list, duplicate tokens, ordering.
#include <gtest/gtest.h>

#include <deque>
#include <regex>
#include <string>
#include <vector>

#include "fake_agent.h"
#include "flow/zol_flow.h"
#include "test_host.h"

using namespace zol_test;

namespace {

const std::vector<uint8_t> kEmptyCallList = {0};

class Flow : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        zol_reqlist_init();
        agent = FakeAgent::get();
        ASSERT_NE(agent, nullptr);
        agent->clear();
    }

    RIL_Token token(int32_t id) { return tokens_.emplace_back(id).get(); }
    size_t pending()
    {
        size_t n = 0;
        zol_reqlist_entry_type e;
        while (zol_reqlist_query_by_event(0x17545, &e) == 0) {
            zol_reqlist_free(e.t); // drains; only used at the end of a test
            ++n;
        }
        return n;
    }

    TestHost &host = TestHost::instance();
    FakeAgent *agent = nullptr;

private:
    std::deque<Token> tokens_;
};

TEST_F(Flow, PendingRequestIsSentAndWaitsForItsAnswer)
{
    RIL_Token t = token(21);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    auto frames = agent->sent_frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0, 0, 0, 0, 21, 0, 17, 0, 0, 0, 0}));
    EXPECT_TRUE(host.completions().empty());
    zol_reqlist_entry_type e;
    ASSERT_EQ(zol_reqlist_query(t, &e), 0);
    EXPECT_EQ(e.state, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS);
    EXPECT_EQ(e.pending_event_id, 0x17545u);

    EXPECT_EQ(agent->deliver(frame(30021, kEmptyCallList)), 0);
    ASSERT_TRUE(host.wait_until([&] { return host.completions_for(t).size() == 1; }));
    EXPECT_EQ(host.completions_for(t)[0].error, RIL_E_SUCCESS);
    EXPECT_EQ(host.completions_for(t)[0].len, 0u);
    EXPECT_TRUE(host.logged("Reply to RIL --> Number of calls : 0\n"));
    EXPECT_EQ(zol_reqlist_query(t, &e), 1);
}

TEST_F(Flow, FailedSendAnswersWithGenericFailureAndLeavesNoEntry)
{
    RIL_Token t = token(22);
    agent->set_send_result(-1);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    auto c = host.completions_for(t);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Reply to RIL --> get current call fail,\n"));
    zol_reqlist_entry_type e;
    EXPECT_EQ(zol_reqlist_query(t, &e), 1);
}

TEST_F(Flow, FullListAnswersAtOnceAndSendsNothing)
{
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, token(100 + i));
    }
    agent->clear();
    RIL_Token extra = token(999);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, extra);
    EXPECT_TRUE(agent->sent_frames().empty());
    auto c = host.completions_for(extra);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Fail to add entry to ReqList for envent: 9.\n"));
    EXPECT_EQ(host.completions().size(), 1u);
    EXPECT_EQ(pending(), 50u);
}

TEST_F(Flow, DuplicateTokenIsAnsweredOnceAndNotSent)
{
    RIL_Token t = token(23);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    EXPECT_EQ(agent->sent_frames().size(), 1u);
    EXPECT_EQ(host.completions_for(t).size(), 1u);
    EXPECT_EQ(pending(), 0u);
}

TEST_F(Flow, TwoPendingRequestsAreAnsweredOldestFirstOnePerAnswer)
{
    RIL_Token first = token(31), second = token(32);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, first);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, second);
    agent->deliver(frame(30021, kEmptyCallList));
    ASSERT_TRUE(host.wait_until([&] { return host.completions().size() == 1; }));
    EXPECT_EQ(host.completions()[0].t, first);
    agent->deliver(frame(30021, kEmptyCallList));
    ASSERT_TRUE(host.wait_until([&] { return host.completions().size() == 2; }));
    EXPECT_EQ(host.completions()[1].t, second);
    // A third answer finds nobody waiting and completes nothing.
    agent->deliver(frame(30021, kEmptyCallList));
    ASSERT_TRUE(host.wait_logged(" zol_cm_callsvc_event_cur_call_ind(),exit error"));
    EXPECT_EQ(host.completions().size(), 2u);
}

// The answer arrives while the send is still returning, and the send then fails:
// the request must still be answered exactly once.
void answer_during_send(void *)
{
    FakeAgent::get()->deliver(frame(30021, {0}));
    TestHost::instance().wait_until([] { return !TestHost::instance().completions().empty(); });
}

TEST_F(Flow, AnswerRacingAFailedSendCompletesOnce)
{
    RIL_Token t = token(41);
    agent->on_next_send(answer_during_send, nullptr);
    agent->set_send_result(-1);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    auto c = host.completions_for(t);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_SUCCESS);
    EXPECT_EQ(pending(), 0u);
}

// The host may hand a completed request's token to its next request at once
// (rild frees a request's record inside OnRequestComplete). Here the stack's
// answer completes the request while its send is still out, the token goes to
// a new request, and then the first send fails.
void answer_then_reuse_token(void *arg)
{
    auto t = static_cast<RIL_Token>(arg);
    TestHost &host = TestHost::instance();
    FakeAgent::get()->deliver(frame(30021, {0}));
    host.wait_until([&] { return host.completions_for(t).size() == 1; });
    FakeAgent::get()->set_send_result(0);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
}

TEST_F(Flow, FailedSendLeavesTheNextRequestOfItsTokenAlone)
{
    RIL_Token t = token(42);
    agent->on_next_send(answer_then_reuse_token, t);
    agent->set_send_result(-1);
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    auto c = host.completions_for(t);
    ASSERT_EQ(c.size(), 1u) << "the failed send answered the token's next request";
    EXPECT_EQ(c[0].error, RIL_E_SUCCESS);
    zol_reqlist_entry_type e;
    EXPECT_EQ(zol_reqlist_query(t, &e), 0) << "the next request still waits for its answer";

    agent->deliver(frame(30021, kEmptyCallList));
    ASSERT_TRUE(host.wait_until([&] { return host.completions_for(t).size() == 2; }));
    EXPECT_EQ(host.completions_for(t)[1].error, RIL_E_SUCCESS);
}

// Once remembered, a request can be completed before its message goes out,
// and the host may write the next request's serial into the token: the frame
// and the log keep the id the request had.
TEST_F(Flow, RememberedRequestKeepsItsTokenIdAfterItsTokenIsReused)
{
    Token tok(43);
    zol_request_params_type request = {RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, tok.get()};
    zol_request_return_type ret{};
    zol::Handler h({"remembered", 0}, &request, &ret, {.entry = zol::Entry::none, .exit = zol::Exit::none});
    ASSERT_TRUE(h.remember(0x17545));
    agent->deliver(frame(30021, kEmptyCallList));
    ASSERT_TRUE(host.wait_until([&] { return host.completions_for(tok.get()).size() == 1; }));
    tok.serial = 777;
    agent->set_send_result(-1);

    EXPECT_FALSE(h.send(17, {}, "fail line\n"));
    ASSERT_EQ(agent->sent_frames().size(), 1u);
    EXPECT_EQ(agent->sent_frames()[0], (std::vector<uint8_t>{0, 0, 0, 0, 43, 0, 17, 0, 0, 0, 0}));
    EXPECT_EQ(host.completions_for(tok.get()).size(), 1u);
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 43\n"));
    EXPECT_FALSE(host.logged("Not found ReqList entry : token id 777\n"));
}

TEST_F(Flow, ImmediatePatternAnswersFromTheSendResult)
{
    struct Case {
        int send_result;
        RIL_Errno expected;
        const char *line;
    } cases[] = {{0, RIL_E_SUCCESS, "ok line\n"}, {3, RIL_E_GENERIC_FAILURE, "fail line\n"}};
    for (const Case &c : cases) {
        host.reset();
        agent->clear();
        agent->set_send_result(c.send_result);
        Token t(50);
        const uint8_t payload[2] = {7, 8};
        zol_request_params_type request = {RIL_REQUEST_DIAL, nullptr, 0, t.get()};
        zol_request_return_type ret{};
        zol::Handler h({"immediate", 0}, &request, &ret, {.entry = zol::Entry::none, .exit = zol::Exit::none});
        EXPECT_EQ(h.send_immediate(1, {payload, sizeof payload}, "fail line\n", "ok line\n"), c.expected);
        auto done = host.completions_for(t.get());
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].error, c.expected);
        EXPECT_TRUE(host.logged(c.line));
        EXPECT_EQ(agent->sent_frames().at(0),
                  (std::vector<uint8_t>{0, 0, 0, 0, 50, 0, 1, 0, 0, 0, 2, 7, 8}));
    }
}

// The handler's own lines, the assertion conditions and the completions, in
// order, with source line numbers as "L#" (source positions, whose paths
// depend on the build, are left out).
std::vector<std::string> trace_of(const std::string &handler)
{
    std::vector<std::string> out;
    for (const LogLine &l : TestHost::instance().log_lines()) {
        if (l.text.find(".cpp - ") != std::string::npos) {
            continue;
        }
        if (l.text.find(handler) != std::string::npos || l.text.starts_with("Cond: ") ||
            l.text.starts_with("UI <--- ")) {
            out.push_back(std::regex_replace(l.text, std::regex(" - L[0-9]+"), " - L#"));
        }
    }
    return out;
}

// Refused requests and confirmations nobody waits for end with their own
// lines: the exit line, an exit error naming call control, or none at all.
TEST_F(Flow, RefusalsAndUnwaitedConfirmationsEndWithTheirOwnLines)
{
    const int32_t mode_seven = 7;
    const int16_t half_word = 1;
    const std::string failed = " Complete --- Token 60, Generic Failure, Len 0 ]\n";
    struct Case {
        int request;
        const void *data;
        size_t len;
        std::string handler;
        std::vector<std::string> lines;
    } cases[] = {
        {RIL_REQUEST_DIAL, nullptr, 0, "zol_cm_callsvc_request_dial",
         {"Cond: in_data_ptr != ((void *)0)", "zol_cm_callsvc_request_dial() entry",
          "UI <--- RIL_REQUEST_DIAL (10)" + failed}},
        {RIL_REQUEST_DTMF_START, nullptr, 0, "zol_cm_callsvc_request_dtmf_start",
         {"Cond: params_ptr->data != ((void *)0)", "zol_cm_callsvc_request_dtmf_start() entry",
          "UI <--- RIL_REQUEST_DTMF_START (49)" + failed,
          "zol_cm - zol_cm_callsvc_request_dtmf_start() - L# exit error"}},
        {RIL_REQUEST_HANGUP, &half_word, sizeof half_word, "zol_cm_callsvc_request_hangup",
         {"zol_cm_callsvc_request_hangup() entry", "UI <--- RIL_REQUEST_HANGUP (12)" + failed,
          "zol_cm - zol_cm_callsvc_request_hangup() - L# exit error"}},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, &half_word, sizeof half_word,
         "zol_cm_callsvc_request_ims_set_registration_state",
         {"zol_cm_callsvc_request_ims_set_registration_state() entry",
          "UI <--- RIL_REQUEST_IMS_SET_REGISTRATION_STATE (338)" + failed,
          "zol_cm - zol_cm_callsvc_request_ims_set_registration_state() - L# exit error"}},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, &half_word, sizeof half_word, "zol_sms_request_sms_acknowledge",
         {"zol_sms_request_sms_acknowledge() entry", "UI <--- RIL_REQUEST_SMS_ACKNOWLEDGE (37)" + failed}},
        {RIL_REQUEST_QUERY_FACILITY_LOCK, nullptr, 0, "zol_sups_request_query",
         {"Cond: params_ptr->data != ((void *)0)",
          "zol_sups_request_query(): no facility, request 42 refused\n",
          "UI <--- RIL_REQUEST_QUERY_FACILITY_LOCK (42)" + failed}},
        {RIL_REQUEST_SET_CLIR, &mode_seven, sizeof mode_seven, "zol_sups_CLIR_request_set",
         {"zol_sups_CLIR_request_set() entry",
          "zol_sups_CLIR_request_set(): setting selects no operation, request 32 refused\n",
          "UI <--- RIL_REQUEST_SET_CLIR (32)" + failed, "zol_sups_CLIR_request_set() exit"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.handler);
        host.reset();
        Token t(60);
        radio()->onRequest(c.request, const_cast<void *>(c.data), c.len, t.get());
        EXPECT_EQ(trace_of(c.handler), c.lines);
        EXPECT_EQ(host.completions_for(t.get()).size(), 1u);
        EXPECT_TRUE(agent->sent_frames().empty());
    }

    struct Event {
        uint16_t message;
        std::string handler;
        std::vector<std::string> lines;
    } events[] = {
        {30103, "zol_sms_event_send_msg_status_ind",
         {"zol_sms_event_send_msg_status_ind() entry", " zol_sms_event_send_msg_status_ind(), error"}},
        {30055, "zol_sups_event_interrogate_ss_conf",
         {"zol_sups_event_interrogate_ss_conf() entry", "zol_sups_event_interrogate_ss_conf() exit"}},
        {30024, "zol_cm_callsvc_event_get_cfg_conf",
         {"zol_cm_callsvc_event_get_cfg_conf() entry", " zol_cm_callsvc_event_get_cfg_conf(),exit error"}},
    };
    for (const Event &e : events) {
        SCOPED_TRACE(e.handler);
        host.reset();
        agent->deliver(frame(e.message, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        ASSERT_TRUE(host.wait_logged(e.lines.back()));
        EXPECT_EQ(trace_of(e.handler), e.lines);
        EXPECT_TRUE(host.completions().empty());
    }
}

} // namespace
