// The request/confirmation flow, through the current call list request: the
// pending pattern, failed sends, a full list, duplicate tokens, ordering, and
// the lines a handler begins and ends with.
#include <regex>

#include "fixture.h"
#include "flow/zol_flow.h"

using namespace zol_kit;

namespace {

const Bytes kNoCalls = {0};

class Flow : public ModuleTest {
protected:
    void calls(RIL_Token t) { request(RIL_REQUEST_GET_CURRENT_CALLS, {}, t); }
    // Drains the requests waiting for the call list; only at the end of a test.
    size_t pending()
    {
        size_t n = 0;
        for (zol_reqlist_entry_type e; zol_reqlist_query_by_event(0x17545, &e) == 0; ++n) {
            zol_reqlist_free(e.t);
        }
        return n;
    }
};

TEST_F(Flow, PendingRequestIsSentAndWaitsForItsAnswer)
{
    RIL_Token t = token(21);
    calls(t);
    EXPECT_EQ(agent::frames(), (std::vector<Bytes>{{0, 0, 0, 0, 21, 0, 17, 0, 0, 0, 0}}));
    EXPECT_TRUE(host.completions().empty());
    zol_reqlist_entry_type e;
    ASSERT_EQ(zol_reqlist_query(t, &e), 0);
    EXPECT_EQ(e.state, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS);
    EXPECT_EQ(e.pending_event_id, 0x17545u);
    deliver(imsd::msg::kCurCallInd, kNoCalls);
    const Completion c = completion(t);
    EXPECT_EQ(c.error, RIL_E_SUCCESS);
    EXPECT_EQ(c.len, 0u);
    EXPECT_TRUE(host.logged("Reply to RIL --> Number of calls : 0\n"));
    EXPECT_EQ(waits_for(t), 0u);
}

// A failed send, a full list and a token pending already: answered with 2 at
// once, nothing left waiting, and at most the first request's frame sent.
TEST_F(Flow, RefusedRequestsAreAnsweredAtOnce)
{
    RIL_Token failed = token(22), twice = token(23);
    agent::set_result(-1);
    calls(failed);
    EXPECT_EQ(completion(failed).error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Reply to RIL --> get current call fail,\n"));
    EXPECT_EQ(waits_for(failed), 0u);

    agent::reset();
    calls(twice);
    calls(twice);
    EXPECT_EQ(agent::frames().size(), 1u);
    EXPECT_EQ(completion(twice).error, RIL_E_GENERIC_FAILURE);
    EXPECT_EQ(pending(), 0u);

    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        calls(token(100 + i));
    }
    agent::reset();
    RIL_Token extra = token(999);
    calls(extra);
    EXPECT_TRUE(agent::frames().empty());
    EXPECT_EQ(completion(extra).error, RIL_E_GENERIC_FAILURE);
    EXPECT_TRUE(host.logged("Fail to add entry to ReqList for envent: 9.\n"));
    EXPECT_EQ(host.completions().size(), 3u);
    EXPECT_EQ(pending(), 50u);
}

TEST_F(Flow, PendingRequestsAreAnsweredOldestFirstOnePerAnswer)
{
    RIL_Token first = token(31), second = token(32);
    calls(first);
    calls(second);
    for (RIL_Token t : {first, second, static_cast<RIL_Token>(nullptr)}) {
        deliver(imsd::msg::kCurCallInd, kNoCalls);
        EXPECT_EQ(host.completions().back().t, t != nullptr ? t : second);
    }
    EXPECT_EQ(host.completions().size(), 2u) << "a third answer finds nobody waiting";
    EXPECT_TRUE(host.logged(" zol_cm_callsvc_event_cur_call_ind(),exit error"));
}

// The answer arrives while the send is still returning, and the send then
// fails: the request is still answered exactly once, by the answer.
int answer_during_send(void *, const uint8_t *, int32_t)
{
    agent::on_send(nullptr, nullptr);
    agent::deliver(frame(imsd::msg::kCurCallInd, kNoCalls));
    Host::get().wait_until([] { return !Host::get().completions().empty(); });
    return -1;
}

// The host may hand a completed request's token to its next request at once
// (rild frees a request's record inside OnRequestComplete). Here the stack's
// answer completes the request while its send is still out, the token goes to
// a new request, and then the first send fails.
int answer_then_reuse_token(void *context, const uint8_t *, int32_t)
{
    auto t = static_cast<RIL_Token>(context);
    agent::on_send(nullptr, nullptr);
    agent::deliver(frame(imsd::msg::kCurCallInd, kNoCalls));
    Host::get().wait_until([&] { return Host::get().completions_for(t).size() == 1; });
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t);
    return -1;
}

