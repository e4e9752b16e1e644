// The stack's call indications and confirmations: which waiting request each
// completes, what the host is told, the end cause, payloads missing or short.
#include "cm/zol_cm_internal.h"
#include "fixture.h"

using namespace zol_kit;
namespace msg = zol::imsd::msg;

namespace {

class CmIndications : public ModuleTest {
protected:
    int32_t last_call_fail_cause()
    {
        RIL_Token t = token(1800);
        request(RIL_REQUEST_LAST_CALL_FAIL_CAUSE, {}, t);
        const Completion c = completion(t);
        int32_t cause = -1;
        if (c.data.size() == sizeof cause) {
            memcpy(&cause, c.data.data(), sizeof cause);
        }
        host.reset();
        return cause;
    }
};

TEST_F(CmIndications, ProgressCompletesTheWaitingRequestThenReportsCallStateChanged)
{
    const struct {
        uint16_t wire;
        Bytes payload;
    } cases[] = {
        {msg::kMtRingCnfInd, {}},  {msg::kConnectedInd, imsd::encode_call_id(7)},
        {msg::kConnectedInd, {}},  {msg::kEndInd, imsd::encode_call_end(1, 16)},
        {msg::kMoProgressInd, {}}, {30010, {}},
        {msg::kAudioCodecInd, {}}, {msg::kConferenceInfoInd, imsd::encode_call_id(9)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wire);
        SetUp();
        RIL_Token t = waiting_for(0x10000 + c.wire);
        size_t unsol_at_completion = 99;
        host.on_complete([&](RIL_Token, RIL_Errno, void *, size_t) {
            unsol_at_completion = host.unsolicited().size();
        });
        deliver(c.wire, c.payload);
        host.on_complete(nullptr);
        EXPECT_EQ(completion(t).error, RIL_E_SUCCESS);
        EXPECT_EQ(unsol_at_completion, 0u) << "the completion comes first";
        ASSERT_EQ(host.unsolicited().size(), 1u);
        EXPECT_EQ(host.unsolicited()[0].number, RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED);
        // Nobody waits any more: the host is still told, nothing is completed.
        deliver(c.wire, c.payload);
        EXPECT_EQ(host.completions().size(), 1u);
        EXPECT_EQ(host.unsolicited().size(), 2u);
    }
    EXPECT_TRUE(host.logged("zol_cm_callsvc_event_conference_info_ind(), call id 9\n"));
}

TEST_F(CmIndications, LastCallFailCauseIsTheLastEndCauseAndShortEndsKeepIt)
{
    deliver(msg::kEndInd, imsd::encode_call_end(2, 0x87654321));
    EXPECT_TRUE(host.logged("e_end_cause =-2023406815"));
    EXPECT_EQ(last_call_fail_cause(), static_cast<int32_t>(0x87654321));
    // Short or empty end indications store nothing, but still end the hang-up.
    for (const Bytes &payload : {Bytes{1, 2, 3, 4}, Bytes{}}) {
        SetUp();
        RIL_Token t = waiting_for(0x17535);
        deliver(msg::kEndInd, payload);
        EXPECT_EQ(completion(t).error, RIL_E_SUCCESS);
        EXPECT_EQ(host.unsolicited().size(), 1u);
        EXPECT_EQ(last_call_fail_cause(), static_cast<int32_t>(0x87654321));
    }
}

TEST_F(CmIndications, NotificationsAndLogOnlyIndicationsCompleteNothing)
{
    const Bytes modify_head = {1, 4, 0, 0, 0, 9, 9, 9, 9};
    const struct {
        uint16_t wire;
        Bytes payload;
        int unsol; // 0: the host hears nothing
        Bytes data;
    } cases[] = {
        {msg::kHoldInd, {}, 1051, le32(2)},
        {msg::kSrvccInd, {1, 2}, 0, {}},
        {msg::kModifyInd, imsd::encode_modify_ind(1, 4, 7), 1056, words({1, 0})},
        {msg::kModifyInd, imsd::encode_modify_ind(1, 1, 2), 1056, words({1, 0})},
        {msg::kModifyInd, cat(modify_head, {2, 0, 0}), 0, {}},
        {msg::kModifyInd, {}, 0, {}},
        {msg::kModifyCnfInd, {}, 1001, {}},
        {msg::kSupsConf, {}, 0, {}},
        {30011, {}, 0, {}},
        {30012, {}, 0, {}},
        {30018, {}, 0, {}},
        {msg::kMtInviteInd, Bytes(137, 0), 0, {}},
        {msg::kMtInviteInd, {}, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.wire) + ", " + std::to_string(c.payload.size()) + " bytes");
        SetUp();
        RIL_Token t = waiting_for(0x10000 + c.wire);
        deliver(c.wire, c.payload);
        EXPECT_TRUE(host.completions().empty());
        EXPECT_NE(waits_for(t), 0u) << "the waiting request is left alone";
        const auto unsol = host.unsolicited();
        ASSERT_EQ(unsol.size(), c.unsol == 0 ? 0u : 1u);
        if (c.unsol != 0) {
            EXPECT_EQ(unsol[0].number, c.unsol);
            EXPECT_EQ(unsol[0].data, c.data);
        }
    }
}

