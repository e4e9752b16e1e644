// The current call list payload, checked byte by byte against literal values.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "records.h"

using namespace zol::imsd;

namespace {

void put(std::vector<uint8_t> &bytes, size_t offset, std::initializer_list<uint8_t> values)
{
    ASSERT_LE(offset + values.size(), bytes.size());
    std::copy(values.begin(), values.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

void put_text(std::vector<uint8_t> &bytes, size_t offset, const std::string &text)
{
    ASSERT_LE(offset + text.size(), bytes.size());
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

Call make_call(uint8_t id, std::string number)
{
    Call c;
    c.id = id;
    c.number = std::move(number);
    return c;
}

} // namespace

TEST(CallList, TwoCallsByteByByte)
{
    CallTable table;
    Call a = make_call(1, "5551234");
    a.dir = CallDir::mt;
    a.state = CallState::incoming;
    a.attr = 0x01020304;
    table.add(a);
    Call b = make_call(7, "+4930123");
    b.type = CallType::video;
    b.state = CallState::held;
    b.video_dir = 3;
    b.mpty = 1;
    b.text = "conf";
    table.add(b);

    std::vector<uint8_t> expected(1 + 2 * 205, 0);
    expected[0] = 2;
    // First entry at 1.
    put(expected, 1 + 0, {0x01});
    put_text(expected, 1 + 1, "5551234");
    put(expected, 1 + 134, {0x01, 0x00, 0x00, 0x00}); // mobile terminated
    put(expected, 1 + 138, {0x01, 0x00, 0x00, 0x00}); // voice
    put(expected, 1 + 142, {0x03, 0x00, 0x00, 0x00}); // incoming
    put(expected, 1 + 146, {0x04, 0x03, 0x02, 0x01}); // attribute word, little-endian
    put(expected, 1 + 150, {0x00});
    put(expected, 1 + 201, {0xFF, 0xFF, 0xFF, 0xFF});
    // Second entry at 206.
    put(expected, 206 + 0, {0x07});
    put_text(expected, 206 + 1, "+4930123");
    put(expected, 206 + 134, {0x02, 0x00, 0x00, 0x00}); // mobile originated
    put(expected, 206 + 138, {0x04, 0x00, 0x00, 0x00}); // video
    put(expected, 206 + 142, {0x07, 0x00, 0x00, 0x00}); // held
    put(expected, 206 + 146, {0x00, 0x00, 0x00, 0x00});
    put(expected, 206 + 150, {0x01});
    put_text(expected, 206 + 151, "conf");
    put(expected, 206 + 201, {0x03, 0x00, 0x00, 0x00});

    const std::vector<uint8_t> payload = encode_call_list(table);
    ASSERT_EQ(payload.size(), 411u);
    EXPECT_EQ(payload, expected);
}

TEST(CallList, MaximalTextsKeepTheirTerminatorAndLongerOnesAreCut)
{
    const std::string number132(132, '9');
    const std::string text49(49, 't');
    // The encoder cuts what the model would refuse, without spilling into the next field.
    for (const std::string extra : {"", "12345"}) {
        CallTable table;
        Call call = make_call(9, number132 + extra);
        call.text = text49 + extra;
        table.add(call);
        const std::vector<uint8_t> p = encode_call_list(table);
        ASSERT_EQ(p.size(), 1u + 205u);
        EXPECT_EQ(std::string(p.begin() + 2, p.begin() + 2 + 132), number132);
        EXPECT_EQ(p[1 + 133], 0) << "number terminator";
        EXPECT_EQ(p[1 + 134], 0x02) << "direction right after the number block";
        EXPECT_EQ(std::string(p.begin() + 1 + 151, p.begin() + 1 + 200), text49);
        EXPECT_EQ(p[1 + 200], 0) << "text terminator";
        EXPECT_EQ(p[1 + 201], 0xFF) << "video direction right after the text block";
    }
}

TEST(CallList, EntriesFollowAscendingCallIdWhateverTheOrderOfAdding)
{
    EXPECT_EQ(encode_call_list(CallTable{}), std::vector<uint8_t>{0});
    CallTable table;
    for (uint8_t id : {9, 2, 255, 1}) {
        ASSERT_TRUE(table.add(make_call(id, std::to_string(id))));
    }
    const std::vector<uint8_t> p = encode_call_list(table);
    ASSERT_EQ(p.size(), 1u + 4 * 205u);
    EXPECT_EQ(p[0], 4);
    const uint8_t ids[] = {1, 2, 9, 255};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(p[1 + i * 205], ids[i]) << "entry " << i;
        EXPECT_EQ(static_cast<char>(p[2 + i * 205]), std::to_string(ids[i])[0]);
    }
}