TEST_F(Flow, AnswerRacingAFailedSendCompletesOnce)
{
    RIL_Token t = token(41);
    agent::on_send(answer_during_send, nullptr);
    calls(t);
    ASSERT_EQ(host.completions_for(t).size(), 1u);
    EXPECT_EQ(host.completions_for(t)[0].error, RIL_E_SUCCESS);
    EXPECT_EQ(pending(), 0u);

    RIL_Token reused = token(42);
    agent::on_send(answer_then_reuse_token, reused);
    calls(reused);
    ASSERT_EQ(host.completions_for(reused).size(), 1u) << "the failed send answered the token's next request";
    EXPECT_EQ(waits_for(reused), 0x17545u) << "the next request still waits for its answer";
    deliver(imsd::msg::kCurCallInd, kNoCalls);
    ASSERT_EQ(host.completions_for(reused).size(), 2u);
    EXPECT_EQ(host.completions_for(reused)[1].error, RIL_E_SUCCESS);
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
    deliver(imsd::msg::kCurCallInd, kNoCalls);
    ASSERT_EQ(host.completions_for(tok.get()).size(), 1u);
    tok.serial = 777;
    agent::set_result(-1);
    EXPECT_FALSE(h.send(17, {}, "fail line\n"));
    EXPECT_EQ(agent::frames(), (std::vector<Bytes>{{0, 0, 0, 0, 43, 0, 17, 0, 0, 0, 0}}));
    EXPECT_EQ(host.completions_for(tok.get()).size(), 1u);
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 43\n"));
    EXPECT_FALSE(host.logged("Not found ReqList entry : token id 777\n"));
}

TEST_F(Flow, ImmediatePatternAnswersFromTheSendResult)
{
    for (int result : {0, 3}) {
        SetUp();
        agent::set_result(result);
        Token t(50);
        const uint8_t payload[2] = {7, 8};
        zol_request_params_type request = {RIL_REQUEST_DIAL, nullptr, 0, t.get()};
        zol_request_return_type ret{};
        const RIL_Errno code = result == 0 ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE;
        {
            zol::Handler h({"immediate", 0}, &request, &ret, {.entry = zol::Entry::none, .exit = zol::Exit::none});
            EXPECT_EQ(h.send_immediate(1, {payload, sizeof payload}, "fail line\n", "ok line\n"), code);
        }
        const auto done = host.completions_for(t.get());
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].error, code);
        EXPECT_TRUE(host.logged(result == 0 ? "ok line\n" : "fail line\n"));
        EXPECT_EQ(agent::frames().at(0), (Bytes{0, 0, 0, 0, 50, 0, 1, 0, 0, 0, 2, 7, 8}));
    }
}

// The handler's own lines, the assertion conditions and the completions, in
// order, with source line numbers as "L#" (source positions, whose paths
// depend on the build, are left out).
std::vector<std::string> trace_of(const std::string &handler)
{
    std::vector<std::string> out;
    for (const LogLine &l : Host::get().log_lines()) {
        if (l.text.find(".cpp - ") == std::string::npos &&
            (l.text.find(handler) != std::string::npos || l.text.starts_with("Cond: ") ||
             l.text.starts_with("UI <--- "))) {
            out.push_back(std::regex_replace(l.text, std::regex(" - L[0-9]+"), " - L#"));
        }
    }
    return out;
}

