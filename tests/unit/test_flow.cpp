// The request/confirmation flow every handler shares: requests refused for
// their data, failed sends, a full list, duplicate tokens, answers racing a
// send, the order waiting requests are answered in, and the lines a handler
// begins and ends with.
#include <regex>

#include "fixture.h"
#include "flow/zol_flow.h"

using namespace zol_kit;
namespace msg = zol::imsd::msg;

namespace {

const Bytes kNoCalls = {0};

Bytes dial(const char *address, int kind = 0, int call_type = 0)
{
    return bytes_of(RIL_Dial{const_cast<char *>(address), kind, nullptr, call_type});
}
Bytes sms(const char *const *texts, int tech = RADIO_TECH_3GPP)
{
    RIL_IMS_SMS_Message m{static_cast<RIL_RadioTechnologyFamily>(tech), 0, 1, {}};
    m.message.gsmMessage = const_cast<char **>(texts);
    return bytes_of(m);
}
Bytes fwd(int status, int reason, int toa = 129, const char *number = nullptr)
{
    return bytes_of(
        RIL_CallForwardInfo{status, reason, 0, toa, const_cast<char *>(number), 0, nullptr});
}

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

// Data a handler cannot read, or that selects nothing to do: answered with 2
// at once, nothing sent, nothing remembered.
TEST_F(Flow, RequestsWithoutUsableDataAreRefused)
{
    static const std::string d129(129, '9'), d42(42, '5'), d39(39, '5'), smsc51(51, '1');
    static const char *const sms_texts[][2] = {
        {nullptr, "00"}, {"12", nullptr}, {smsc51.c_str(), "00"}};
    const Bytes status5 = fwd(5, 0), status1 = fwd(1, 0);
    const struct {
        int request;
        Bytes data;
        zol_handler_type direct = nullptr;
        bool pointer = false; // a data pointer with no bytes
    } refused[] = {
        {RIL_REQUEST_DIAL, {}},
        {RIL_REQUEST_DIAL, words({1})},
        {RIL_REQUEST_DIAL, dial(nullptr)},
        {RIL_REQUEST_DIAL, dial(d129.c_str(), 0, 3)},
        {RIL_REQUEST_IMS_MT_INVITE_RSP, words({1})},
        {RIL_REQUEST_HANGUP, {}, nullptr, true},
        {RIL_REQUEST_HANGUP, {2, 0}},
        {RIL_REQUEST_DTMF_START, {}, nullptr, true},
        {RIL_REQUEST_CALL_MODIFY, {}},
        {RIL_REQUEST_CALL_MODIFY, words({2})},
        {RIL_REQUEST_CALL_MODIFY_RSP, {}},
        {RIL_REQUEST_SEPARATE_CONNECTION, {}, zol_cm_callsvc_request_split_conference_call},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, {}},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, {1, 0}},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, {}},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, texts({nullptr})},
        {RIL_REQUEST_IMS_SET_CONFIGRATION, texts({"5"})},
        {RIL_REQUEST_IMS_SET_CONFIGRATION, texts({"5", nullptr})},
        {RIL_REQUEST_IMS_SEND_SMS, sms(sms_texts[0], RADIO_TECH_3GPP2)},
        {RIL_REQUEST_IMS_SEND_SMS, sms(sms_texts[1])},
        {RIL_REQUEST_IMS_SEND_SMS, sms(sms_texts[2])},
        {RIL_REQUEST_IMS_SEND_SMS, sms(nullptr)},
        {RIL_REQUEST_IMS_SEND_SMS, Bytes(8, 0)},
        {RIL_REQUEST_IMS_SEND_SMS, {}},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, {}},
        {RIL_REQUEST_SET_COLP, words({2})},
        {RIL_REQUEST_SET_CLIR, words({3})},
        {RIL_REQUEST_SET_CALL_WAITING, words({-1})},
        {RIL_REQUEST_SET_CALL_WAITING, {}},
        {RIL_REQUEST_SET_CALL_WAITING, {2, 0}},
        {RIL_REQUEST_SET_CALL_FORWARD, status5},
        // A short record with a status that is otherwise accepted.
        {RIL_REQUEST_SET_CALL_FORWARD, Bytes(status1.begin(), status1.end() - 1)},
        {RIL_REQUEST_SET_CALL_FORWARD, fwd(1, 0, 129, d42.c_str())},
        {RIL_REQUEST_SET_CALL_FORWARD, fwd(1, 0, 145, d39.c_str())},
        {RIL_REQUEST_SET_FACILITY_LOCK, texts({"OI", "2", "", "1", "", "0"})},
        {RIL_REQUEST_SET_FACILITY_LOCK, texts({nullptr, "1", "", "1", "", "0"})},
        {RIL_REQUEST_SET_FACILITY_LOCK, texts({"OI", nullptr, "", "1", "", "0"})},
        {RIL_REQUEST_SET_FACILITY_LOCK, texts({"OI", "1", "", "1", ""})},
        {RIL_REQUEST_QUERY_FACILITY_LOCK, {}},
        {RIL_REQUEST_QUERY_FACILITY_LOCK, texts({nullptr})},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, {}},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, Bytes(status5.begin(), status5.begin() + 4)},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(&r - refused);
        expect_refused(r.request, r.data, r.direct, r.pointer);
    }
    EXPECT_TRUE(host.logged_prefix("zol_cm_callsvc_request_dial(): number of 129 digits"));
    EXPECT_TRUE(host.logged_prefix("zol_cm - zol_cm_callsvc_request_hangup() - L"));
    EXPECT_TRUE(host.logged("Cond: in_data_ptr->address != ((void *)0)"));
}

