// The stack's call indications and confirmations: which waiting request each
// completes and in what order, what the host is told, the stored end cause,
// and payloads that are missing or short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "cm/zol_cm_internal.h"
#include "fake_agent.h"
#include "test_host.h"

using namespace zol_test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes invite(uint8_t id, const std::string &number, uint32_t type)
{
    Bytes b(138, 0);
    b[0] = id;
    memcpy(&b[1], number.data(), std::min<size_t>(number.size(), 128));
    memcpy(&b[134], le32(type).data(), 4);
    return b;
}

class CmIndications : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        zol_reqlist_init();
        agent = FakeAgent::get();
        ASSERT_NE(agent, nullptr);
        agent->clear();
    }

    // A request waiting for a stack event, as its handler would have left it.
    RIL_Token waiting_for(int32_t event_id)
    {
        RIL_Token t = tokens_.emplace_back(900 + static_cast<int32_t>(tokens_.size())).get();
        zol_reqlist_entry_type e;
        zol_reqlist_default_entry(t, RIL_REQUEST_HANGUP, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                                  static_cast<uint32_t>(event_id), nullptr, &e);
        EXPECT_EQ(zol_reqlist_new(&e), 0);
        return t;
    }
    RIL_Token token(int32_t id) { return tokens_.emplace_back(id).get(); }

    // Hands the frame to the module and waits until the handler has run.
    void deliver(uint16_t wire_id, const Bytes &payload, const std::string &handler)
    {
        const size_t before = host.count_logged(handler + "() exit");
        agent->deliver(frame(wire_id, payload));
        ASSERT_TRUE(
            host.wait_until([&] { return host.count_logged(handler + "() exit") > before; }));
    }

    int32_t last_call_fail_cause()
    {
        RIL_Token t = token(1800);
        radio()->onRequest(RIL_REQUEST_LAST_CALL_FAIL_CAUSE, nullptr, 0, t);
        const auto done = host.completions_for(t);
        EXPECT_EQ(done.size(), 1u);
        int32_t cause = -1;
        if (done.size() == 1 && done[0].len == sizeof cause) {
            memcpy(&cause, done[0].data.data(), sizeof cause);
        }
        host.reset();
        return cause;
    }

    TestHost &host = TestHost::instance();
    FakeAgent *agent = nullptr;

private:
    std::deque<Token> tokens_;
};

TEST_F(CmIndications, CommonSequenceCompletesTheWaitingRequestThenReportsCallStateChanged)
{
    const struct {
        uint16_t wire;
        Bytes payload;
        const char *handler;
        const char *call_id_line;
    } cases[] = {
        {30003, {}, "zol_cm_callsvc_event_mt_ring_cnf_ind", nullptr},
        {30004, {7}, "zol_cm_callsvc_event_connected_ind",
         "zol_cm_callsvc_event_connected_ind(), call id 7\n"},
        {30004, {}, "zol_cm_callsvc_event_connected_ind", nullptr},
        {30005, {1, 16, 0, 0, 0}, "zol_cm_callsvc_event_end_ind", nullptr},
        {30006, {}, "zol_cm_callsvc_event_mo_prog_info_ind", nullptr},
        {30010, {}, "zol_cm_callsvc_event_connected_num_ind", nullptr},
        {30015, {}, "zol_cm_callsvc_event_audio_codec_info_ind", nullptr},
        {30019, {9}, "zol_cm_callsvc_event_conference_info_ind",
         "zol_cm_callsvc_event_conference_info_ind(), call id 9\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.handler);
        SetUp();
        RIL_Token t = waiting_for(0x10000 + c.wire);
        size_t unsol_at_completion = 99;
        host.set_on_complete(
            [&](const Completion &) { unsol_at_completion = host.unsolicited().size(); });
        deliver(c.wire, c.payload, c.handler);
        host.set_on_complete(nullptr);
        const auto done = host.completions_for(t);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0].error, RIL_E_SUCCESS);
        EXPECT_EQ(done[0].len, 0u);
        EXPECT_EQ(unsol_at_completion, 0u) << "the completion comes first";
        ASSERT_EQ(host.unsolicited().size(), 1u);
        EXPECT_EQ(host.unsolicited()[0].number, RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED);
        EXPECT_TRUE(host.logged("Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n"));
        if (c.call_id_line != nullptr) {
            EXPECT_TRUE(host.logged(c.call_id_line));
        }
        // Nobody waits any more: the host is still told, nothing is completed.
        deliver(c.wire, c.payload, c.handler);
        EXPECT_EQ(host.completions().size(), 1u);
        EXPECT_EQ(host.unsolicited().size(), 2u);
    }
}

