// zol-rild's pieces without a socket: parcels, frames, the framework
// adaptation and the baseband profile.
#include <gtest/gtest.h>

#include <cstring>

#include "baseband_profile.h"
#include "framework_adaptation.h"
#include "parcel.h"
#include "ril.h"
#include "rild_numbers.h"
#include "rild_wire.h"

namespace zol_host {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes le(std::initializer_list<int32_t> words)
{
    Bytes out(words.size() * 4);
    if (!out.empty()) {
        memcpy(out.data(), words.begin(), out.size());
    }
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes text(const OptText &t)
{
    ParcelWriter w;
    w.text(t);
    return w.take();
}

Bytes texts(std::initializer_list<OptText> t)
{
    ParcelWriter w;
    w.texts(std::vector<OptText>(t));
    return w.take();
}

// Plain texts cross in every request and reply of the oFono test.
TEST(Parcel, TextsOutsideAsciiAreUtf16)
{
    // Outside the BMP: a surrogate pair; bytes that are not UTF-8: U+FFFD.
    EXPECT_EQ(text("\xF0\x9F\x93\x9E"), (Bytes{2, 0, 0, 0, 0x3D, 0xD8, 0xDE, 0xDC, 0, 0, 0, 0}));
    EXPECT_EQ(text("\xC3"), (Bytes{1, 0, 0, 0, 0xFD, 0xFF, 0, 0}));
    const char *t = "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x93\x9E";
    const Bytes b = cat({text(t), le({7})});
    ParcelReader r(b);
    EXPECT_EQ(r.text(), std::optional<std::string>(t));
    EXPECT_EQ(r.i32(), 7);
    EXPECT_TRUE(r.finish()) << r.problem();
}

TEST(Parcel, ReaderStopsAtTheFirstFault)
{
    struct Case {
        const char *name;
        Bytes bytes;
        const char *problem;
    };
    const Case cases[] = {
        {"int cut short", {1, 2, 3}, "an int32 runs past the end"},
        {"text longer than the parcel", le({100, 0x00610061}), "a text of 100 units runs past"},
        {"negative text length", le({-2}), "text length -2"},
        {"NUL inside", cat({le({2}), Bytes{'a', 0, 0, 0, 0, 0, 0, 0}}), "a NUL inside a text"},
        {"lone low surrogate", cat({le({1}), Bytes{0x00, 0xDC, 0, 0}}), "unpaired UTF-16"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ParcelReader r(c.bytes);
        (void)r.text();
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.problem().find(c.problem), std::string::npos) << r.problem();
        EXPECT_EQ(r.i32(), 0) << "nothing is read after a fault";
    }
    // A count that cannot fit fails before anything is allocated.
    const Bytes many = le({0x40000000, 1});
    ParcelReader ints(many);
    EXPECT_TRUE(ints.ints().empty());
    EXPECT_NE(ints.problem().find("cannot fit"), std::string::npos);
    const Bytes extra = le({1, 5, 6});
    ParcelReader left(extra);
    EXPECT_EQ(left.ints(), std::vector<int32_t>{5});
    EXPECT_FALSE(left.finish());
}

TEST(Frames, ArriveInAnyPiecesAndOversizedOnesAreSkipped)
{
    const Bytes a = request_frame(51, 1, {});
    const Bytes big_head = {0x00, 0x00, 0x20, 0x00}; // 8192: over the limit
    const Bytes b = request_frame(10, 2, text("123"));
    const Bytes stream = cat({a, big_head, Bytes(8192, 0xEE), b});
    for (size_t piece : {stream.size(), size_t{1}, size_t{5}, size_t{4097}}) {
        SCOPED_TRACE(piece);
        FrameReader reader;
        std::vector<FrameReader::Event> events;
        for (size_t at = 0; at < stream.size(); at += piece) {
            const size_t n = std::min(piece, stream.size() - at);
            for (auto &e : reader.feed({stream.data() + at, n})) {
                events.push_back(std::move(e));
            }
        }
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[0].kind, FrameReader::Event::Frame);
        EXPECT_EQ(events[1].kind, FrameReader::Event::Oversized);
        const auto h = read_request_header(events[2].body);
        ASSERT_TRUE(h);
        EXPECT_EQ(h->request, 10);
        EXPECT_EQ(h->serial, 2);
        EXPECT_EQ(Bytes(h->payload.begin(), h->payload.end()), text("123"));
        EXPECT_FALSE(reader.unfinished());
    }
    FrameReader cut;
    EXPECT_TRUE(cut.feed({b.data(), b.size() - 1}).empty());
    EXPECT_EQ(cut.unfinished(), "a frame was cut short: 19 of 20 bytes");
}

// Their layout is read by oFono in every exchange; never send what it cannot take.
TEST(Frames, RepliesAndUnsolicitedResponsesStayUnderTheLimit)
{
    EXPECT_TRUE(reply_frame(1, 0, Bytes(kMaxFrameBody - 12, 0)));
    EXPECT_FALSE(reply_frame(1, 0, Bytes(kMaxFrameBody - 11, 0)));
    EXPECT_FALSE(unsol_frame(1003, Bytes(kMaxFrameBody - 7, 0)));
}

Plan plan(int request, const Bytes &payload, bool supported = true)
{
    return plan_request(request, payload, [&](int) { return supported; });
}

TEST(Adaptation, RoutesOfRequestsThatDoNotFit)
{
    struct Case {
        const char *name;
        int request;
        Bytes payload;
        bool supported;
        Plan::Route route;
    };
    const Case cases[] = {
        {"dial without a number", RIL_REQUEST_DIAL, cat({text(std::nullopt), le({0})}), true,
         Plan::Malformed},
        {"hangup count beyond the payload", RIL_REQUEST_HANGUP, le({3, 1}), true, Plan::Malformed},
        {"the module does not serve it", RIL_REQUEST_GET_CURRENT_CALLS, {}, false, Plan::Other},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Plan p = plan(c.request, c.payload, c.supported);
        EXPECT_EQ(p.route, c.route) << p.problem;
        EXPECT_TRUE(p.steps.empty() || c.route == Plan::Module);
    }
}

// oFono reads the classic layout of active, held and incoming calls; what it has
// no room for is left out or shown otherwise.
TEST(Adaptation, CallListInTheClassicLayout)
{
    Completion c;
    c.request = RIL_REQUEST_GET_CURRENT_CALLS;
    CallInfo releasing;
    releasing.index = 2;
    releasing.state = 6;
    CallInfo video;
    video.index = 3;
    video.state = RIL_CALL_INCOMING;
    video.voice = 0;
    c.decoded.calls = {releasing, video};
    const ClientReply r = client_reply(ReplyShape::Calls, c);
    EXPECT_EQ(r.payload.at(0), 1) << "one call";
    EXPECT_EQ(r.payload.at(4 + 4 * 6), 1) << "isVoice";
    EXPECT_NE(r.note.find("call 2 in state 6 left out"), std::string::npos) << r.note;
    EXPECT_NE(r.note.find("video call 3 shown as voice"), std::string::npos) << r.note;

    c.decoded.problem = "call record 0 cannot be read";
    EXPECT_EQ(client_reply(ReplyShape::Calls, c).error, RIL_E_GENERIC_FAILURE);
}

TEST(Adaptation, ModulePrivateUnsolicitedNumbersNeverPassRaw)
{
    // An incoming call's invitation is accepted (oFono's mt_call shows it); a
    // change of call type is declined, as the client has no way to answer it.
    Unsolicited modify;
    modify.number = RIL_UNSOL_RESPONSE_CALL_MODIFY_IND;
    modify.decoded.ints = std::vector<int>{3, 2};
    const UnsolAction decline = translate_unsol(modify);
    ASSERT_EQ(decline.kind, UnsolAction::Request);
    EXPECT_EQ(decline.request->request, RIL_REQUEST_CALL_MODIFY_RSP);
    EXPECT_EQ(static_cast<const int *>(decline.request->data.data())[1], 0);

    Unsolicited notification;
    notification.number = RIL_UNSOL_SUPP_SVC_NOTIFICATION;
    notification.decoded.supp = SuppSvcInfo{1, 2, 3, 145, "+4915550009"};
    const UnsolAction supp = translate_unsol(notification);
    EXPECT_EQ(supp.kind, UnsolAction::Forward);
    EXPECT_EQ(supp.payload, cat({le({1, 2, 3, 145}), text("+4915550009")}));
}

// Its defaults bring oFono's modem up in the oFono test; a user's values and
// mistakes are shown here.
TEST(BasebandProfile, AnswersWhatTheModuleDoesNotServe)
{
    BasebandProfile profile;
    std::string error;
    ASSERT_TRUE(profile.load("# a user's values\nimsi = 001010123456789\n\nlac=1f\n", error))
        << error;
    const Bytes reg_reply = profile.answer(rild::kVoiceRegistrationState, {})->payload;
    EXPECT_EQ(ParcelReader(reg_reply).texts().at(1), "1f");
    ASSERT_TRUE(profile.answer(rild::kRadioPower, le({1, 1})));
    EXPECT_TRUE(profile.answer(rild::kRadioPower, le({1, 1}))->unsolicited.empty())
        << "no change, no news";
    EXPECT_EQ(profile.answer(rild::kRadioPower, le({5}))->error, RIL_E_GENERIC_FAILURE);
    EXPECT_FALSE(profile.answer(RIL_REQUEST_QUERY_FACILITY_LOCK, texts({"AO"})));
    EXPECT_EQ(profile.answer(RIL_REQUEST_QUERY_FACILITY_LOCK, texts({"SC"}))->payload, le({1, 0}));

    for (const char *bad : {"nonsense = 1", "lac = zz", "imsi"}) {
        BasebandProfile p;
        EXPECT_FALSE(p.load(bad, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

} // namespace
} // namespace zol_host