// Handlers begin with their entry line, or none; refused requests and stack
// messages nobody waits for end with the exit line, an exit error naming call
// control, another line of their own, or none at all.
TEST_F(Flow, HandlersBeginAndEndWithTheirOwnLines)
{
    const int32_t mode_seven = 7;
    const int16_t half_word = 1;
    const std::string failed = " Complete --- Token 60, Generic Failure, Len 0 ]\n";
    const struct {
        int request;
        Bytes data;
        std::string handler;
        std::vector<std::string> lines;
    } requests[] = {
        {RIL_REQUEST_DIAL, {}, "zol_cm_callsvc_request_dial",
         {"Cond: in_data_ptr != ((void *)0)", "zol_cm_callsvc_request_dial() entry",
          "UI <--- RIL_REQUEST_DIAL (10)" + failed}},
        {RIL_REQUEST_DTMF_START, {}, "zol_cm_callsvc_request_dtmf_start",
         {"Cond: params_ptr->data != ((void *)0)", "zol_cm_callsvc_request_dtmf_start() entry",
          "UI <--- RIL_REQUEST_DTMF_START (49)" + failed,
          "zol_cm - zol_cm_callsvc_request_dtmf_start() - L# exit error"}},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, bytes_of(half_word), "zol_cm_callsvc_request_ims_set_registration_state",
         {"zol_cm_callsvc_request_ims_set_registration_state() entry",
          "UI <--- RIL_REQUEST_IMS_SET_REGISTRATION_STATE (338)" + failed,
          "zol_cm - zol_cm_callsvc_request_ims_set_registration_state() - L# exit error"}},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, bytes_of(half_word), "zol_sms_request_sms_acknowledge",
         {"zol_sms_request_sms_acknowledge() entry", "UI <--- RIL_REQUEST_SMS_ACKNOWLEDGE (37)" + failed}},
        {RIL_REQUEST_QUERY_FACILITY_LOCK, {}, "zol_sups_request_query",
         {"Cond: params_ptr->data != ((void *)0)", "zol_sups_request_query(): no facility, request 42 refused\n",
          "UI <--- RIL_REQUEST_QUERY_FACILITY_LOCK (42)" + failed}},
        {RIL_REQUEST_SET_CLIR, bytes_of(mode_seven), "zol_sups_CLIR_request_set",
         {"zol_sups_CLIR_request_set() entry",
          "zol_sups_CLIR_request_set(): setting selects no operation, request 32 refused\n",
          "UI <--- RIL_REQUEST_SET_CLIR (32)" + failed, "zol_sups_CLIR_request_set() exit"}},
    };
    for (const auto &c : requests) {
        SCOPED_TRACE(c.handler);
        host.reset();
        request(c.request, c.data, token(60));
        EXPECT_EQ(trace_of(c.handler), c.lines);
        EXPECT_EQ(host.completions().size(), 1u);
        EXPECT_TRUE(agent::frames().empty());
    }
    const struct {
        uint16_t message;
        Bytes payload;
        std::string handler;
        std::vector<std::string> lines;
    } events[] = {
        {imsd::kMsgSmsSendStatus, Bytes(12, 1), "zol_sms_event_send_msg_status_ind",
         {"zol_sms_event_send_msg_status_ind() entry", " zol_sms_event_send_msg_status_ind(), error"}},
        {imsd::kMsgSsInterrogateConf, imsd::encode_ss_conf(true), "zol_sups_event_interrogate_ss_conf",
         {"zol_sups_event_interrogate_ss_conf() entry", "zol_sups_event_interrogate_ss_conf() exit"}},
        {imsd::kMsgConfigConf, Bytes(12, 1), "zol_cm_callsvc_event_get_cfg_conf",
         {"zol_cm_callsvc_event_get_cfg_conf() entry", " zol_cm_callsvc_event_get_cfg_conf(),exit error"}},
        {imsd::msg::kCurCallInd, {}, "zol_cm_callsvc_event_cur_call_ind",
         {"Cond: cur_calls != ((void *)0)", "zol_cm_callsvc_event_cur_call_ind() entry",
          " zol_cm_callsvc_event_cur_call_ind(),exit error"}},
    };
    for (const auto &e : events) {
        SCOPED_TRACE(e.handler);
        host.reset();
        if (e.payload.empty()) { // no payload at all, as a null record from the queue
            const size_t before = handled();
            zol_event_queue(1, e.message, nullptr, 0, ZOL_EVENT_TOKEN);
            ASSERT_TRUE(host.wait_until([&] { return handled() > before; }));
        } else {
            deliver(e.message, e.payload);
        }
        EXPECT_EQ(trace_of(e.handler), e.lines);
        EXPECT_TRUE(host.completions().empty());
    }
}

} // namespace
