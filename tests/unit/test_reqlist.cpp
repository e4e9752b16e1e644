// The pending request list.
#include <gtest/gtest.h>

#include <deque>

#include "test_host.h"

using namespace zol_test;

namespace {

class ReqList : public ::testing::Test {
protected:
    void SetUp() override
    {
        zol_reqlist_init();
        host.reset();
    }

    int add(RIL_Token t, int32_t request = 33, uint32_t pending = 0x17567,
            zol_req_state_e_type state = ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
            zol_reqlist_entry_type *out = nullptr)
    {
        zol_reqlist_entry_type e;
        zol_reqlist_default_entry(t, request, state, pending, nullptr, &e);
        const int rc = zol_reqlist_new(&e);
        if (out != nullptr) {
            *out = e;
        }
        return rc;
    }

    // Tokens stay at stable addresses for the life of the test.
    RIL_Token token(int32_t id) { return tokens_.emplace_back(id).get(); }

    TestHost &host = TestHost::instance();

private:
    std::deque<Token> tokens_;
};

TEST_F(ReqList, DefaultEntry)
{
    uint32_t info = 0xABCD;
    zol_reqlist_entry_type e;
    Token t(1);
    zol_reqlist_default_entry(t.get(), 40, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, 0x17534, &info, &e);
    EXPECT_EQ(e.req_id, 0);
    EXPECT_EQ(e.t, t.get());
    EXPECT_EQ(e.request, 40);
    EXPECT_EQ(e.valid_sub_id, 0u);
    EXPECT_EQ(e.state, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS);
    EXPECT_EQ(e.pending_event_id, 0x17534u);
    EXPECT_EQ(e.sub_info, 0xABCDu);
    zol_reqlist_default_entry(t.get(), 40, ZOL_REQ_FREE, 0, nullptr, nullptr);
    EXPECT_TRUE(host.logged("Cond: req_ptr != ((void *)0)"));
}

TEST_F(ReqList, AddAssignsSerialIdsAndLogs)
{
    zol_reqlist_entry_type a, b;
    ASSERT_EQ(add(token(10), 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &a), 0);
    ASSERT_EQ(add(token(11), 9, 0x17545, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &b), 0);
    EXPECT_EQ(static_cast<uint16_t>(a.req_id + 1), b.req_id);
    EXPECT_TRUE(host.logged(
        "                       pending receipt of eTKM_SUPS_INTERROGATE_SS_CONF(95591), state "
        "ZOL_REQ_AWAITING_MORE_AMSS_EVENTS(4)"));
    EXPECT_TRUE(host.logged("ReqList entries :\n"));
    EXPECT_TRUE(host.logged("    RIL_REQUEST_QUERY_CALL_FORWARD_STATUS (33), token id 10\n"));
    EXPECT_TRUE(host.logged("    RIL_REQUEST_GET_CURRENT_CALLS (9), token id 11\n"));
    zol_reqlist_entry_type q;
    ASSERT_EQ(zol_reqlist_query_by_req_id(b.req_id, &q), 0);
    EXPECT_EQ(q.t, b.t);
    EXPECT_EQ(zol_reqlist_query_by_req_id(0x10000u + b.req_id, &q), 1);
}

TEST_F(ReqList, FullListRefusesAndAnswersTheHost)
{
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        ASSERT_EQ(add(token(100 + i)), 0) << i;
    }
    RIL_Token extra = token(999);
    EXPECT_EQ(add(extra, 42), ZOL_REQLIST_FULL);
    bool no_buffer = false;
    for (const LogLine &l : host.log_lines()) {
        no_buffer |= l.text.rfind("Fail to add ReqList entry for token id 999 [", 0) == 0 &&
                     l.text.find("] (no buffer)\n") != std::string::npos && l.priority == ANDROID_LOG_ERROR;
    }
    EXPECT_TRUE(no_buffer);
    auto c = host.completions_for(extra);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    // The 50 that fit are untouched.
    EXPECT_EQ(host.completions().size(), 1u);
}

TEST_F(ReqList, DuplicateTokenFailsBothRequests)
{
    RIL_Token t = token(7);
    ASSERT_EQ(add(t, 12, 0x17535), 0);
    EXPECT_EQ(add(t, 13, 0x17535), ZOL_REQLIST_REFUSED);
    auto c = host.completions_for(t);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    zol_reqlist_entry_type q;
    EXPECT_EQ(zol_reqlist_query(t, &q), ZOL_REQLIST_NOT_FOUND) << "the older entry went with the reply";
}

