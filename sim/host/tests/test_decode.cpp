// Decoding of what the module hands the host: call lists from RIL_CallIms
// pointer arrays, and the other shapes by request number.
#include <gtest/gtest.h>

#include "call_records.h"
#include "decode.h"
#include "ril.h"

namespace zol_host {
namespace {

using zol_host_test::CallRecords;

TEST(CallListDecode, CopiesEveryFieldTheHostReads)
{
    CallRecords list;
    RIL_CallIms &video = list.add(2, RIL_CALL_HOLDING, "+4915551234", "conference");
    video.call.toa = 145;
    video.call.isMpty = 1;
    video.call.isMT = 1;
    video.call.isVoice = 0;
    video.callType = 3;
    video.callAttribute = 2;
    list.add(7, 6, nullptr);

    const Decoded d = decode_call_list(list.data(), list.len());
    ASSERT_TRUE(d.problem.empty()) << d.problem;
    ASSERT_TRUE(d.calls);
    ASSERT_EQ(d.calls->size(), 2u);
    const CallInfo &c = (*d.calls)[0];
    EXPECT_EQ(c.index, 2);
    EXPECT_EQ(c.state, RIL_CALL_HOLDING);
    EXPECT_EQ(c.toa, 145);
    EXPECT_EQ(c.mpty, 1);
    EXPECT_EQ(c.mt, 1);
    EXPECT_EQ(c.voice, 0);
    EXPECT_EQ(c.number, "+4915551234");
    EXPECT_EQ(c.call_type, 3);
    EXPECT_EQ(c.call_attribute, 2);
    EXPECT_EQ(c.extra_text, "conference");
    EXPECT_EQ((*d.calls)[1].number, std::nullopt);
    EXPECT_EQ(d.summary, "2 calls");
    EXPECT_EQ(d.details[1], "call 7: state=6 number=null toa=129 mpty=0 mt=0 voice=1 calltype=0 "
                            "attr=1 text=null");

    // The module frees its records after the callback: nothing may point into them.
    list.texts()[0].assign("overwritten");
    EXPECT_EQ((*d.calls)[0].number, "+4915551234");
}

TEST(CallListDecode, CountComesFromTheLength)
{
    CallRecords list;
    list.add(1, RIL_CALL_ACTIVE, "1");
    list.add(2, RIL_CALL_ACTIVE, "2");
    list.add(3, RIL_CALL_ACTIVE, "3");
    struct Case {
        const char *name;
        const void *data;
        size_t len;
        size_t calls;
        bool problem;
    };
    const size_t p = sizeof(RIL_CallIms *);
    const Case cases[] = {
        {"all", list.data(), 3 * p, 3, false},
        {"null, length 0", nullptr, 0, 0, false},
        {"length not a pointer multiple", list.data(), 2 * p + 1, 0, true},
        {"null with a length", nullptr, p, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = decode_call_list(c.data, c.len);
        ASSERT_TRUE(d.calls);
        EXPECT_EQ(d.calls->size(), c.calls);
        EXPECT_EQ(!d.problem.empty(), c.problem) << d.problem;
    }
}

TEST(CallListDecode, NullRecordIsAProblemAndSkipped)
{
    CallRecords list;
    list.add(1, RIL_CALL_ACTIVE, "1");
    list.pointers().push_back(nullptr);
    const Decoded d = decode_call_list(list.data(), list.len());
    EXPECT_EQ(d.calls->size(), 1u);
    EXPECT_NE(d.problem.find("call record 1 is null"), std::string::npos);
}

TEST(ResponseDecode, ShapeFollowsTheRequestNumber)
{
    const int ints[] = {1, -2};
    char fwd_number[] = "+4930123";
    RIL_CallForwardInfo fwd = {1, 0, 1, 145, fwd_number, 20, nullptr};
    RIL_CallForwardInfo *fwds[] = {&fwd};
    char ack[] = "00";
    RIL_SMS_Response sms = {7, ack, -1};
    const unsigned char bytes[] = {0x00, 0xab, 0x10};

    struct Case {
        int request;
        const void *data;
        size_t len;
        std::string summary;
        std::string first_detail;
        bool problem;
    };
    const Case cases[] = {
        {RIL_REQUEST_QUERY_CLIP, ints, sizeof ints, "ints 1 -2", "", false},
        {RIL_REQUEST_QUERY_CLIP, ints, 3, "", "", true},
        {RIL_REQUEST_IMS_SEND_SMS, &sms, sizeof sms, "ref=7 ack=\"00\" error=-1", "",
         false},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, fwds, sizeof fwds, "1 forwarding record",
         "forwarding 0: status=1 reason=0 class=1 toa=145 number=\"+4930123\" time=20 "
         "interval=null",
         false},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, fwds, 3, "", "", true},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, fwd_number, sizeof(char *), "\"+4930123\"", "", false},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, nullptr, 0, "null", "", false},
        {999, bytes, sizeof bytes, "3 bytes", "00 ab 10", false},
        {RIL_REQUEST_DIAL, bytes, sizeof bytes, "", "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.request) + " len " + std::to_string(c.len));
        const Decoded d = decode_response(c.request, c.data, c.len);
        EXPECT_EQ(!d.problem.empty(), c.problem) << d.problem;
        if (!c.problem) {
            EXPECT_EQ(d.summary, c.summary);
            EXPECT_EQ(d.details.empty() ? "" : d.details[0], c.first_detail);
        }
    }
}

