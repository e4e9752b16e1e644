// The stack's call list and its conversion into host call records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cm/zol_cm_internal.h"
#include "fake_agent.h"
#include "test_host.h"

using namespace zol_test;
using zol::cm::CallEntryLayout;

namespace {

struct StackCall {
    uint8_t id = 1;
    std::string number = "+15551234";
    uint32_t direction = 2;
    uint32_t type = 1;
    uint32_t state = 4;
    uint32_t attribute = 0;
    uint8_t multiparty = 0;
    std::string text;
    uint32_t video = 0xFFFFFFFF;
};

void put32(std::vector<uint8_t> &b, size_t off, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[off + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
}

std::vector<uint8_t> call_list(const std::vector<StackCall> &calls, int claimed_count = -1)
{
    std::vector<uint8_t> b(1 + calls.size() * CallEntryLayout::kSize, 0);
    b[0] = static_cast<uint8_t>(claimed_count >= 0 ? claimed_count : static_cast<int>(calls.size()));
    for (size_t i = 0; i < calls.size(); ++i) {
        const StackCall &c = calls[i];
        const size_t e = 1 + i * CallEntryLayout::kSize;
        b[e] = c.id;
        memcpy(&b[e + 1], c.number.data(), std::min<size_t>(c.number.size(), 133));
        put32(b, e + 134, c.direction);
        put32(b, e + 138, c.type);
        put32(b, e + 142, c.state);
        put32(b, e + 146, c.attribute);
        b[e + 150] = c.multiparty;
        memcpy(&b[e + 151], c.text.data(), std::min<size_t>(c.text.size(), 50));
        put32(b, e + 201, c.video);
    }
    return b;
}

RIL_CallIms convert(const StackCall &c, std::vector<uint8_t> &storage)
{
    storage = call_list({c});
    RIL_CallIms out;
    EXPECT_TRUE(zol::cm::convert_call_entry(storage.data(), static_cast<uint32_t>(storage.size()), 1, out));
    return out;
}

TEST(CallList, StateMapping)
{
    const int expected[] = {0, 6, RIL_CALL_DIALING, RIL_CALL_INCOMING, RIL_CALL_ACTIVE,
                            RIL_CALL_ALERTING, 6, RIL_CALL_HOLDING, RIL_CALL_WAITING, 0};
    for (uint32_t s = 0; s < 10; ++s) {
        StackCall c;
        c.state = s;
        std::vector<uint8_t> b;
        EXPECT_EQ(convert(c, b).call.state, expected[s]) << "stack state " << s;
    }
    EXPECT_EQ(zol::cm::host_call_state(0xFFFFFFFF), 0);
}

TEST(CallList, TypeAndVoiceFlag)
{
    struct Case {
        uint32_t type;
        uint32_t video;
        int call_type;
        char voice;
    } cases[] = {
        {4, 2, 2, 0}, {4, 1, 1, 0}, {4, 3, 3, 0}, {4, 7, -1, 0}, {4, 0, -1, 0},
        {1, 2, 0, 1}, {1, 0xFFFFFFFF, 0, 1}, {2, 2, 0, 0},
    };
    for (const Case &k : cases) {
        StackCall c;
        c.type = k.type;
        c.video = k.video;
        std::vector<uint8_t> b;
        const RIL_CallIms r = convert(c, b);
        EXPECT_EQ(r.callType, k.call_type) << k.type << "/" << k.video;
        EXPECT_EQ(r.call.isVoice, k.voice) << k.type << "/" << k.video;
    }
}

TEST(CallList, NumberDirectionAttributeMultipartyAndText)
{
    struct Case {
        std::string number;
        uint32_t direction;
        uint32_t attribute;
        uint8_t mpty;
        int toa;
        char mt;
        int attr_word;
    } cases[] = {
        {"+4930123", 1, 64, 3, 145, 1, 2},
        {"030123", 2, 0, 0, 129, 0, 1},
        {"", 0, 65, 1, 129, 0, 1},
    };
    for (const Case &k : cases) {
        StackCall c;
        c.number = k.number;
        c.direction = k.direction;
        c.attribute = k.attribute;
        c.multiparty = k.mpty;
        c.text = "conf-uri";
        c.id = 9;
        std::vector<uint8_t> b;
        const RIL_CallIms r = convert(c, b);
        EXPECT_EQ(r.call.toa, k.toa);
        EXPECT_EQ(r.call.isMT, k.mt);
        EXPECT_EQ(r.call.isMpty, static_cast<char>(k.mpty)) << "copied, not reduced to 0/1";
        EXPECT_EQ(r.callAttribute, k.attr_word);
        EXPECT_EQ(r.call.index, 9);
        EXPECT_STREQ(r.call.number, k.number.c_str());
        EXPECT_EQ(r.call.number, reinterpret_cast<char *>(b.data() + 2)) << "points into the payload";
        EXPECT_STREQ(r.extraText, "conf-uri");
        EXPECT_EQ(r.call.als, 0);
        EXPECT_EQ(r.call.isVoicePrivacy, 0);
        EXPECT_EQ(r.call.name, nullptr);
        EXPECT_EQ(r.call.uusInfo, nullptr);
        EXPECT_EQ(r.reserved1, 0);
        EXPECT_EQ(r.reserved2, 0);
    }
}

TEST(CallList, UnterminatedTextsAreCutAtTheirField)
{
    StackCall c;
    c.number = std::string(133, '7');
    c.text = std::string(50, 'x');
    std::vector<uint8_t> b;
    const RIL_CallIms r = convert(c, b);
    EXPECT_EQ(strlen(r.call.number), 132u);
    EXPECT_EQ(strlen(r.extraText), 49u);
    std::vector<uint8_t> short_payload(100, 0);
    RIL_CallIms out;
    EXPECT_FALSE(zol::cm::convert_call_entry(short_payload.data(), 100, 1, out));
}

// End to end through the module: the records the host receives.
class CallListFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        zol_reqlist_init();
        FakeAgent::get()->clear();
    }