// A failed send is answered at once, with its line and code, and leaves no entry.
TEST_F(Flow, FailedSendsAreAnsweredAndLeaveNoEntry)
{
    static const char *const sms_texts[] = {nullptr, "00"};
    const struct {
        int request;
        Bytes data;
        int result;
        std::string line; // after "Reply to RIL --> "
        RIL_Errno error = RIL_E_GENERIC_FAILURE;
    } cases[] = {
        {RIL_REQUEST_GET_CURRENT_CALLS, {}, -1, "get current call fail,\n"},
        {RIL_REQUEST_IMS_SEND_SMS, sms(sms_texts), -1, "send sms fail,\n",
         RIL_E_SMS_SEND_FAIL_RETRY},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, words({1, 0}), 4, "send ack fail,\n"},
        {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, words({1}), 5,
         "ims_set_registration_state fail,\n"},
        {RIL_REQUEST_IMS_SET_CONFIGRATION, texts({"5", "1"}), 1, "ims_set_configration fail,\n"},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, texts({"7"}), 2, "ims_get_configration fail,\n"},
        {RIL_REQUEST_QUERY_CLIP, {}, -1, "INTERROGATE SS fail,\n"},
        {RIL_REQUEST_SET_COLP, words({1}), -1, "SUPS COLP Request fail,\n"},
        {RIL_REQUEST_SET_CLIR, words({1}), -1, "SUPS CLIR Request fail,\n"},
        {RIL_REQUEST_SET_CALL_WAITING, words({1, 1}), -1, "SUPS call waiting Request fail,\n"},
        {RIL_REQUEST_SET_CALL_FORWARD, fwd(1, 0), -1, "SUPS call forward Request fail,\n"},
        {RIL_REQUEST_SET_FACILITY_LOCK, texts({"OI", "1", "", "", "", "0"}), -1,
         "SUPS call barring Request fail,\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        agent::reset();
        agent::set_result(c.result);
        RIL_Token t = token(c.request);
        request(c.request, c.data, t);
        EXPECT_EQ(sent().size(), 1u);
        EXPECT_EQ(completion(t).error, c.error);
        EXPECT_TRUE(host.logged("Reply to RIL --> " + c.line));
        EXPECT_EQ(waits_for(t), 0u);
    }
}

