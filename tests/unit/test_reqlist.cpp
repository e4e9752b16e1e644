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
    uint32_t info = 0xABCD;
    zol_reqlist_entry_type a, b;
    zol_reqlist_default_entry(token(10), 33, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, 0x17567, &info, &a);
    EXPECT_EQ(a.sub_info, 0xABCDu);
    EXPECT_EQ(a.valid_sub_id, 0u);
    ASSERT_EQ(zol_reqlist_new(&a), 0);
    ASSERT_EQ(add(token(11), 9, 0x17545, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &b), 0);
    EXPECT_EQ(static_cast<uint16_t>(a.req_id + 1), b.req_id);
    EXPECT_TRUE(host.logged(
        "                       pending receipt of eTKM_SUPS_INTERROGATE_SS_CONF(95591), "
        "state ZOL_REQ_AWAITING_MORE_AMSS_EVENTS(4)"));
    ASSERT_EQ(zol_reqlist_query_by_req_id(b.req_id, &q), 0);
    EXPECT_EQ(q.t, b.t);
    EXPECT_EQ(zol_reqlist_query_by_req_id(0x10000u + b.req_id, &q), 1);
    zol_reqlist_default_entry(a.t, 40, ZOL_REQ_FREE, 0, nullptr, nullptr);
    EXPECT_TRUE(host.logged("Cond: req_ptr != ((void *)0)"));
}

// A full list and a token pending twice answer the host (a real token only)
// and leave the entries that fit alone.
TEST_F(ReqList, RefusedAddsAnswerTheHost)
{
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        ASSERT_EQ(add(token(100 + i)), 0) << i;
    }
    RIL_Token extra = token(999);
    EXPECT_EQ(add(extra, 42), ZOL_REQLIST_FULL);
    const auto log = host.log_lines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const LogLine &l) {
        return l.text.starts_with("Fail to add ReqList entry for token id 999 [") &&
               l.text.ends_with("] (no buffer)\n") && l.priority == ANDROID_LOG_ERROR;
    }));
    ASSERT_EQ(host.completions().size(), 1u);
    EXPECT_EQ(host.completions()[0].t, extra);
    EXPECT_EQ(host.completions()[0].error, RIL_E_GENERIC_FAILURE);

    SetUp();
    RIL_Token t = token(7);
    ASSERT_EQ(add(t, 12, 0x17535), 0);
    EXPECT_EQ(add(t, 13, 0x17535), ZOL_REQLIST_REFUSED);
    ASSERT_EQ(host.completions_for(t).size(), 1u);
    EXPECT_EQ(waits_for(t), 0u) << "the older entry went with the reply";
    for (RIL_Token none : {static_cast<RIL_Token>(nullptr), ZOL_EVENT_TOKEN}) {
        ASSERT_EQ(add(none), 0);
        EXPECT_EQ(add(none), ZOL_REQLIST_REFUSED);
    }
    EXPECT_EQ(host.completions().size(), 1u) << "no token, nobody to answer";
}

TEST_F(ReqList, LookupsTakeTheOldestInTheRightState)
{
    RIL_Token a = token(1), b = token(2), c = token(3);
    ASSERT_EQ(add(a, 12, 0x17535, ZOL_REQ_AWAITING_CALLBACK), 0);
    ASSERT_EQ(add(b, 13, 0x17535), 0);
    ASSERT_EQ(add(c, 14, 0x17535), 0);
    EXPECT_EQ(oldest(0x17535), b);
    ASSERT_EQ(zol_reqlist_query_by_event_all_states(0x17535, &q), 0);
    EXPECT_EQ(q.t, a);
    EXPECT_EQ(oldest(0x17545), nullptr);
    EXPECT_TRUE(
        host.logged("Not found ReqList entry waiting for eTKM_CALL_CUR_CALL_IND (95557)\n"));
    ASSERT_EQ(zol_reqlist_query_by_request(14, &q), 0);
    EXPECT_EQ(q.t, c);
    EXPECT_EQ(zol_reqlist_query_by_request(15, &q), 1);

    EXPECT_EQ(zol_reqlist_update_sub_id(c, 77), 0);
    ASSERT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17535, 77, &q), 0);
    EXPECT_TRUE(q.t == c && q.valid_sub_id == 1u);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17535, 78, &q), 1);
    EXPECT_EQ(zol_reqlist_update_state(c, ZOL_REQ_AWAITING_CALLBACK), 0);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id(0x17535, 77, &q), 1);
    EXPECT_EQ(zol_reqlist_query_by_event_and_sub_id_all_states(0x17535, 77, &q), 0);
}

