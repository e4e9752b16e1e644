// The scenario language: what the scenarios under tests/ do not show by passing.
// Each kind of expectation must fail when it does not hold: a checker that always
// passed would pass every scenario.
#include <gtest/gtest.h>

#include "call_records.h"
#include "scenario.h"

namespace zol_host {
namespace {

using zol_host_test::CallRecords;

Completion completed(int request, int error, const void *data, size_t len)
{
    return {5, request, error, len, decode_response(request, data, len)};
}

// Runs one expectation line against a completion, as the runner does.
std::optional<std::string> expect_on(const std::string &line, const std::optional<Completion> &c)
{
    const ParsedLine p = parse_line(line, 1);
    if (!p.step) {
        return "unparsed: " + p.error;
    }
    const Step &s = *p.step;
    switch (s.kind) {
    case StepKind::ExpectError:
        return check_error(c, s.number);
    case StepKind::ExpectCalls:
        return check_call_count(c, s.number);
    case StepKind::ExpectCall:
        return check_call(c, s.number, s.checks);
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
        return "not a completion expectation";
    }
}

TEST(Expectations, EachKindFailsWithItsReason)
{
    CallRecords calls;
    RIL_CallIms &r = calls.add(2, RIL_CALL_HOLDING, "+4915551234", "two words");
    r.call.toa = 145;
    r.callType = 3;
    calls.add(5, RIL_CALL_INCOMING, nullptr);
    const Completion list = completed(RIL_REQUEST_GET_CURRENT_CALLS, 0, calls.data(), calls.len());
    const int pair[] = {1, 4};
    const Completion clir = completed(RIL_REQUEST_GET_CLIR, 0, pair, sizeof pair);
    const Completion failed{5, RIL_REQUEST_GET_CLIR, 2, 0, {}};
    char ack[] = "41";
    RIL_SMS_Response sms_ack = {8, ack, 10};
    const Completion retry = completed(RIL_REQUEST_IMS_SEND_SMS, 10, &sms_ack, sizeof sms_ack);
    char n1[] = "+861234";
    RIL_CallForwardInfo f0 = {1, 0, 1, 0, n1, 0, nullptr};
    RIL_CallForwardInfo f1 = {0, 2, 0, 0, nullptr, 20, nullptr};
    RIL_CallForwardInfo *fwds[] = {&f0, &f1};
    const Completion fwd = completed(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, 0, fwds, sizeof fwds);

    const struct {
        const char *line;
        std::optional<Completion> c;
        std::optional<std::string> failure;
    } cases[] = {
        {"expect error 0", failed,
         "RIL_REQUEST_GET_CLIR #5 completed with Generic Failure (2), expected Success (0)"},
        {"expect calls 1", list, "RIL_REQUEST_GET_CURRENT_CALLS #5 has 2 calls, expected 1"},
        {"expect call 2 state=active", list, "call 2: state is holding, expected active"},
        {"expect call 5 number=\"\"", list, "call 5: number is null, expected \"\""},
        {"expect call 3", list, "no call 3 in RIL_REQUEST_GET_CURRENT_CALLS #5 (calls: 2, 5)"},
        {"expect ints 2 4", clir, "RIL_REQUEST_GET_CLIR #5: ints are 1 4, expected 2 4"},
        {"expect ints 1 4", failed,
         "RIL_REQUEST_GET_CLIR #5 (Generic Failure (2)): carried no data, expected ints 1 4"},
        {"expect no-data", clir, "RIL_REQUEST_GET_CLIR #5 carried ints 1 4, expected no data"},
        {"expect sms-response error=0", retry,
         "RIL_REQUEST_IMS_SEND_SMS #5 (SMS Send Fail Retry (10)): error is 10, expected 0"},
        {"expect forwardings 1", fwd,
         "RIL_REQUEST_QUERY_CALL_FORWARD_STATUS #5 has 2 forwarding records, expected 1"},
        {"expect forwarding 1 reason=3", fwd, "forwarding 1: reason is 2, expected 3"},
        {"expect forwarding 2", fwd,
         "no forwarding 2 in RIL_REQUEST_QUERY_CALL_FORWARD_STATUS #5 (2 records)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        const auto got = expect_on(c.line, c.c);
        if (c.failure && got) {
            EXPECT_NE(got->find(*c.failure), std::string::npos) << *got;
        } else {
            EXPECT_EQ(got, c.failure);
        }
    }
}

// A call as the host prints it, pasted into a scenario, holds: odd texts survive.
TEST(Expectations, PrintedRecordsParseBackAsTheirOwnExpectation)
{
    CallRecords list;
    list.add(9, 6, "sip:\"odd\"\\user@example.org", "tab\there").callType = -1;
    const Completion calls = completed(RIL_REQUEST_GET_CURRENT_CALLS, 0, list.data(), list.len());
    const std::string call = format_call((*calls.decoded.calls)[0]);
    EXPECT_EQ(expect_on("expect call 9 " + call.substr(call.find(": ") + 2), calls), std::nullopt)
        << call;
}

} // namespace
} // namespace zol_host