// A full list, and a token pending already: refused before anything is sent.
TEST_F(Flow, FullListAndTokensPendingTwiceAreRefusedBeforeTheySend)
{
    RIL_Token twice = token(23);
    calls(twice);
    calls(twice);
    EXPECT_EQ(agent::frames().size(), 1u);
    EXPECT_EQ(completion(twice).error, RIL_E_GENERIC_FAILURE);
    EXPECT_EQ(pending(), 0u);
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        calls(token(100 + i));
    }
    agent::reset();
    host.reset();
    for (int number : {RIL_REQUEST_GET_CURRENT_CALLS, RIL_REQUEST_HANGUP, RIL_REQUEST_ANSWER,
                       RIL_REQUEST_DTMF_START, RIL_REQUEST_DTMF_STOP,
                       RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND,
                       RIL_REQUEST_IMS_GET_CONFIGRATION, RIL_REQUEST_QUERY_CLIP}) {
        RIL_Token t = token(800 + number);
        request(number,
                number == RIL_REQUEST_IMS_GET_CONFIGRATION ? texts({"7"}) : Bytes{'1', 0, 0, 0}, t);
        ASSERT_EQ(host.completions_for(t).size(), 1u) << number;
        EXPECT_EQ(host.completions_for(t)[0].error, RIL_E_GENERIC_FAILURE);
    }
    EXPECT_TRUE(host.logged("Fail to add entry to ReqList for envent: 40.\n"));
    EXPECT_TRUE(agent::frames().empty());
    EXPECT_FALSE(host.logged("zol_cm_callsvc_request_answer() exit")) << "no exit after refusal";
    EXPECT_EQ(pending(), 50u);
}

// Requests waiting for the same answer are completed oldest first, one per
// answer; an answer nobody waits for completes nothing.
TEST_F(Flow, WaitingRequestsAreAnsweredOldestFirstOnePerAnswer)
{
    static const char *const sms_texts[] = {nullptr, "00"};
    const struct {
        int request;
        Bytes data;
        uint16_t wire;
        Bytes payload;
        zol_handler_type direct = nullptr;
    } cases[] = {
        {RIL_REQUEST_GET_CURRENT_CALLS, {}, msg::kCurCallInd, kNoCalls},
        {RIL_REQUEST_HANGUP, words({1}), msg::kEndInd, imsd::encode_call_end(1, 1)},
        {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, {}, msg::kEndInd, imsd::encode_call_end(1, 1)},
        {RIL_REQUEST_ANSWER, {}, msg::kConnectedInd, imsd::encode_call_id(1)},
        {RIL_REQUEST_DTMF_START, text("1"), msg::kDtmfStartConf, imsd::encode_dtmf_conf(1, 1)},
        {RIL_REQUEST_DTMF_STOP, text("1"), msg::kDtmfStopConf, imsd::encode_dtmf_conf(1, 1)},
        {RIL_REQUEST_CONFERENCE,
         {},
         msg::kCurCallInd,
         kNoCalls,
         zol_cm_callsvc_request_conference_call},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, texts({"7"}), imsd::kMsgConfigConf,
         imsd::encode_config_conf(9, {1})},
        {RIL_REQUEST_IMS_SEND_SMS, sms(sms_texts), imsd::kMsgSmsSendStatus,
         imsd::encode_send_status(7, 0)},
        {RIL_REQUEST_SET_CALL_WAITING, words({1, 1}), imsd::kMsgSsActivateConf,
         imsd::encode_ss_conf(true)},
        {RIL_REQUEST_QUERY_CLIP,
         {},
         imsd::kMsgSsInterrogateConf,
         imsd::encode_ss_status_conf(1, true)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        SetUp();
        RIL_Token older = token(1001), newer = token(1002);
        for (RIL_Token t : {older, newer}) {
            c.direct != nullptr ? invoke(c.direct, c.request, c.data, t)
                                : request(c.request, c.data, t);
        }
        ASSERT_TRUE(host.completions().empty());
        for (RIL_Token t : {older, newer, newer}) { // the third answer leaves the last one
            deliver(c.wire, c.payload);
            EXPECT_EQ(host.completions().back().t, t);
            EXPECT_EQ(host.completions().back().error, RIL_E_SUCCESS);
        }
        EXPECT_EQ(host.completions().size(), 2u) << "a third answer finds nobody waiting";
    }
}