TEST_F(ReqList, Updates)
{
    RIL_Token t = token(5), missing = token(6);
    ASSERT_EQ(add(t, 9, ZOL_EVENT_NONE, ZOL_REQ_AWAITING_CALLBACK), 0);
    EXPECT_EQ(zol_reqlist_update_state(t, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS), 2)
        << "it waits for no event";
    ASSERT_EQ(zol_reqlist_query(t, &q), 0);
    EXPECT_EQ(q.state, ZOL_REQ_AWAITING_CALLBACK);
    EXPECT_EQ(zol_reqlist_update_pending_event_id(t, 0x17545), 0);
    EXPECT_EQ(zol_reqlist_update_state(t, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS), 0);
    EXPECT_TRUE(host.logged("Update ReqList entry : RIL_REQUEST_GET_CURRENT_CALLS(9), token id 5, "
                            "state ZOL_REQ_AWAITING_MORE_AMSS_EVENTS(4)\n"));
    uint32_t info = 9;
    EXPECT_EQ(zol_reqlist_update_sub_info(t, &info), 0);
    EXPECT_EQ(zol_reqlist_update_sub_info(t, nullptr), 1);
    ASSERT_EQ(zol_reqlist_query(t, &q), 0);
    EXPECT_TRUE(q.pending_event_id == 0x17545u && q.sub_info == 9u);
    EXPECT_EQ(zol_reqlist_update_state(missing, ZOL_REQ_FREE), 1);
    EXPECT_EQ(zol_reqlist_update_pending_event_id(missing, 1), 1);
    EXPECT_EQ(zol_reqlist_update_sub_id(missing, 1), 1);
    EXPECT_EQ(zol_reqlist_query(missing, nullptr), 1);

    const struct {
        zol_req_state_e_type state;
        int code, result;
    } completes[] = {{ZOL_REQ_COMPLETED_SUCCESS, 0, 0},
                     {ZOL_REQ_COMPLETED_FAILURE, 0, 1},
                     {ZOL_REQ_FREE, 0, 0},
                     {ZOL_REQ_AWAITING_CALLBACK, 12, 0}};
    for (const auto &c : completes) {
        int result = -1;
        EXPECT_EQ(zol_reqlist_complete_all_amss_events(t, c.state, &result), c.code);
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(zol_reqlist_query(t, &q), 0) << "the entry stays until its reply";
        EXPECT_EQ(q.state, c.state);
    }
    int result = -1;
    EXPECT_EQ(zol_reqlist_complete_all_amss_events(missing, ZOL_REQ_COMPLETED_SUCCESS, &result), 1);
    EXPECT_EQ(result, 0);
}

// Freed slots keep the others' order; free_all answers the real tokens; a
// slot set free while linked is not handed out again until it is freed.
TEST_F(ReqList, FreeKeepsTheOrderAndFreeAllAnswersRealTokens)
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
    EXPECT_TRUE(host.completions().empty());

    ASSERT_EQ(add(nullptr), 0);
    ASSERT_EQ(add(b), 0);
    ASSERT_EQ(add(ZOL_EVENT_TOKEN), 0);
    zol_reqlist_free_all();
    const auto done = host.completions();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[0].t == c && done[1].t == b);
    EXPECT_EQ(done[0].error, RIL_E_RADIO_NOT_AVAILABLE);
    EXPECT_EQ(zol_reqlist_query_by_event_all_states(0x17567, &q), 1);
    zol_reqlist_print_all();
    EXPECT_TRUE(host.logged("ReqList entries : Empty \n"));

    RIL_Token kept = token(1);
    ASSERT_EQ(add(kept), 0);
    ASSERT_EQ(zol_reqlist_update_state(kept, ZOL_REQ_FREE), 0);
    for (int i = 0; i < ZOL_REQLIST_MAX - 1; ++i) {
        ASSERT_EQ(add(token(100 + i)), 0) << "every other slot is usable again";
    }
    EXPECT_EQ(add(token(999)), ZOL_REQLIST_FULL);
    ASSERT_EQ(zol_reqlist_query(kept, &q), 0);
    EXPECT_EQ(q.request, 33);
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
    host.keep(false);
    for (int i = 0; i < 65535; ++i) {
        ASSERT_EQ(add(t), 0);
        ASSERT_EQ(zol_reqlist_free(t), 0);
    }
    host.keep(true);
    ASSERT_EQ(add(t, 33, 0x17567, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, &e), 0);
    EXPECT_EQ(e.req_id, static_cast<uint16_t>(first.req_id + 1));
}

} // namespace