TEST_F(CmIndications, WaitingRequestsAreCompletedOldestFirstOnePerAnswer)
{
    const Bytes tone = {'1', 0, 0, 0};
    const struct {
        int request;
        uint16_t wire;
        Bytes payload;
        const char *handler;
        zol_handler_type direct = nullptr;
    } cases[] = {
        {RIL_REQUEST_HANGUP, 30005, {1, 1, 0, 0, 0}, "zol_cm_callsvc_event_end_ind"},
        {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, 30005, {1, 1, 0, 0, 0},
         "zol_cm_callsvc_event_end_ind"},
        {RIL_REQUEST_ANSWER, 30004, {1}, "zol_cm_callsvc_event_connected_ind"},
        {RIL_REQUEST_DTMF_START, 30016, {1, 1, 0, 0, 0}, "zol_cm_callsvc_event_dtmf_start_conf"},
        {RIL_REQUEST_DTMF_STOP, 30017, {1, 1, 0, 0, 0}, "zol_cm_callsvc_event_dtmf_stop_conf"},
        {RIL_REQUEST_CONFERENCE, 30021, {0}, "zol_cm_callsvc_event_cur_call_ind",
         zol_cm_callsvc_request_conference_call},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.handler);
        SetUp();
        RIL_Token older = token(1001), newer = token(1002);
        for (RIL_Token t : {older, newer}) {
            zol_request_params_type p = {c.request, const_cast<uint8_t *>(tone.data()),
                                         static_cast<uint32_t>(tone.size()), t};
            zol_request_return_type r{};
            if (c.direct != nullptr) {
                c.direct(&p, &r);
            } else {
                radio()->onRequest(c.request, p.data, p.datalen, t);
            }
        }
        ASSERT_TRUE(host.completions().empty());
        deliver(c.wire, c.payload, c.handler);
        ASSERT_EQ(host.completions().size(), 1u);
        EXPECT_EQ(host.completions()[0].t, older);
        EXPECT_EQ(host.completions()[0].error, RIL_E_SUCCESS);
        deliver(c.wire, c.payload, c.handler);
        ASSERT_EQ(host.completions().size(), 2u);
        EXPECT_EQ(host.completions()[1].t, newer);
    }
}

TEST_F(CmIndications, LastCallFailCauseIsTheLastEndCauseAndShortEndsKeepIt)
{
    deliver(30005, cat({1}, le32(16)), "zol_cm_callsvc_event_end_ind");
    EXPECT_TRUE(host.logged("e_end_cause =16"));
    EXPECT_EQ(last_call_fail_cause(), 16);
    deliver(30005, cat({2}, le32(0x87654321)), "zol_cm_callsvc_event_end_ind");
    EXPECT_EQ(last_call_fail_cause(), static_cast<int32_t>(0x87654321));

    // Short or empty end indications store nothing, but still end the hang-up.
    for (const Bytes &payload : {Bytes{1, 2, 3, 4}, Bytes{}}) {
        SetUp();
        RIL_Token t = waiting_for(0x17535);
        deliver(30005, payload, "zol_cm_callsvc_event_end_ind");
        ASSERT_EQ(host.completions_for(t).size(), 1u);
        EXPECT_EQ(host.unsolicited().size(), 1u);
        EXPECT_EQ(last_call_fail_cause(), static_cast<int32_t>(0x87654321));
    }
}

TEST_F(CmIndications, NotificationsAndLogOnlyIndicationsCompleteNothing)
{
    RIL_SuppSvcNotification forwarded{0, 2, 0, 0, nullptr};
    Bytes forwarded_bytes(sizeof forwarded);
    memcpy(forwarded_bytes.data(), &forwarded, sizeof forwarded);
    const Bytes modify_head = {1, 4, 0, 0, 0, 9, 9, 9, 9};
    const struct {
        uint16_t wire;
        Bytes payload;
        const char *handler;
        int unsol; // 0: the host hears nothing
        Bytes data;
    } cases[] = {
        {30007, {}, "zol_cm_callsvc_event_hold_ind", 1051, le32(2)},
        {30008, {}, "zol_cm_callsvc_event_retrieve_ind", 1051, le32(3)},
        {30020, le32(6), "zol_cm_callsvc_event_srvcc_info_ind", 1055, le32(6)},
        {30020, {1, 2}, "zol_cm_callsvc_event_srvcc_info_ind", 0, {}},
        {30023, {}, "zol_cm_callsvc_event_forward_ind", 1011, forwarded_bytes},
        {30014, cat(modify_head, le32(2)), "zol_cm_callsvc_event_modify_ind", 1056,
         cat(le32(1), le32(2))},
        {30014, cat(modify_head, le32(0)), "zol_cm_callsvc_event_modify_ind", 1056,
         cat(le32(1), le32(0))},
        {30014, cat(modify_head, le32(7)), "zol_cm_callsvc_event_modify_ind", 1056,
         cat(le32(1), le32(0))},
        {30014, cat({1, 1, 0, 0, 0, 0, 0, 0, 0}, le32(2)), "zol_cm_callsvc_event_modify_ind", 1056,
         cat(le32(1), le32(0))},
        {30014, cat(modify_head, {2, 0, 0}), "zol_cm_callsvc_event_modify_ind", 0, {}},
        {30014, {}, "zol_cm_callsvc_event_modify_ind", 0, {}},
        {30013, {}, "zol_cm_callsvc_event_modify_cnf_ind", 1001, {}},
        {30009, {}, "zol_cm_callsvc_event_sups_conf", 0, {}},
        {30011, {}, "zol_cm_callsvc_event_transfer_ind", 0, {}},
        {30012, {}, "zol_cm_callsvc_event_wait_voip_call_ind", 0, {}},
        {30018, {}, "zol_cm_callsvc_event_join_conference_call_ind", 0, {}},
        {30002, Bytes(137, 0), "zol_cm_callsvc_event_mt_invite_ind", 0, {}},
        {30002, {}, "zol_cm_callsvc_event_mt_invite_ind", 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.handler) + ", " + std::to_string(c.payload.size()) + " bytes");
        SetUp();
        RIL_Token t = waiting_for(0x10000 + c.wire);
        deliver(c.wire, c.payload, c.handler);
        EXPECT_TRUE(host.completions().empty());
        zol_reqlist_entry_type e;
        EXPECT_EQ(zol_reqlist_query(t, &e), 0) << "the waiting request is left alone";
        const auto unsol = host.unsolicited();
        if (c.unsol == 0) {
            EXPECT_TRUE(unsol.empty());
            continue;
        }
        ASSERT_EQ(unsol.size(), 1u);
        EXPECT_EQ(unsol[0].number, c.unsol);
        EXPECT_EQ(unsol[0].data, c.data);
    }
}

