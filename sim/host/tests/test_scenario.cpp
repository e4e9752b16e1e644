// The scenario language: which lines parse to which steps, which are refused and
// where, and the expectations checked against hand-made completions.
#include <gtest/gtest.h>

#include "call_records.h"
#include "scenario.h"

namespace zol_host {
namespace {

using zol_host_test::CallRecords;

struct GoodLine {
    const char *line;
    StepKind kind;
    int number = 0;
    std::string text = "";
    int count = 1;
    std::optional<int> within = std::nullopt;
};

TEST(ScenarioParse, GoodLines)
{
    const GoodLine cases[] = {
        {"echo  hello, \"world\" # not a comment", StepKind::Echo, 0,
         "hello, \"world\" # not a comment"},
        {"request RIL_REQUEST_DIAL", StepKind::Send, 10},
        {"dial \"+49 30\" video", StepKind::Send, 10},
        {"expect no-unsol response_srvcc for=300", StepKind::ExpectNoUnsol, 1055, "", 1, 300},
        {"expect error \"Generic Failure\"", StepKind::ExpectError, 2},
        {"expect unsol 1001 count=3 within=250", StepKind::ExpectUnsol, 1001, "", 3, 250},
        {"sleep 1500", StepKind::Sleep, 1500},
    };
    for (const GoodLine &c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedLine p = parse_line(c.line, 5);
        ASSERT_TRUE(p.error.empty()) << p.error;
        ASSERT_TRUE(p.step);
        EXPECT_EQ(p.step->kind, c.kind);
        EXPECT_EQ(p.step->line, 5);
        EXPECT_EQ(p.step->number, c.number);
        EXPECT_EQ(p.step->text, c.text);
        EXPECT_EQ(p.step->count, c.count);
        EXPECT_EQ(p.step->within_ms, c.within);
    }
    const Step strings = *parse_line("expect strings 42 null \"null\" \"a b\"", 1).step;
    EXPECT_EQ(strings.data.strings, (std::vector<OptText>{"42", std::nullopt, "null", "a b"}));
}

TEST(ScenarioParse, BadLines)
{
    const std::pair<const char *, const char *> cases[] = {
        {"fly 123", "unknown step 'fly'"},
        {"request nine", "unknown request 'nine'"},
        {"hangup one", "'one' is not a number; usage: hangup <index>"},
        {"expect call 1 state=ringing", "bad value 'ringing' for state"},
        {"expect call 1 text=\"open", "unterminated quote"},
        {"expect unsol 1051 int=1,2", "int= takes one value"},
        {"expect forwarding 0 colour=1", "unknown forwarding key 'colour' (keys: status reason"},
    };
    for (const auto &[line, error] : cases) {
        SCOPED_TRACE(line);
        const ParsedLine p = parse_line(line, 1);
        EXPECT_FALSE(p.step);
        EXPECT_NE(p.error.find(error), std::string::npos) << p.error;
    }
}

TEST(ScenarioParse, ErrorsCarryFileAndLine)
{
    const Scenario s = parse_scenario("# a comment\n"
                                      "\n"
                                      "calls\r\n"
                                      "bogus\n"
                                      "   # indented comment\n"
                                      "expect calls x\n"
                                      "expect calls 1",
                                      "t.zs");
    EXPECT_EQ(s.errors, (std::vector<std::string>{"t.zs:4: unknown step 'bogus'",
                                                  "t.zs:6: expected expect calls <n>"}));
    ASSERT_EQ(s.steps.size(), 2u);
    EXPECT_EQ(s.steps[0].line, 3);
    EXPECT_EQ(s.steps[0].source, "calls");
    EXPECT_EQ(s.steps[1].line, 7);
}

// A completion of request 9 as the host records it.
Completion call_list_completion(CallRecords &list, int error = 0)
{
    return {4, 9, error, list.len(), decode_response(9, list.data(), list.len())};
}

std::vector<CallCheck> checks_of(const std::string &line)
{
    const ParsedLine p = parse_line("expect call 0 " + line, 1);
    EXPECT_TRUE(p.step) << p.error;
    return p.step ? p.step->checks : std::vector<CallCheck>{};
}

TEST(Expectations, ErrorAndCallCountOfTheLastCompletion)
{
    const Completion c{3, 1, 6, 0, {}};
    EXPECT_EQ(check_error(c, 6), std::nullopt);
    EXPECT_EQ(check_error(c, 0),
              "RIL_REQUEST_GET_SIM_STATUS #3 completed with Request Not Supported "
              "(6), expected Success (0)");
    EXPECT_EQ(check_error(std::nullopt, 0), "no completion yet");
    CallRecords list;
    list.add(1, RIL_CALL_ACTIVE, "1");
    list.add(2, RIL_CALL_HOLDING, "2");
    EXPECT_EQ(check_call_count(call_list_completion(list), 2), std::nullopt);
    EXPECT_EQ(check_call_count(call_list_completion(list), 1),
              "RIL_REQUEST_GET_CURRENT_CALLS #4 has 2 calls, expected 1");
    // A failed request is no call list, not an empty one.
    EXPECT_NE(check_call_count(Completion{4, 9, 6, 0, {}}, 0).value_or("").find("failed with"),
              std::string::npos);
}

TEST(Expectations, CallKeysMatchAndMismatch)
{
    CallRecords list;
    RIL_CallIms &r = list.add(2, RIL_CALL_HOLDING, "+4915551234", "two words");
    r.call.toa = 145;
    r.call.isMpty = 3;
    r.call.isMT = 1;
    r.callType = 3;
    r.callAttribute = 2;
    list.add(5, RIL_CALL_INCOMING, nullptr);
    const Completion c = call_list_completion(list);

    const std::pair<int, const char *> matching[] = {
        {2, "state=holding number=+4915551234 toa=145 mpty=3 mt=yes voice=1 calltype=3 attr=2"},
        {5, "state=incoming number=null text=null mt=0"},
    };
    for (const auto &[index, line] : matching) {
        SCOPED_TRACE(line);
        EXPECT_EQ(check_call(c, index, checks_of(line)), std::nullopt);
    }

    const std::tuple<int, const char *, const char *> mismatching[] = {
        {2, "state=active", "call 2: state is holding, expected active"},
        {2, "number=+4915551235", "call 2: number is \"+4915551234\", expected \"+4915551235\""},
        {5, "number=\"\"", "call 5: number is null, expected \"\""},
        {3, "", "no call 3 in RIL_REQUEST_GET_CURRENT_CALLS #4 (calls: 2, 5)"},
    };
    for (const auto &[index, line, reason] : mismatching) {
        SCOPED_TRACE(line);
        EXPECT_EQ(check_call(c, index, checks_of(line)), reason);
    }
}

// What the host prints for a call, pasted into a scenario, holds for that call.
TEST(Expectations, PrintedCallParsesBackAsItsOwnExpectation)
{
    CallRecords list;
    RIL_CallIms &r = list.add(9, 6, "sip:\"odd\"\\user@example.org", "tab\there");
    r.callType = -1;
    const Completion c = call_list_completion(list);
    const std::string printed = format_call((*c.decoded.calls)[0]);
    const std::string keys = printed.substr(printed.find(": ") + 2);
    EXPECT_EQ(check_call(c, 9, checks_of(keys)), std::nullopt) << printed;
}

// Runs one expectation line against a completion, as the runner does.
std::optional<std::string> expect_on(const std::string &line, const std::optional<Completion> &c)
{
    const ParsedLine p = parse_line(line, 1);
    EXPECT_TRUE(p.step) << p.error;
    if (!p.step) {
        return "unparsed";
    }
    const Step &s = *p.step;
    switch (s.kind) {
    case StepKind::ExpectData:
        return check_data(c, s.data);
    case StepKind::ExpectNoData:
        return check_no_data(c);
    case StepKind::ExpectSmsResponse:
        return check_sms_response(c, s.fields);
    case StepKind::ExpectForwardings:
        return check_forward_count(c, s.number);
    case StepKind::ExpectForwarding:
        return check_forward(c, s.number, s.fields);
    default:
        return "not a data expectation";
    }
}

Completion completed(int request, int error, const void *data, size_t len)
{
    return {5, request, error, len, decode_response(request, data, len)};
}

TEST(Expectations, DataOfTheLastCompletion)
{
    const int pair[] = {1, 4};
    char ack[] = "41";
    RIL_SMS_Response sms_ack = {8, ack, 10};
    char n1[] = "+861234";
    RIL_CallForwardInfo f0 = {1, 0, 1, 0, n1, 0, nullptr};
    RIL_CallForwardInfo f1 = {0, 2, 0, 0, nullptr, 20, nullptr};
    RIL_CallForwardInfo *fwds[] = {&f0, &f1};

    const Completion clir = completed(RIL_REQUEST_GET_CLIR, 0, pair, sizeof pair);
    const Completion failed{5, RIL_REQUEST_GET_CLIR, 2, 0, {}};
    const Completion retry = completed(RIL_REQUEST_IMS_SEND_SMS, 10, &sms_ack, sizeof sms_ack);
    const Completion list = completed(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, 0, fwds, sizeof fwds);

    struct Case {
        const char *line;
        const Completion *c;
        std::optional<std::string> failure;
    };
    const Case cases[] = {
        {"expect ints 2 4", &clir, "RIL_REQUEST_GET_CLIR #5: ints are 1 4, expected 2 4"},
        {"expect ints 1 4", &failed,
         "RIL_REQUEST_GET_CLIR #5 (Generic Failure (2)): carried no data, expected ints 1 4"},
        {"expect no-data", &clir, "RIL_REQUEST_GET_CLIR #5 carried ints 1 4, expected no data"},
        {"expect sms-response error=0", &retry,
         "RIL_REQUEST_IMS_SEND_SMS #5 (SMS Send Fail Retry (10)): error is 10, expected 0"},
        {"expect forwardings 1", &list,
         "RIL_REQUEST_QUERY_CALL_FORWARD_STATUS #5 has 2 forwarding records, expected 1"},
        {"expect forwarding 1 reason=3", &list, "forwarding 1: reason is 2, expected 3"},
        {"expect forwarding 2", &list,
         "no forwarding 2 in RIL_REQUEST_QUERY_CALL_FORWARD_STATUS #5 (2 records)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(expect_on(c.line, *c.c), c.failure);
    }
    EXPECT_EQ(expect_on("expect ints 1", std::nullopt), "no completion yet");
}

// What the host prints for a forwarding record, pasted into a scenario, holds for it.
TEST(Expectations, PrintedForwardingParsesBack)
{
    char n[] = "sip:\"x\"@y";
    RIL_CallForwardInfo f = {1, 5, 16, 145, n, 30, n};
    RIL_CallForwardInfo *fwds[] = {&f};
    const Completion c = completed(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, 0, fwds, sizeof fwds);
    const std::string printed = c.decoded.details.at(0);
    EXPECT_EQ(expect_on("expect forwarding 0 " + printed.substr(printed.find(": ") + 2), c),
              std::nullopt)
        << printed;
}

TEST(Expectations, UnsolicitedData)
{
    char id[] = "1";
    char type[] = "4";
    char number[] = "sip:a,b";
    char *invite[] = {id, type, number};
    const Unsolicited mt{RIL_UNSOL_IMS_MT_INVITE, sizeof invite,
                         decode_unsol(RIL_UNSOL_IMS_MT_INVITE, invite, sizeof invite)};
    const int held = 2;
    const Unsolicited hold{RIL_UNSOL_CALL_HOLD_NOTIFICATION, 4,
                           decode_unsol(RIL_UNSOL_CALL_HOLD_NOTIFICATION, &held, 4)};
    RIL_SuppSvcNotification n = {0, 2, 0, 0, nullptr};
    const Unsolicited supp{RIL_UNSOL_SUPP_SVC_NOTIFICATION, sizeof n,
                           decode_unsol(RIL_UNSOL_SUPP_SVC_NOTIFICATION, &n, sizeof n)};
    const Unsolicited changed{RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, 0, {}};

    struct Case {
        const char *line;
        const Unsolicited *u;
        std::optional<std::string> failure;
    };
    const Case cases[] = {
        {"expect unsol 1047 strings=1,4,\"sip:a,b\"", &mt, std::nullopt},
        {"expect unsol 1051 int=2", &hold, std::nullopt},
        {"expect unsol 1051 int=3", &hold, "ints are 2, expected 3"},
        {"expect unsol 1011 type=0 code=2 index=0 toa=0 number=null", &supp, std::nullopt},
        {"expect unsol 1011 code=1", &supp, "code is 2, expected 1"},
        {"expect unsol 1001 int=1", &changed, "carried no data, expected ints 1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedLine p = parse_line(c.line, 1);
        ASSERT_TRUE(p.step) << p.error;
        EXPECT_EQ(check_unsol_data(*c.u, p.step->data), c.failure);
    }
}

} // namespace
} // namespace zol_host
