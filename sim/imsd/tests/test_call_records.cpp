// Payloads of the call messages, checked against literal bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "call_records.h"

using namespace zol::imsd;

namespace {

void put(Bytes &b, size_t offset, std::initializer_list<uint8_t> values)
{
    std::copy(values.begin(), values.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
}

void put_text(Bytes &b, size_t offset, const std::string &text)
{
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace

TEST(CallRecords, DialIsReadAtTheModulesOffsets)
{
    Bytes conference(1655);
    put_text(conference, 1, "Conference Call");
    put(conference, 129, {15, 2, 0, 0, 0, 4, 0, 0, 0, 64, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0});
    put_text(conference, 154, "a,b");
    auto d = decode_dial(conference);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->number, "Conference Call");
    EXPECT_EQ(d->number_kind, 2u);
    EXPECT_EQ(d->call_type, 4u);
    EXPECT_EQ(d->video_dir, 3u);
    EXPECT_EQ(d->participants, "a,b");

    // A length byte beyond the digits field reads no further than the field.
    Bytes long_number(1655, '7');
    long_number[129] = 200;
    d = decode_dial(long_number);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->number, std::string(128, '7'));

    EXPECT_FALSE(decode_dial(Bytes(1654)));
}

TEST(CallRecords, RequestsFromTheModuleAreDecodedOrRefusedWhenShort)
{
    Bytes answer(1526);
    put(answer, 0, {0xFF, 1, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0});
    const auto a = decode_call_response(answer);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->call_id, 0xFF);
    EXPECT_EQ(a->accept, 1u);
    EXPECT_EQ(a->call_type, 4u);
    EXPECT_EQ(a->video_dir, 2u);

    const auto invite = decode_call_response(Bytes{44, 1, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(invite);
    EXPECT_EQ(invite->call_id, 44);
    EXPECT_EQ(invite->accept, 1u);
    EXPECT_EQ(invite->call_type, 0u) << "the 9-byte form has no type";
    EXPECT_FALSE(decode_call_response(Bytes(8)));

    const auto release = decode_release(Bytes{2, 1, 0, 0, 0});
    ASSERT_TRUE(release);
    EXPECT_EQ(release->index, 2);
    EXPECT_EQ(release->kind, 1);
    EXPECT_FALSE(decode_release(Bytes{0xFF}));

    EXPECT_FALSE(decode_modify_request(Bytes(12)));

    EXPECT_FALSE(decode_modify_response(Bytes(16)));

    EXPECT_EQ(decode_dtmf_start(Bytes{255, '#'}), '#');
    EXPECT_FALSE(decode_dtmf_start(Bytes{255}));
    EXPECT_EQ(decode_split(Bytes{3}), 3);
    EXPECT_FALSE(decode_split(Bytes{}));
}

TEST(CallRecords, IndicationsCarryTheirFieldsWhereTheModuleReadsThem)
{
    const struct {
        const char *name;
        Bytes got;
        Bytes want;
    } cases[] = {
        {"end", encode_call_end(2, 16), {2, 16, 0, 0, 0}},
        {"end, cause in all four bytes", encode_call_end(1, 0x01020304), {1, 4, 3, 2, 1}},
        {"mo progress", encode_mo_progress(3, CallState::alerting), {3, 5, 0, 0, 0}},
        {"call id", encode_call_id(7), {7}},
        {"dtmf confirmation", encode_dtmf_conf(0xFF, 1), {0xFF, 1, 0, 0, 0}},
        {"modify indication", encode_modify_ind(1, 4, 2),
         {1, 4, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}},
        {"modify confirmation", encode_modify_cnf(1, 1, 1, 0xFFFFFFFF),
         {1, 1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"sups confirmation", encode_sups_conf(0xFF, 0, 31),
         {0xFF, 0, 0, 0, 0, 31, 0, 0, 0}},
        {"srvcc", encode_srvcc(0), {0, 0, 0, 0}},
        {"audio codec", encode_audio_codec(2, 1), {2, 1, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.got, c.want) << c.name;
    }
}

TEST(CallRecords, InvitationIsLaidOutLikeTheStartOfADial)
{
    Call call;
    call.id = 1;
    call.number = "1234";
    call.type = CallType::voice;
    call.video_dir = 0xFFFFFFFF;
    Bytes want(154);
    put(want, 0, {1, '1', '2', '3', '4'});
    put(want, 129, {4, 1, 0, 0, 0, 1, 0, 0, 0, 64, 0, 0, 0, 3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(encode_mt_invite(call), want);

    call.type = CallType::video;
    call.video_dir = 3;
    call.number = std::string(130, '9');
    const Bytes video = encode_mt_invite(call);
    ASSERT_EQ(video.size(), 154u);
    EXPECT_EQ(video[127], '9');
    EXPECT_EQ(video[128], 0) << "the number keeps a terminator inside its 128 bytes";
    EXPECT_EQ(video[129], 127);
    EXPECT_EQ(Bytes(video.begin() + 134, video.begin() + 138), (Bytes{4, 0, 0, 0}));
    EXPECT_EQ(Bytes(video.begin() + 146, video.begin() + 150), (Bytes{3, 0, 0, 0}));
}