TEST_F(CmIndications, InvitationReachesTheHostAsThreeTexts)
{
    deliver(30002, invite(1, "1234", 1), "zol_cm_callsvc_event_mt_invite_ind");
    ASSERT_EQ(host.unsolicited().size(), 1u);
    EXPECT_EQ(host.unsolicited()[0].number, RIL_UNSOL_IMS_MT_INVITE);
    EXPECT_EQ(host.unsolicited()[0].len, 3 * sizeof(char *));

    const struct {
        Bytes payload;
        const char *id;
        const char *type;
        std::string number;
    } cases[] = {
        {invite(1, "1234", 1), "1", "1", "1234"},
        {invite(255, "+4930", 4), "255", "4", "+4930"},
        {invite(2, std::string(128, '8'), 1), "2", "1", std::string(128, '8')},
        {cat(invite(3, "", 1), Bytes(50, 'x')), "3", "1", ""},
    };
    for (const auto &c : cases) {
        zol::cm::InviteTexts texts;
        const auto len = static_cast<uint32_t>(c.payload.size());
        ASSERT_TRUE(zol::cm::invite_texts(c.payload.data(), len, texts));
        EXPECT_STREQ(texts.texts[0], c.id);
        EXPECT_STREQ(texts.texts[1], c.type);
        EXPECT_EQ(texts.texts[2], c.number);
    }
    zol::cm::InviteTexts texts;
    EXPECT_FALSE(zol::cm::invite_texts(invite(1, "1", 1).data(), 137, texts));
    EXPECT_FALSE(zol::cm::invite_texts(nullptr, 138, texts));
}

TEST_F(CmIndications, DtmfConfirmationResultDecidesTheAnswer)
{
    const Bytes tone = {'5'};
    const struct {
        Bytes payload;
        RIL_Errno error;
    } cases[] = {
        {cat({4}, le32(0)), RIL_E_GENERIC_FAILURE},
        {cat({4}, le32(1)), RIL_E_SUCCESS},
        {cat({4}, le32(7)), RIL_E_SUCCESS},
        {{4, 1}, RIL_E_GENERIC_FAILURE}, // no whole result flag
        {{}, RIL_E_GENERIC_FAILURE},
    };
    for (const auto &c : cases) {
        SetUp();
        RIL_Token start = token(1100), stop = token(1101);
        radio()->onRequest(RIL_REQUEST_DTMF_STOP, const_cast<uint8_t *>(tone.data()), 1, stop);
        // A start confirmation while only a stop waits: nothing happens.
        deliver(30016, c.payload, "zol_cm_callsvc_event_dtmf_start_conf");
        EXPECT_TRUE(host.completions().empty());
        radio()->onRequest(RIL_REQUEST_DTMF_START, const_cast<uint8_t *>(tone.data()), 1, start);
        EXPECT_TRUE(host.logged("zol_cm_callsvc_request_dtmf_start() entry,c=53"));
        deliver(30016, c.payload, "zol_cm_callsvc_event_dtmf_start_conf");
        ASSERT_EQ(host.completions().size(), 1u);
        EXPECT_EQ(host.completions()[0].t, start);
        EXPECT_EQ(host.completions()[0].error, c.error);
        EXPECT_EQ(host.logged("callid:4"), !c.payload.empty());
        zol_reqlist_entry_type e;
        EXPECT_EQ(zol_reqlist_query(stop, &e), 0);
    }
}

} // namespace
