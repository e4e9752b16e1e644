// The pending request list.
#include "fixture.h"

using namespace zol_kit;

namespace {

class ReqList : public ModuleTest {
protected:
    zol_reqlist_result_e_type add(RIL_Token t, int32_t request = 33, uint32_t pending = 0x17567,
                                  zol_req_state_e_type state = ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                                  zol_reqlist_entry_type *out = nullptr)
    {
        zol_reqlist_entry_type e;
        zol_reqlist_default_entry(t, request, state, pending, nullptr, out != nullptr ? out : &e);
        return zol_reqlist_new(out != nullptr ? out : &e);
    }
    RIL_Token oldest(uint32_t event)
    {
        return zol_reqlist_query_by_event(event, &q) == 0 ? q.t : nullptr;
    }
    zol_reqlist_entry_type q;
};

TEST_F(ReqList, AddAssignsSerialIdsAndLogs)
{
    zol_reqlist_entry_type a, b;
    ASSERT_EQ(add(token(10), 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &a), 0);
    ASSERT_EQ(add(token(11), 9, 0x17545, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &b), 0);
    EXPECT_EQ(static_cast<uint16_t>(a.req_id + 1), b.req_id);
    EXPECT_TRUE(host.logged(
        "                       pending receipt of eTKM_SUPS_INTERROGATE_SS_CONF(95591), "
        "state ZOL_REQ_AWAITING_MORE_AMSS_EVENTS(4)"));
    zol_reqlist_default_entry(a.t, 40, ZOL_REQ_FREE, 0, nullptr, nullptr);
    EXPECT_TRUE(host.logged("Cond: req_ptr != ((void *)0)"));
}

// A token pending twice is refused; without a real token nobody is answered.
// (With a real one the host is answered: see the flow tests.)
TEST_F(ReqList, TokensPendingTwiceWithoutARealTokenAnswerNobody)
{
    for (RIL_Token none : {static_cast<RIL_Token>(nullptr), ZOL_EVENT_TOKEN}) {
        ASSERT_EQ(add(none), 0);
        EXPECT_EQ(add(none), ZOL_REQLIST_REFUSED);
    }
    EXPECT_TRUE(host.completions().empty());
}

TEST_F(ReqList, LookupsTakeTheOldestInTheRightState)
{
    RIL_Token a = token(1), b = token(2), c = token(3);
    ASSERT_EQ(add(a, 12, 0x17535, ZOL_REQ_AWAITING_CALLBACK), 0);
    ASSERT_EQ(add(b, 13, 0x17535), 0);
    ASSERT_EQ(add(c, 14, 0x17535), 0);
    EXPECT_EQ(oldest(0x17535), b);
    EXPECT_EQ(oldest(0x17545), nullptr);
    EXPECT_EQ(zol_reqlist_update_sub_id(c, 77), 0);
    ASSERT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17535, 77, &q), 0);
    EXPECT_TRUE(q.t == c && q.valid_sub_id == 1u);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17535, 78, &q), 1);
    EXPECT_TRUE(
        host.logged("Not found ReqList entry waiting for eTKM_CALL_CUR_CALL_IND (95557)\n"));
}

// Freed slots keep the others' order.
TEST_F(ReqList, FreeKeepsTheOrder)
{
    RIL_Token a = token(1), b = token(2), c = token(3);
    for (RIL_Token t : {a, b, c}) {
        ASSERT_EQ(add(t), 0);
    }
    EXPECT_EQ(zol_reqlist_free(b), 0);
    EXPECT_TRUE(host.logged_prefix("Deleted ReqList entry : token id 2 ["));
    EXPECT_EQ(zol_reqlist_free(b), 1);
    EXPECT_EQ(oldest(0x17567), a);
    EXPECT_EQ(zol_reqlist_free(a), 0);
    EXPECT_EQ(oldest(0x17567), c);
    EXPECT_EQ(zol_reqlist_free(c), 0);
    EXPECT_EQ(host.count_logged("ReqList entries : Empty \n"), 1u) << "only once nothing is left";
    EXPECT_TRUE(host.completions().empty());
}

} // namespace
