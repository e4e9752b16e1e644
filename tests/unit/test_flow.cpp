// The request/confirmation flow every handler shares: requests refused for
// their data, a full list, duplicate tokens, answers racing a send, the order
// waiting requests are answered in, and the lines a handler begins and ends with.
#include "fixture.h"
#include "flow/zol_flow.h"

using namespace zol_kit;
namespace msg = zol::imsd::msg;

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

// Data a handler cannot read, or that selects nothing to do: answered with 2
// at once, nothing sent, nothing remembered.
TEST_F(Flow, RequestsWithoutUsableDataAreRefused)
{
    static const std::string d129(129, '9'), d42(42, '5'), d39(39, '5'), smsc51(51, '1');
    const Bytes status5 = forwarding(5, 0), status1 = forwarding(1, 0);
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
        {RIL_REQUEST_IMS_SEND_SMS, ims_sms(nullptr, "00", RADIO_TECH_3GPP2)},
        {RIL_REQUEST_IMS_SEND_SMS, ims_sms("12", nullptr)},
        {RIL_REQUEST_IMS_SEND_SMS, ims_sms(smsc51.c_str(), "00")},
        {RIL_REQUEST_IMS_SEND_SMS, bytes_of(RIL_IMS_SMS_Message{RADIO_TECH_3GPP, 0, 1, {}})},
        {RIL_REQUEST_IMS_SEND_SMS, Bytes(8, 0)},
        {RIL_REQUEST_IMS_SEND_SMS, {}},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, {}},
        {RIL_REQUEST_SMS_ACKNOWLEDGE, words({2, 0})},
        {RIL_REQUEST_SET_COLP, words({2})},
        {RIL_REQUEST_SET_CLIR, words({3})},
        {RIL_REQUEST_SET_CALL_WAITING, words({-1})},
        {RIL_REQUEST_SET_CALL_WAITING, {}},
        {RIL_REQUEST_SET_CALL_WAITING, {2, 0}},
        {RIL_REQUEST_SET_CALL_FORWARD, status5},
        // A short record with a status that is otherwise accepted.
        {RIL_REQUEST_SET_CALL_FORWARD, Bytes(status1.begin(), status1.end() - 1)},
        {RIL_REQUEST_SET_CALL_FORWARD, forwarding(1, 0, 0, 129, d42.c_str())},
        {RIL_REQUEST_SET_CALL_FORWARD, forwarding(1, 0, 0, 145, d39.c_str())},
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
    EXPECT_TRUE(host.logged("zol_sups_request_query(): no facility, request 42 refused\n"));
    // The one line that goes to the main log.
    const auto log = host.log_lines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogLine &l) {
        return l.text == "unsupported arg to RIL_REQUEST_SMS_ACKNOWLEDGE\n" &&
               l.buffer == LOG_ID_MAIN && l.priority == ANDROID_LOG_ERROR && l.tag == "IMS-ref-zol";
    }));
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
    for (int number : {RIL_REQUEST_GET_CURRENT_CALLS, RIL_REQUEST_ANSWER, RIL_REQUEST_DTMF_START,
                       RIL_REQUEST_QUERY_CLIP}) {
        RIL_Token t = token(800 + number);
        request(number, {'1', 0, 0, 0}, t);
        ASSERT_EQ(host.completions_for(t).size(), 1u) << number;
        EXPECT_EQ(host.completions_for(t)[0].error, RIL_E_GENERIC_FAILURE);
    }
    EXPECT_TRUE(host.logged("Fail to add entry to ReqList for envent: 40.\n"));
    EXPECT_TRUE(host.logged_prefix("Fail to add ReqList entry for token id 809 ["));
    EXPECT_TRUE(agent::frames().empty());
    EXPECT_FALSE(host.logged("zol_cm_callsvc_request_answer() exit")) << "no exit after refusal";
    EXPECT_EQ(pending(), 50u);
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

// rild may hand a completed request's token to its next request at once: here
// while the first request's send is still out, and that send then fails.
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

// A request completed before its message goes out, its token reused: the frame
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
// order (source positions, whose paths depend on the build, left out).
std::vector<std::string> trace_of(const std::string &handler)
{
    std::vector<std::string> out;
    for (const LogLine &l : Host::get().log_lines()) {
        if (l.text.find(".cpp - ") == std::string::npos &&
            (l.text.find(handler) != std::string::npos || l.text.starts_with("Cond: ") ||
             l.text.starts_with("UI <--- "))) {
            out.push_back(l.text);
        }
    }
    return out;
}

// Handlers begin with their entry line; refused requests and stack messages
// nobody waits for end with the exit line, a line of their own, or none.
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
    // A send status nobody waits for.
    host.reset();
    deliver(imsd::kMsgSmsSendStatus, Bytes(12, 1));
    EXPECT_EQ(trace_of("zol_sms_event_send_msg_status_ind"),
              (std::vector<std::string>{"zol_sms_event_send_msg_status_ind() entry",
                                        " zol_sms_event_send_msg_status_ind(), error"}));
    EXPECT_TRUE(host.completions().empty());
}

} // namespace