TEST_F(CmIndications, InvitationReachesTheHostAsThreeTexts)
{
    // The number as it stands, even when it fills its field.
    auto invite = [](uint8_t id, const std::string &number, imsd::CallType type) {
        imsd::Call c = call(id, "");
        c.type = type;
        Bytes b = imsd::encode_mt_invite(c);
        return put_text(b, 1, number);
    };
    const struct {
        Bytes payload;
        const char *id, *type;
        std::string number;
    } cases[] = {
        {invite(255, "+4930", imsd::CallType::video), "255", "4", "+4930"},
        {invite(2, std::string(128, '8'), imsd::CallType::voice), "2", "1", std::string(128, '8')},
        {cat(invite(3, "", imsd::CallType::voice), Bytes(50, 'x')), "3", "1", ""},
    };
    for (const auto &c : cases) {
        zol::cm::InviteTexts texts;
        ASSERT_TRUE(zol::cm::invite_texts(c.payload.data(), static_cast<uint32_t>(c.payload.size()),
                                          texts));
        EXPECT_STREQ(texts.texts[0], c.id);
        EXPECT_STREQ(texts.texts[1], c.type);
        EXPECT_EQ(texts.texts[2], c.number);
    }
    zol::cm::InviteTexts texts;
    EXPECT_FALSE(zol::cm::invite_texts(invite(1, "1", imsd::CallType::voice).data(), 137, texts));
    EXPECT_FALSE(zol::cm::invite_texts(nullptr, 138, texts));
}

TEST_F(CmIndications, DtmfConfirmationResultDecidesTheAnswer)
{
    const struct {
        Bytes payload;
        RIL_Errno error;
    } cases[] = {
        {imsd::encode_dtmf_conf(4, 0), RIL_E_GENERIC_FAILURE},
        {imsd::encode_dtmf_conf(4, 1), RIL_E_SUCCESS},
        {imsd::encode_dtmf_conf(4, 7), RIL_E_SUCCESS},
        {{}, RIL_E_GENERIC_FAILURE},
        {{4, 1}, RIL_E_GENERIC_FAILURE}, // no whole result flag
    };
    for (const auto &c : cases) {
        SetUp();
        RIL_Token start = token(1100), stop = token(1101);
        request(RIL_REQUEST_DTMF_STOP, text("5"), stop);
        // A start confirmation while only a stop waits: nothing happens.
        deliver(msg::kDtmfStartConf, c.payload);
        EXPECT_TRUE(host.completions().empty());
        request(RIL_REQUEST_DTMF_START, text("5"), start);
        deliver(msg::kDtmfStartConf, c.payload);
        EXPECT_EQ(completion(start).error, c.error);
        EXPECT_EQ(host.logged("callid:4"), !c.payload.empty());
        EXPECT_NE(waits_for(stop), 0u);
    }
}

} // namespace