// Data of another request's shape (a status pair where forwarding record
// pointers belong) or a dangling pointer is reported, never followed into a crash.
TEST(ResponseDecode, PointersIntoUnreadableMemoryAreProblems)
{
    const int32_t status_pair[2] = {1, 4}; // read as one pointer on a 64-bit host
    const void *nowhere = reinterpret_cast<const void *>(uintptr_t{8});
    const void *unreadable[] = {nowhere, nowhere};
    char number[] = "+49";
    RIL_CallForwardInfo fwd = {1, 0, 1, 145, static_cast<char *>(const_cast<void *>(nowhere)), 0,
                               nullptr};
    RIL_CallForwardInfo *fwds[] = {&fwd};
    const char *texts[] = {number, static_cast<const char *>(nowhere)};
    const struct {
        int request;
        const void *data;
        size_t len;
        std::string problem;
    } cases[] = {
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, status_pair, sizeof(void *),
         "forwarding record 0 cannot be read"},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, fwds, sizeof fwds,
         "forwarding record 0 number points to memory that cannot be read"},
        {RIL_REQUEST_GET_CURRENT_CALLS, unreadable, sizeof unreadable, "call record 1 cannot be read"},
        {RIL_REQUEST_QUERY_CLIP, nowhere, 4, "the data (4 bytes) cannot be read"},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, nowhere, sizeof(void *),
         "the pointer array (" + std::to_string(sizeof(void *)) + " bytes) cannot be read"},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, nowhere, sizeof(char *),
         "the text points to memory that cannot be read"},
        {RIL_REQUEST_IMS_SEND_SMS, nowhere, sizeof(RIL_SMS_Response), "the record cannot be read"},
        {RIL_REQUEST_DIAL + 1000, nowhere, 3, "the data (3 bytes) cannot be read"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.problem);
        EXPECT_EQ(decode_response(c.request, c.data, c.len).problem, c.problem);
    }
    const Decoded strings = decode_shape(Shape::Strings, texts, sizeof texts);
    EXPECT_EQ(strings.problem, "string 1 points to memory that cannot be read");
    EXPECT_EQ(strings.details.at(0), "[0] \"+49\"");
}

TEST(UnsolDecode, KnownShapes)
{
    char number[] = "+4940555";
    RIL_SuppSvcNotification n = {1, 2, 3, 145, number};
    char pdu[] = "0791";
    EXPECT_EQ(decode_unsol(RIL_UNSOL_SUPP_SVC_NOTIFICATION, &n, sizeof n).summary,
              "type=1 code=2 index=3 toa=145 number=\"+4940555\"");
    // The length may or may not count the terminating NUL.
    EXPECT_EQ(decode_unsol(RIL_UNSOL_RESPONSE_NEW_SMS, pdu, 4).summary, "\"0791\"");
    EXPECT_EQ(decode_unsol(RIL_UNSOL_RESPONSE_NEW_SMS, pdu, 5).summary, "\"0791\"");
    EXPECT_FALSE(decode_unsol(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, pdu, 4).problem.empty());
}

// The values the expectations compare are copies, in the form each shape gives.
TEST(UnsolDecode, ValuesAreCopied)
{
    char id[] = "1";
    char type[] = "4";
    char number[] = "+4940555";
    char *invite[] = {id, type, number};
    const Decoded d = decode_unsol(RIL_UNSOL_IMS_MT_INVITE, invite, sizeof invite);
    ASSERT_TRUE(d.problem.empty()) << d.problem;
    number[1] = '0';
    EXPECT_EQ(d.strings, (std::vector<std::optional<std::string>>{"1", "4", "+4940555"}));
    EXPECT_EQ(d.details[2], "[2] \"+4940555\"");

    // A new message is its text, as long as the length says.
    char pdu[] = "07910000";
    EXPECT_EQ(decode_unsol(RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, pdu, 4).strings,
              (std::vector<std::optional<std::string>>{"0791"}));
}

TEST(Quote, EscapesWhatWouldBreakALine)
{
    EXPECT_EQ(quote(std::nullopt), "null");
    EXPECT_EQ(quote(std::optional<std::string>("a \"b\" \\ \n")), "\"a \\\"b\\\" \\\\ \\x0a\"");
}

} // namespace
} // namespace zol_host
