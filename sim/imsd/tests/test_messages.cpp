// Frame decoding and the message registry.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "messages.h"
#include "records.h"

using namespace zol::imsd;

TEST(Frame, DecodesGoodPacketsAndRefusesMalformedOnes)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> packet;
        bool good;
        int32_t token;
        uint16_t message;
        std::vector<uint8_t> payload;
    };
    const Case cases[] = {
        {"header only", {0, 0, 0, 0, 5, 0, 17, 0, 0, 0, 0}, true, 5, 17, {}},
        {"payload", {0, 0x01, 0x02, 0x03, 0x04, 0x75, 0x35, 0, 0, 0, 2, 0xAA, 0xBB}, true,
         0x01020304, 30005, {0xAA, 0xBB}},
        {"negative token, top message id", {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0},
         true, -1, 0xFFFF, {}},
        {"empty", {}, false, 0, 0, {}},
        {"ten bytes", {0, 0, 0, 0, 5, 0, 17, 0, 0, 0}, false, 0, 0, {}},
        {"lead byte", {1, 0, 0, 0, 5, 0, 17, 0, 0, 0, 0}, false, 0, 0, {}},
        {"length beyond the packet", {0, 0, 0, 0, 5, 0, 17, 0, 0, 0, 3, 0xAA}, false, 0, 0, {}},
        {"bytes beyond the length", {0, 0, 0, 0, 5, 0, 17, 0, 0, 0, 0, 0xAA}, false, 0, 0, {}},
        {"huge length", {0, 0, 0, 0, 5, 0, 17, 0xFF, 0xFF, 0xFF, 0xFF}, false, 0, 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Frame frame;
        std::string error;
        ASSERT_EQ(decode_frame(c.packet, frame, error), c.good);
        if (c.good) {
            EXPECT_EQ(frame.token, c.token);
            EXPECT_EQ(frame.message, c.message);
            EXPECT_EQ(frame.payload, c.payload);
            EXPECT_EQ(encode_frame(frame), c.packet) << "encoding gives the same bytes back";
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

TEST(Messages, GetCurrentCallsIsAnsweredWithTheCallListUnderTheSameToken)
{
    Model model;
    Call call;
    call.id = 4;
    call.number = "123";
    model.calls.add(call);
    for (int32_t token : {5, 0, -7}) {
        const std::vector<Frame> out = dispatch(model, Frame{token, kMsgGetCurrentCalls, {}});
        ASSERT_EQ(out.size(), 1u);
        EXPECT_EQ(out[0].token, token);
        EXPECT_EQ(out[0].message, 30021);
        EXPECT_EQ(out[0].payload, encode_call_list(model.calls));
    }
}

TEST(Messages, UnknownAndUnhandledIdsProduceNothing)
{
    Model model;
    for (uint16_t id : {0, 7, 999, 30021, 65535}) {
        EXPECT_TRUE(dispatch(model, Frame{1, id, {1, 2, 3}}).empty()) << id;
    }
    EXPECT_STREQ(message_name(999), "unknown");
}

TEST(Messages, EveryIdIsListedOnce)
{
    std::set<uint16_t> seen;
    for (const MessageInfo &m : all_messages()) {
        EXPECT_TRUE(seen.insert(m.id).second) << "listed twice: " << m.id;
    }
    EXPECT_EQ(seen.size(), 49u); // 19 requests, 30 from the stack
}
