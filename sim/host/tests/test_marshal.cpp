// The host data each request command builds, read back through the host
// interface's records as the module reads them, and the commands' argument rules.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "decode.h"
#include "names.h"
#include "requests.h"

namespace zol_host {
namespace {

std::vector<Word> words_of(const std::string &line)
{
    std::string error;
    auto words = split_words(line, error);
    EXPECT_TRUE(words) << error;
    return words.value_or(std::vector<Word>{});
}

// Builds a command line as the console and the scenario runner do.
Outgoing build(const std::string &line, std::string *error = nullptr)
{
    std::vector<Word> w = words_of(line);
    Outgoing out;
    const RequestCommand *c = w.empty() ? nullptr : find_request_command(w[0].text);
    EXPECT_NE(c, nullptr) << line;
    if (c == nullptr) {
        return out;
    }
    w.erase(w.begin());
    const std::string e = prepare_request(*c, w, out);
    if (error != nullptr) {
        *error = e;
    } else {
        EXPECT_EQ(e, "") << line;
    }
    return out;
}

std::vector<int> ints_of(const Outgoing &o)
{
    EXPECT_EQ(o.data.length() % sizeof(int), 0u);
    std::vector<int> v(o.data.length() / sizeof(int));
    if (!v.empty()) {
        memcpy(v.data(), o.data.data(), o.data.length());
    }
    return v;
}

std::vector<OptText> strings_of(const Outgoing &o)
{
    EXPECT_EQ(o.data.length() % sizeof(char *), 0u);
    std::vector<OptText> v;
    const auto *p = static_cast<char *const *>(o.data.data());
    for (size_t i = 0; i < o.data.length() / sizeof(char *); ++i) {
        v.push_back(p[i] != nullptr ? OptText(p[i]) : std::nullopt);
    }
    return v;
}

TEST(RequestData, DialRecord)
{
    struct Case {
        const char *line;
        const char *address;
        int kind;
        int call_type;
    };
    const Case cases[] = {
        {"dial 12345", "12345", 0, 0},
        {"dial +4915551234 video", "+4915551234", 0, 3},
        {"dial \"sip:a@x,sip:b@x\" conference video", "sip:a@x,sip:b@x", 1, 3},
        {"dial 1 calltype=2 kind=7", "1", 7, 2},
        {"dial \"\"", "", 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outgoing o = build(c.line);
        EXPECT_EQ(o.request, RIL_REQUEST_DIAL);
        ASSERT_EQ(o.data.length(), sizeof(RIL_Dial));
        const auto *d = static_cast<const RIL_Dial *>(o.data.data());
        ASSERT_NE(d->address, nullptr);
        EXPECT_STREQ(d->address, c.address);
        EXPECT_EQ(d->dial_kind, c.kind);
        EXPECT_EQ(d->uusInfo, nullptr);
        EXPECT_EQ(d->callType, c.call_type);
    }
}

TEST(RequestData, ImsSmsRecordPointsToTheTextPair)
{
    const Outgoing o = build("sms-send 0791 0001000b91 7");
    EXPECT_EQ(o.request, RIL_REQUEST_IMS_SEND_SMS);
    ASSERT_EQ(o.data.length(), sizeof(RIL_IMS_SMS_Message));
    const auto *m = static_cast<const RIL_IMS_SMS_Message *>(o.data.data());
    EXPECT_EQ(m->tech, RADIO_TECH_3GPP);
    EXPECT_EQ(m->retry, 0);
    EXPECT_EQ(m->messageRef, 7);
    ASSERT_NE(m->message.gsmMessage, nullptr);
    EXPECT_STREQ(m->message.gsmMessage[0], "0791");
    EXPECT_STREQ(m->message.gsmMessage[1], "0001000b91");

    // "-" is no SMSC at all; quoted it is the text itself. The reference defaults to 0.
    const Outgoing none = build("sms-send - 00");
    const auto *n = static_cast<const RIL_IMS_SMS_Message *>(none.data.data());
    EXPECT_EQ(n->message.gsmMessage[0], nullptr);
    EXPECT_STREQ(n->message.gsmMessage[1], "00");
    EXPECT_EQ(n->messageRef, 0);
    const Outgoing dash = build("sms-send \"-\" 00");
    EXPECT_STREQ(static_cast<const RIL_IMS_SMS_Message *>(dash.data.data())->message.gsmMessage[0],
                 "-");
}

TEST(RequestData, CallForwardRecord)
{
    struct Case {
        const char *line;
        int request;
        RIL_CallForwardInfo words;  // number and interval compared apart
        OptText number;
        OptText interval;
    };
    const Case cases[] = {
        {"cf-query 1", RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, {2, 1, 0, 129, nullptr, 0, nullptr},
         std::nullopt, std::nullopt},
        {"cf-set 3 0 1 +491234", RIL_REQUEST_SET_CALL_FORWARD, {3, 0, 1, 145, nullptr, 0, nullptr},
         "+491234", std::nullopt},
        {"cf-set 3 2 1 1234 20", RIL_REQUEST_SET_CALL_FORWARD, {3, 2, 1, 129, nullptr, 20, nullptr},
         "1234", std::nullopt},
        {"cf-set 1 0 16 1234 toa=145 interval=\"08:00-18:00\"", RIL_REQUEST_SET_CALL_FORWARD,
         {1, 0, 16, 145, nullptr, 0, nullptr}, "1234", "08:00-18:00"},
        {"cf-set 4 0 0 -", RIL_REQUEST_SET_CALL_FORWARD, {4, 0, 0, 129, nullptr, 0, nullptr},
         std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outgoing o = build(c.line);
        EXPECT_EQ(o.request, c.request);
        ASSERT_EQ(o.data.length(), sizeof(RIL_CallForwardInfo));
        const auto *r = static_cast<const RIL_CallForwardInfo *>(o.data.data());
        EXPECT_EQ(r->status, c.words.status);
        EXPECT_EQ(r->reason, c.words.reason);
        EXPECT_EQ(r->serviceClass, c.words.serviceClass);
        EXPECT_EQ(r->toa, c.words.toa);
        EXPECT_EQ(r->timeSeconds, c.words.timeSeconds);
        EXPECT_EQ(r->number != nullptr ? OptText(r->number) : std::nullopt, c.number);
        EXPECT_EQ(r->timeInterval != nullptr ? OptText(r->timeInterval) : std::nullopt,
                  c.interval);
    }
}

TEST(RequestData, IntArrays)
{
    struct Case {
        const char *line;
        int request;
        std::vector<int> ints;
    };
    const Case cases[] = {
        {"answer 2", RIL_REQUEST_ANSWER, {2}},
        {"invite-response 300 1", RIL_REQUEST_IMS_MT_INVITE_RSP, {300, 1}},
        {"modify-response 2 -1", RIL_REQUEST_CALL_MODIFY_RSP, {2, -1}},
        {"sms-ack 1", RIL_REQUEST_SMS_ACKNOWLEDGE, {1, 0}},
        {"sms-ack 0 211", RIL_REQUEST_SMS_ACKNOWLEDGE, {0, 211}},
        {"cw-query", RIL_REQUEST_QUERY_CALL_WAITING, {0}},
        {"cw-set 1", RIL_REQUEST_SET_CALL_WAITING, {1, 1}},
        {"request 12 ints 4 5", RIL_REQUEST_HANGUP, {4, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outgoing o = build(c.line);
        EXPECT_EQ(o.request, c.request);
        EXPECT_EQ(ints_of(o), c.ints);
    }
}

TEST(RequestData, StringArrays)
{
    struct Case {
        const char *line;
        int request;
        std::vector<OptText> texts;
    };
    const Case cases[] = {
        {"facility-query AO 1234 1", RIL_REQUEST_QUERY_FACILITY_LOCK,
         {"AO", "1234", "1", std::nullopt}},
        // The module reads the password from text 5; Android's place for it is text 2.
        {"facility-set OI 1 0 16", RIL_REQUEST_SET_FACILITY_LOCK,
         {"OI", "1", "0", "16", std::nullopt, "0"}},
        {"facility-set AB 0 null \"\"", RIL_REQUEST_SET_FACILITY_LOCK,
         {"AB", "0", std::nullopt, "", std::nullopt, std::nullopt}},
        {"request 337 strings 14 null \"null\"", RIL_REQUEST_IMS_SET_CONFIGRATION,
         {"14", std::nullopt, "null"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Outgoing o = build(c.line);
        EXPECT_EQ(o.request, c.request);
        EXPECT_EQ(strings_of(o), c.texts);
    }
}

TEST(RequestData, TextAndNoData)
{
    // A text request's data is the characters; its length is a pointer's, and
    // that many bytes are there to read.
    const Outgoing tone = build("dtmf-start #");
    EXPECT_EQ(tone.request, RIL_REQUEST_DTMF_START);
    ASSERT_EQ(tone.data.length(), sizeof(char *));
    EXPECT_EQ(memcmp(tone.data.data(), "#\0\0\0", 4), 0);

    const std::pair<const char *, int> bare[] = {
        {"calls", 9}, {"hangup-background", 13}, {"colp-query", 319}, {"request hangup", 12},
    };
    for (const auto &[line, request] : bare) {
        SCOPED_TRACE(line);
        const Outgoing o = build(line);
        EXPECT_EQ(o.request, request);
        EXPECT_EQ(o.data.data(), nullptr);
        EXPECT_EQ(o.data.length(), 0u);
    }
    const Outgoing empty = build("request 12 empty");
    EXPECT_NE(empty.data.data(), nullptr);
    EXPECT_EQ(empty.data.length(), 0u);
}

TEST(RequestData, CopiesAreIndependentOfTheWords)
{
    std::vector<OptText> texts = {"AO", std::nullopt};
    RequestData d = RequestData::strings(texts);
    texts[0]->assign("XX");
    EXPECT_STREQ(static_cast<char *const *>(d.data())[0], "AO");
    // Moving keeps the addresses the record points to.
    RequestData moved = std::move(d);
    EXPECT_STREQ(static_cast<char *const *>(moved.data())[0], "AO");
}

TEST(RequestCommands, BadArguments)
{
    const std::pair<const char *, const char *> cases[] = {
        {"dial", "no number; usage: dial <number>"},
        {"dial 1 calltype=x", "'calltype=x' needs a number"},
        {"answer 1 2", "too many arguments"},
        {"hangup", "too few arguments; usage: hangup <index>"},
        {"dtmf-start 12", "the tone is one character, got '12'"},
        {"sms-send - 00 x", "'x' is not a number"},
        {"cf-set 1 0 1 123 20 30", "unknown option '30'"},
        {"cf-set 1 x 1 123", "'x' is not a number"},
        {"request 12 floats 1", "unknown data 'floats'"},
        {"request 12 ints x", "'x' is not a number"},
    };
    for (const auto &[line, reason] : cases) {
        SCOPED_TRACE(line);
        std::string error;
        build(line, &error);
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

// Every row names a request the host can name and whose answer it can decode.
TEST(RequestCommands, TableIsConsistent)
{
    std::set<std::string> names;
    std::set<int> requests;
    for (const RequestCommand &c : request_commands()) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(names.insert(c.name).second) << "name twice";
        EXPECT_EQ(find_request_command(c.name), &c);
        if (c.request == 0) {
            continue;
        }
        EXPECT_TRUE(requests.insert(c.request).second) << "request twice";
        EXPECT_FALSE(request_name(c.request).starts_with("RIL_REQUEST_" +
                                                          std::to_string(c.request)));
        // A known shape never falls back to a hex dump of unknown bytes.
        const int word = 1;
        const Decoded d = decode_response(c.request, &word, 3);
        EXPECT_EQ(d.summary.find("bytes"), std::string::npos) << d.summary;
    }
    EXPECT_EQ(find_request_command("bogus"), nullptr);
}

} // namespace
} // namespace zol_host
