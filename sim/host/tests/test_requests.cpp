// The host data each request command builds, read back through the host
// interface's records as the module reads them; and the decoding of what the
// module hands back, including data that does not fit its shape or points
// where nothing can be read.
#include <gtest/gtest.h>

#include <cstring>

#include "call_records.h"
#include "decode.h"
#include "requests.h"

namespace zol_host {
namespace {

using zol_host_test::CallRecords;

// Builds a command line as the console and the scenario runner do.
Outgoing build(const std::string &line)
{
    std::string error;
    std::vector<Word> w = split_words(line, error).value_or(std::vector<Word>{});
    const RequestCommand *c = w.empty() ? nullptr : find_request_command(w[0].text);
    Outgoing out;
    EXPECT_TRUE(c != nullptr && prepare_request(*c, {w.begin() + 1, w.end()}, out).empty()) << line;
    return out;
}

std::vector<int> ints_of(const Outgoing &o)
{
    std::vector<int> v(o.data.length() / sizeof(int));
    if (!v.empty()) {
        memcpy(v.data(), o.data.data(), v.size() * sizeof(int));
    }
    return v;
}

std::vector<OptText> strings_of(const Outgoing &o)
{
    std::vector<OptText> v;
    const auto *p = static_cast<char *const *>(o.data.data());
    for (size_t i = 0; i < o.data.length() / sizeof(char *); ++i) {
        v.push_back(p[i] != nullptr ? OptText(p[i]) : std::nullopt);
    }
    return v;
}

// What the scenarios cannot tell apart: the type of a number, the generic forms,
// the placement of text requests. The password's place (text 5, where the
// module reads it) is shown by the barring story in tests/e2e/scenarios/sups.scn.
TEST(RequestData, WhatTheModuleReads)
{
    const auto fwd_of = [](const std::string &line) {
        return *static_cast<const RIL_CallForwardInfo *>(build(line).data.data());
    };
    const Outgoing set = build("cf-set 1 0 16 +1 interval=\"08:00-18:00\"");
    EXPECT_STREQ(static_cast<const RIL_CallForwardInfo *>(set.data.data())->timeInterval,
                 "08:00-18:00");
    // A number with "+" is international (145) unless the line says otherwise.
    EXPECT_EQ(fwd_of("cf-set 3 0 1 +491234").toa, 145);
    EXPECT_EQ(fwd_of("cf-query 1").status, 2);
    EXPECT_EQ(ints_of(build("sms-ack 1")), (std::vector<int>{1, 0}));
    EXPECT_EQ(ints_of(build("request 12 ints 4 -5")), (std::vector<int>{4, -5}));
    EXPECT_EQ(strings_of(build("request 337 strings 14 null \"null\"")),
              (std::vector<OptText>{"14", std::nullopt, "null"}));
    // A text request's data is the characters; its length is a pointer's, and
    // that many bytes are there to read.
    const Outgoing tone = build("dtmf-start #");
    ASSERT_EQ(tone.data.length(), sizeof(char *));
    EXPECT_EQ(memcmp(tone.data.data(), "#\0\0\0", 4), 0);
    EXPECT_EQ(build("request hangup").data.data(), nullptr);
    const Outgoing empty = build("request 12 empty");
    EXPECT_NE(empty.data.data(), nullptr);
    EXPECT_EQ(empty.data.length(), 0u);

    std::vector<OptText> words = {"AO", std::nullopt};
    RequestData d = RequestData::strings(words);
    words[0]->assign("XX");
    RequestData moved = std::move(d); // keeps the addresses the record points to
    EXPECT_STREQ(static_cast<char *const *>(moved.data())[0], "AO");
}

// The fields are read back by tests/e2e/scenarios/call_list_edge.scn; that they
// are copied before the module frees them, by the e2e_valgrind_* runs.
TEST(Decode, CallListsAreCountedFromTheLength)
{
    CallRecords list;
    list.add(2, RIL_CALL_HOLDING, "+4915551234");
    list.add(7, 6, nullptr);
    list.pointers.push_back(nullptr);
    const size_t p = sizeof(RIL_CallIms *);
    const struct {
        const char *name;
        const void *data;
        size_t len;
        size_t calls;
        const char *problem;
    } cases[] = {
        {"null, length 0", nullptr, 0, 0, ""},
        {"length not a pointer multiple", list.data(), p + 1, 0, "is not a multiple"},
        {"null with a length", nullptr, p, 0, "null"},
        {"a null record is skipped", list.data(), 3 * p, 2, "call record 2 is null"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded got = decode_call_list(c.data, c.len);
        EXPECT_EQ(got.calls->size(), c.calls);
        EXPECT_NE(got.problem.find(c.problem), std::string::npos) << got.problem;
        EXPECT_EQ(got.problem.empty(), *c.problem == 0) << got.problem;
    }
}

TEST(Decode, ShapeFollowsTheRequestNumber)
{
    const int ints[] = {1, -2};
    const unsigned char bytes[] = {0x00, 0xab, 0x10};
    const struct {
        int request;
        const void *data;
        size_t len;
        std::string summary; // empty: a problem
    } cases[] = {
        {RIL_REQUEST_QUERY_CLIP, ints, 3, ""},
        {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, ints, 3, ""},
        {RIL_REQUEST_DIAL, bytes, sizeof bytes, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.request) + " len " + std::to_string(c.len));
        const Decoded d = decode_response(c.request, c.data, c.len);
        EXPECT_EQ(d.problem.empty(), !c.summary.empty()) << d.problem;
        EXPECT_EQ(d.summary, c.summary);
    }
}

// Data of another request's shape (a status pair where forwarding record
// pointers belong) or a dangling pointer is reported, never followed into a crash.
TEST(Decode, PointersIntoUnreadableMemoryAreProblems)
{
    const int32_t status_pair[2] = {1, 4}; // read as one pointer on a 64-bit host
    const void *nowhere = reinterpret_cast<const void *>(uintptr_t{8});
    const void *unreadable[] = {nowhere, nowhere};
    char number[] = "+49";
    RIL_CallForwardInfo fwd = {1, 0,      1, 145, static_cast<char *>(const_cast<void *>(nowhere)),
                               0, nullptr};
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
        {RIL_REQUEST_GET_CURRENT_CALLS, unreadable, sizeof unreadable,
         "call record 1 cannot be read"},
        {RIL_REQUEST_QUERY_CLIP, nowhere, 4, "the data (4 bytes) cannot be read"},
        {RIL_REQUEST_IMS_GET_CONFIGRATION, nowhere, sizeof(char *),
         "the text points to memory that cannot be read"},
        {RIL_REQUEST_IMS_SEND_SMS, nowhere, sizeof(RIL_SMS_Response), "the record cannot be read"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.problem);
        EXPECT_EQ(decode_response(c.request, c.data, c.len).problem, c.problem);
    }
    const Decoded strings = decode_shape(Shape::Strings, texts, sizeof texts);
    EXPECT_EQ(strings.problem, "string 1 points to memory that cannot be read");
}

TEST(Decode, UnsolicitedTextsAndQuoting)
{
    // A new message is its text, as long as the length says, with or without the NUL.
    char pdu[] = "07910000";
    EXPECT_EQ(decode_unsol(RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, pdu, 4).strings,
              (std::vector<OptText>{"0791"}));
    EXPECT_EQ(decode_unsol(RIL_UNSOL_RESPONSE_NEW_SMS, pdu, 9).summary, "\"07910000\"");
    EXPECT_FALSE(decode_unsol(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, pdu, 4).problem.empty());
    EXPECT_EQ(quote(std::optional<std::string>("a \"b\" \\ \n")), "\"a \\\"b\\\" \\\\ \\x0a\"");
}

} // namespace
} // namespace zol_host