    // Sends request 9, answers with payload, returns the decoded calls.
    std::vector<RIL_CallIms> round_trip(const std::vector<uint8_t> &payload, Completion &done)
    {
        std::vector<RIL_CallIms> calls;
        std::vector<std::string> numbers;
        host.set_on_complete([&](const Completion &c) {
            if (c.len == 0) {
                return;
            }
            // The reply is an array of record pointers; copy the records out while valid.
            RIL_CallIms *const *ptrs = reinterpret_cast<RIL_CallIms *const *>(c.data.data());
            for (size_t i = 0; i < c.len / sizeof(RIL_CallIms *); ++i) {
                calls.push_back(*ptrs[i]);
                numbers.emplace_back(ptrs[i]->call.number);
            }
        });
        Token t(77);
        radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, t.get());
        FakeAgent::get()->deliver(frame(30021, payload));
        EXPECT_TRUE(host.wait_until([&] { return host.completions_for(t.get()).size() == 1; }));
        done = host.completions_for(t.get()).at(0);
        for (size_t i = 0; i < calls.size(); ++i) {
            calls[i].call.number = nullptr; // pointed into the freed payload
            EXPECT_FALSE(numbers[i].empty());
        }
        host.set_on_complete(nullptr);
        return calls;
    }

    TestHost &host = TestHost::instance();
};

TEST_F(CallListFlow, TwoCallsInStackOrder)
{
    StackCall video;
    video.id = 2;
    video.type = 4;
    video.video = 3;
    StackCall held;
    held.id = 1;
    held.state = 7;
    Completion done;
    auto calls = round_trip(call_list({video, held}), done);
    EXPECT_EQ(done.error, RIL_E_SUCCESS);
    EXPECT_EQ(done.len, 2 * sizeof(RIL_CallIms *));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].call.index, 2);
    EXPECT_EQ(calls[0].callType, 3);
    EXPECT_EQ(calls[1].call.index, 1);
    EXPECT_EQ(calls[1].call.state, RIL_CALL_HOLDING);
    EXPECT_TRUE(host.logged("Reply to RIL --> Number of calls : 2\n"));
}

TEST_F(CallListFlow, ListsThatClaimMoreThanTheyCarryAreRefused)
{
    StackCall one;
    struct Case {
        std::vector<uint8_t> payload;
    } cases[] = {
        {call_list({one}, 2)},                  // says two, carries one
        {{}},                                   // not even the count
        {{3, 1, 2, 3}},                         // a count and a few bytes
    };
    for (const Case &c : cases) {
        host.reset();
        Completion done;
        auto calls = round_trip(c.payload, done);
        EXPECT_EQ(done.error, RIL_E_GENERIC_FAILURE);
        EXPECT_TRUE(calls.empty());
    }
}

} // namespace
