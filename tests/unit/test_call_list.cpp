// The stack's call list and its conversion into host call records.
#include "cm/zol_cm_internal.h"
#include "fixture.h"

using namespace zol_kit;

namespace {

RIL_CallIms convert(const imsd::Call &c, Bytes &storage)
{
    storage = call_list({c});
    RIL_CallIms out{};
    EXPECT_TRUE(
        zol::cm::convert_call_entry(storage.data(), static_cast<uint32_t>(storage.size()), 1, out));
    return out;
}

TEST(CallList, StateTypeAndVoiceFlag)
{
    // Active 0, holding 1, dialing 2, alerting 3, incoming 4, waiting 5.
    const int states[] = {0, 6, 2, 4, 0, 3, 6, 1, 5, 0};
    Bytes b;
    for (uint32_t s = 0; s < 10; ++s) {
        EXPECT_EQ(convert(call(1, "1", s), b).call.state, states[s]) << "stack state " << s;
    }
    EXPECT_EQ(zol::cm::host_call_state(0xFFFFFFFF), 0);
    const struct {
        uint32_t type, video;
        int call_type;
        char voice;
    } types[] = {{4, 2, 2, 0},  {4, 1, 1, 0}, {4, 3, 3, 0},          {4, 7, -1, 0},
                 {4, 0, -1, 0}, {1, 2, 0, 1}, {1, 0xFFFFFFFF, 0, 1}, {2, 2, 0, 0}};
    for (const auto &k : types) {
        imsd::Call c = call(1, "1", 4, k.type);
        c.video_dir = k.video;
        const RIL_CallIms r = convert(c, b);
        EXPECT_EQ(r.callType, k.call_type) << k.type << "/" << k.video;
        EXPECT_EQ(r.call.isVoice, k.voice) << k.type << "/" << k.video;
    }
}

TEST(CallList, NumberDirectionAttributeMultipartyAndText)
{
    const struct {
        const char *number;
        uint32_t direction, attribute;
        uint8_t mpty;
        int toa;
        char mt;
        int attr_word;
    } cases[] = {{"+4930123", 1, 64, 3, 145, 1, 2},
                 {"030123", 2, 0, 0, 129, 0, 1},
                 {"", 0, 65, 1, 129, 0, 1}};
    for (const auto &k : cases) {
        imsd::Call c = call(9, k.number);
        c.dir = static_cast<imsd::CallDir>(k.direction);
        c.attr = k.attribute;
        c.mpty = k.mpty;
        c.text = "conf-uri";
        Bytes b;
        const RIL_CallIms r = convert(c, b);
        EXPECT_EQ(r.call.toa, k.toa);
        EXPECT_EQ(r.call.isMT, k.mt);
        EXPECT_EQ(r.call.isMpty, static_cast<char>(k.mpty)) << "copied, not reduced to 0/1";
        EXPECT_EQ(r.callAttribute, k.attr_word);
        EXPECT_EQ(r.call.index, 9);
        EXPECT_STREQ(r.call.number, k.number);
        EXPECT_EQ(r.call.number, reinterpret_cast<char *>(b.data() + 2))
            << "points into the payload";
        EXPECT_STREQ(r.extraText, "conf-uri");
        EXPECT_EQ(r.call.als + r.call.isVoicePrivacy + r.reserved1 + r.reserved2, 0);
        EXPECT_TRUE(r.call.name == nullptr && r.call.uusInfo == nullptr);
    }
}

// Texts that fill their fields are cut so that they end inside them.
TEST(CallList, UnterminatedTextsAreCutAtTheirField)
{
    Bytes b = call_list({call(1, "")});
    std::fill(b.begin() + 2, b.begin() + 2 + 133, '7');
    std::fill(b.begin() + 152, b.begin() + 152 + 50, 'x');
    RIL_CallIms r{};
    ASSERT_TRUE(zol::cm::convert_call_entry(b.data(), static_cast<uint32_t>(b.size()), 1, r));
    EXPECT_EQ(strlen(r.call.number), 132u);
    EXPECT_EQ(strlen(r.extraText), 49u);
    Bytes short_payload(100, 0);
    EXPECT_FALSE(zol::cm::convert_call_entry(short_payload.data(), 100, 1, r));
}

// Through the module: the records the host receives, and lists refused whole.
class CallListFlow : public ModuleTest {
protected:
    // Sends request 9, answers with payload, returns the records as the host read them.
    std::vector<RIL_CallIms> round_trip(const Bytes &payload, Completion &done)
    {
        std::vector<RIL_CallIms> calls;
        host.on_complete([&](RIL_Token, RIL_Errno, void *response, size_t len) {
            read_response(RIL_REQUEST_GET_CURRENT_CALLS, response, len);
            for (size_t i = 0; i < len / sizeof(RIL_CallIms *); ++i) {
                calls.push_back(*static_cast<RIL_CallIms *const *>(response)[i]);
                calls.back().call.number = nullptr; // it points into the payload, freed next
            }
        });
        RIL_Token t = token(77);
        request(RIL_REQUEST_GET_CURRENT_CALLS, {}, t);
        deliver(imsd::msg::kCurCallInd, payload);
        done = completion(t);
        host.on_complete(nullptr);
        return calls;
    }
};

// The request is sent, waits for the list, and gets the calls in stack order.
TEST_F(CallListFlow, CallsInStackOrder)
{
    imsd::Call video = call(2, "+4915550002", 4, 4);
    video.video_dir = 3;
    Completion done;
    const auto calls = round_trip(call_list({video, call(1, "+4915550001", 7)}), done);
    EXPECT_EQ(done.error, RIL_E_SUCCESS);
    EXPECT_EQ(done.len, 2 * sizeof(RIL_CallIms *));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].call.index == 2 && calls[0].callType == 3);
    EXPECT_TRUE(calls[1].call.index == 1 && calls[1].call.state == RIL_CALL_HOLDING);
}

TEST_F(CallListFlow, ListsThatClaimMoreThanTheyCarryAreRefused)
{
    for (const Bytes &payload : {call_list({call(1, "1")}, 2), Bytes{}, Bytes{3, 1, 2, 3}}) {
        host.reset();
        Completion done;
        EXPECT_TRUE(round_trip(payload, done).empty());
        EXPECT_EQ(done.error, RIL_E_GENERIC_FAILURE);
    }
}

} // namespace