// The answer arrives while the send is still returning, and the send then
// fails: the request is still answered exactly once, by the answer.
int answer_during_send(void *, const uint8_t *, int32_t)
{
    agent::on_send(nullptr, nullptr);
    agent::deliver(frame(msg::kCurCallInd, kNoCalls));
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
    agent::deliver(frame(msg::kCurCallInd, kNoCalls));
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
    ASSERT_EQ(host.completions_for(reused).size(), 1u)
        << "the failed send answered the token's next request";
    EXPECT_EQ(waits_for(reused), 0x17545u) << "the next request still waits for its answer";
    deliver(msg::kCurCallInd, kNoCalls);
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
    zol::Handler h({"remembered", 0}, &request, &ret,
                   {.entry = zol::Entry::none, .exit = zol::Exit::none});
    ASSERT_TRUE(h.remember(0x17545));
    deliver(msg::kCurCallInd, kNoCalls);
    ASSERT_EQ(host.completions_for(tok.get()).size(), 1u);
    tok.serial = 777;
    agent::set_result(-1);
    EXPECT_FALSE(h.send(17, {}, "fail line\n"));
    EXPECT_EQ(agent::frames(), (std::vector<Bytes>{{0, 0, 0, 0, 43, 0, 17, 0, 0, 0, 0}}));
    EXPECT_EQ(host.completions_for(tok.get()).size(), 1u);
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 43\n"));
    EXPECT_FALSE(host.logged("Not found ReqList entry : token id 777\n"));
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
    const std::string failed = " Complete --- Token 60, Generic Failure, Len 0 ]\n";
    const struct {
        int request;
        Bytes data;
        std::string handler;
        std::vector<std::string> lines;
    } requests[] = {
        {RIL_REQUEST_DIAL,
         {},
         "zol_cm_callsvc_request_dial",
         {"Cond: in_data_ptr != ((void *)0)", "zol_cm_callsvc_request_dial() entry",
          "UI <--- RIL_REQUEST_DIAL (10)" + failed}},
        {RIL_REQUEST_DTMF_START,
         {},
         "zol_cm_callsvc_request_dtmf_start",
         {"Cond: params_ptr->data != ((void *)0)", "zol_cm_callsvc_request_dtmf_start() entry",
          "UI <--- RIL_REQUEST_DTMF_START (49)" + failed,
          "zol_cm - zol_cm_callsvc_request_dtmf_start() - L# exit error"}},
        {RIL_REQUEST_QUERY_FACILITY_LOCK,
         {},
         "zol_sups_request_query",
         {"Cond: params_ptr->data != ((void *)0)",
          "zol_sups_request_query(): no facility, request 42 refused\n",
          "UI <--- RIL_REQUEST_QUERY_FACILITY_LOCK (42)" + failed}},
        {RIL_REQUEST_SET_CLIR,
         words({7}),
         "zol_sups_CLIR_request_set",
         {"zol_sups_CLIR_request_set() entry",
          "zol_sups_CLIR_request_set(): setting selects no operation, request 32 refused\n",
          "UI <--- RIL_REQUEST_SET_CLIR (32)" + failed, "zol_sups_CLIR_request_set() exit"}},
    };
    for (const auto &c : requests) {
        SCOPED_TRACE(c.handler);
        host.reset();
        request(c.request, c.data, token(60));
        EXPECT_EQ(trace_of(c.handler), c.lines);
    }
    const struct {
        uint16_t message;
        Bytes payload;
        std::string handler;
        std::vector<std::string> lines;
    } events[] = {
        {imsd::kMsgSmsSendStatus,
         Bytes(12, 1),
         "zol_sms_event_send_msg_status_ind",
         {"zol_sms_event_send_msg_status_ind() entry",
          " zol_sms_event_send_msg_status_ind(), error"}},
        {msg::kCurCallInd,
         {},
         "zol_cm_callsvc_event_cur_call_ind",
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