TEST_F(ReqList, FailedAddsWithoutAHostTokenAnswerNobody)
{
    ASSERT_EQ(add(nullptr), 0);
    EXPECT_EQ(add(nullptr), ZOL_REQLIST_REFUSED);
    ASSERT_EQ(add(ZOL_EVENT_TOKEN), 0);
    EXPECT_EQ(add(ZOL_EVENT_TOKEN), ZOL_REQLIST_REFUSED);
    EXPECT_TRUE(host.completions().empty());
}

TEST_F(ReqList, EventLookupsTakeTheOldestInTheRightState)
{
    RIL_Token a = token(1), b = token(2), c = token(3);
    ASSERT_EQ(add(a, 12, 0x17535, ZOL_REQ_AWAITING_CALLBACK), 0);
    ASSERT_EQ(add(b, 13, 0x17535), 0);
    ASSERT_EQ(add(c, 14, 0x17535), 0);
    zol_reqlist_entry_type q;
    ASSERT_EQ(zol_reqlist_query_by_event(0x17535, &q), 0);
    EXPECT_EQ(q.t, b);
    ASSERT_EQ(zol_reqlist_query_by_event_all_states(0x17535, &q), 0);
    EXPECT_EQ(q.t, a);
    EXPECT_EQ(zol_reqlist_query_by_event(0x17545, &q), 1);
    EXPECT_TRUE(host.logged("Not found ReqList entry waiting for eTKM_CALL_CUR_CALL_IND (95557)\n"));
    ASSERT_EQ(zol_reqlist_query_by_request(14, &q), 0);
    EXPECT_EQ(q.t, c);
    EXPECT_EQ(zol_reqlist_query_by_request(15, &q), 1);
    EXPECT_TRUE(host.logged(
        "Not found ReqList entry for RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE(15)\n"));
}

TEST_F(ReqList, SubIdLookups)
{
    RIL_Token a = token(1), b = token(2);
    ASSERT_EQ(add(a), 0);
    ASSERT_EQ(add(b), 0);
    EXPECT_EQ(zol_reqlist_update_sub_id(b, 77), 0);
    zol_reqlist_entry_type q;
    ASSERT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17567, 77, &q), 0);
    EXPECT_EQ(q.t, b);
    EXPECT_EQ(q.valid_sub_id, 1u);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17567, 78, &q), 1);
    EXPECT_EQ(zol_reqlist_update_state(b, ZOL_REQ_AWAITING_CALLBACK), 0);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17567, 77, &q), 1);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id_all_states(0x17567, 77, &q), 0);
}

TEST_F(ReqList, Updates)
{
    RIL_Token t = token(5);
    ASSERT_EQ(add(t, 9, ZOL_EVENT_NONE, ZOL_REQ_AWAITING_CALLBACK), 0);
    EXPECT_EQ(zol_reqlist_update_state(t, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS), 2);
    zol_reqlist_entry_type q;
    ASSERT_EQ(zol_reqlist_query(t, &q), 0);
    EXPECT_EQ(q.state, ZOL_REQ_AWAITING_CALLBACK);

    EXPECT_EQ(zol_reqlist_update_pending_event_id(t, 0x17545), 0);
    EXPECT_EQ(zol_reqlist_update_state(t, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS), 0);
    EXPECT_TRUE(host.logged("Update ReqList entry : RIL_REQUEST_GET_CURRENT_CALLS(9), token id 5, "
                            "state ZOL_REQ_AWAITING_MORE_AMSS_EVENTS(4)\n"));
    uint32_t info = 9;
    EXPECT_EQ(zol_reqlist_update_sub_info(t, &info), 0);
    EXPECT_EQ(zol_reqlist_update_sub_info(t, nullptr), 1);
    EXPECT_TRUE(host.logged("Cond: sub_ptr != ((void *)0)"));
    ASSERT_EQ(zol_reqlist_query(t, &q), 0);
    EXPECT_EQ(q.pending_event_id, 0x17545u);
    EXPECT_EQ(q.sub_info, 9u);

    RIL_Token missing = token(6);
    EXPECT_EQ(zol_reqlist_update_state(missing, ZOL_REQ_FREE), 1);
    EXPECT_EQ(zol_reqlist_update_pending_event_id(missing, 1), 1);
    EXPECT_EQ(zol_reqlist_update_sub_id(missing, 1), 1);
    EXPECT_EQ(zol_reqlist_query(missing, nullptr), 1);
    EXPECT_TRUE(host.logged("Cond: info_ptr != ((void *)0)"));
}

TEST_F(ReqList, CompleteAllAmssEvents)
{
    struct Case {
        zol_req_state_e_type state;
        int code;
        int result;
    } cases[] = {
        {ZOL_REQ_COMPLETED_SUCCESS, 0, 0},
        {ZOL_REQ_COMPLETED_FAILURE, 0, 1},
        {ZOL_REQ_FREE, 0, 0},
        {ZOL_REQ_AWAITING_CALLBACK, 12, 0},
    };
    for (const Case &c : cases) {
        zol_reqlist_init();
        RIL_Token t = token(40);
        ASSERT_EQ(add(t), 0);
        int result = -1;
        EXPECT_EQ(zol_reqlist_complete_all_amss_events(t, c.state, &result), c.code);
        EXPECT_EQ(result, c.result);
        zol_reqlist_entry_type q;
        ASSERT_EQ(zol_reqlist_query(t, &q), 0) << "the entry stays until its reply";
        EXPECT_EQ(q.state, c.state);
    }
    int result = -1;
    EXPECT_EQ(zol_reqlist_complete_all_amss_events(token(41), ZOL_REQ_COMPLETED_SUCCESS, &result), 1);
    EXPECT_EQ(result, 0);
}

TEST_F(ReqList, LinkedSlotSetFreeIsNotHandedOutAgain)
{
    RIL_Token kept = token(1);
    ASSERT_EQ(add(kept), 0);
    ASSERT_EQ(zol_reqlist_update_state(kept, ZOL_REQ_FREE), 0);
    for (int i = 0; i < ZOL_REQLIST_MAX - 1; ++i) {
        ASSERT_EQ(add(token(100 + i)), 0);
    }
    EXPECT_EQ(add(token(999)), ZOL_REQLIST_FULL);
    zol_reqlist_entry_type q;
    ASSERT_EQ(zol_reqlist_query(kept, &q), 0);
    EXPECT_EQ(q.request, 33);
}

TEST_F(ReqList, FreeAndPrint)
{
    zol_reqlist_print_all();
    EXPECT_TRUE(host.logged("ReqList entries : Empty \n"));
    RIL_Token a = token(1), b = token(2), c = token(3);
    ASSERT_EQ(add(a), 0);
    ASSERT_EQ(add(b), 0);
    ASSERT_EQ(add(c), 0);
    EXPECT_EQ(zol_reqlist_free(b), 0);
    EXPECT_EQ(zol_reqlist_free(b), 1);
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 2\n"));
    zol_reqlist_entry_type q;
    EXPECT_EQ(zol_reqlist_query_by_event(0x17567, &q), 0);
    EXPECT_EQ(q.t, a);
    EXPECT_EQ(zol_reqlist_free(a), 0);
    EXPECT_EQ(zol_reqlist_query_by_event(0x17567, &q), 0);
    EXPECT_EQ(q.t, c);
    EXPECT_EQ(zol_reqlist_free(c), 0);
    host.clear_log();
    zol_reqlist_print_all();
    EXPECT_TRUE(host.logged("ReqList entries : Empty \n"));
    EXPECT_TRUE(host.completions().empty());
}

TEST_F(ReqList, FreeAllAnswersRealTokensWithRadioNotAvailable)
{
    RIL_Token a = token(1), b = token(2);
    ASSERT_EQ(add(a), 0);
    ASSERT_EQ(add(nullptr), 0);
    ASSERT_EQ(add(b), 0);
    ASSERT_EQ(add(ZOL_EVENT_TOKEN), 0);
    zol_reqlist_free_all();
    auto c = host.completions();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].t, a);
    EXPECT_EQ(c[1].t, b);
    EXPECT_EQ(c[0].error, RIL_E_RADIO_NOT_AVAILABLE);
    zol_reqlist_entry_type q;
    EXPECT_EQ(zol_reqlist_query_by_event_all_states(0x17567, &q), 1);
    // Every slot is usable again.
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        ASSERT_EQ(add(token(200 + i)), 0);
    }
}

TEST_F(ReqList, ReqIdWrapsAndInitDoesNotResetIt)
{
    zol_reqlist_entry_type first, e;
    RIL_Token t = token(1);
    ASSERT_EQ(add(t, 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &first), 0);
    zol_reqlist_free(t);
    zol_reqlist_init();
    ASSERT_EQ(add(t, 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &e), 0);
    EXPECT_EQ(e.req_id, static_cast<uint16_t>(first.req_id + 1));
    zol_reqlist_free(t);
    for (int i = 0; i < 65535; ++i) {
        zol_reqlist_entry_type r;
        zol_reqlist_default_entry(t, 33, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, 0x17567, nullptr, &r);
        ASSERT_EQ(zol_reqlist_new(&r), 0);
        ASSERT_EQ(zol_reqlist_free(t), 0);
        if (i % 8192 == 0) {
            host.clear_log();
        }
    }
    ASSERT_EQ(add(t, 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &e), 0);
    EXPECT_EQ(e.req_id, static_cast<uint16_t>(first.req_id + 1));
}

} // namespace
