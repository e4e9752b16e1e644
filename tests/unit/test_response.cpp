// Completions and unsolicited responses to the host.
#include "fixture.h"

using namespace zol_kit;

namespace {

using Response = ModuleTest;

TEST_F(Response, CompletionsCarryCodeDataAndLogText)
{
    Token t(31), u(32);
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t.get(), 9, 2, &r);
    EXPECT_EQ(r.response, nullptr);
    EXPECT_EQ(r.response_len, 0u);
    EXPECT_EQ(r.log_str, nullptr);
    zol_send_request_response(&r);
    int32_t value = 0x11223344;
    zol_default_request_resp_params(u.get(), 18, 0, &r);
    r.response = &value;
    r.response_len = sizeof value;
    r.log_str = "cause 16";
    zol_send_request_response(&r);
    zol_send_request_response(nullptr);

    const auto c = host.completions();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].t, t.get());
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    EXPECT_EQ(c[0].len, 0u);
    EXPECT_EQ(c[1].data, le32(0x11223344));
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_GET_CURRENT_CALLS (9) Complete --- Token 31, Generic Failure, Len 0 ]\n"));
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_LAST_CALL_FAIL_CAUSE (18) Complete --- Token 32, Success, Len 4 cause 16]\n"));
    // Completing a request that never waited only notes that it had no entry.
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 31\n"));
    EXPECT_TRUE(host.logged("Cond: param_ptr != ((void *)0)"));
}

// rild may hand the token to its next request inside the callback.
TEST_F(Response, EntryIsGoneBeforeTheHostHearsTheAnswer)
{
    RIL_Token t = waiting_for(0x17545, RIL_REQUEST_GET_CURRENT_CALLS);
    int seen_inside = -1;
    host.on_complete([&](RIL_Token, RIL_Errno, void *, size_t) {
        zol_reqlist_entry_type q;
        seen_inside = zol_reqlist_query(t, &q);
    });
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t, 9, 0, &r);
    zol_send_request_response(&r);
    EXPECT_EQ(seen_inside, ZOL_REQLIST_NOT_FOUND);
}

TEST_F(Response, Unsolicited)
{
    zol_unsol_resp_params_type u;
    zol_default_unsol_resp_params(1047, &u);
    EXPECT_EQ(u.data, nullptr);
    EXPECT_EQ(u.datalen, 0u);
    EXPECT_EQ(u.log_str, nullptr);
    zol_send_unsol_response(&u);
    int32_t held = 2;
    zol_default_unsol_resp_params(1051, &u);
    u.data = &held;
    u.datalen = sizeof held;
    u.log_str = "hold";
    zol_send_unsol_response(&u);
    zol_cm_send_unsol_call_state_changed();
    zol_send_unsol_response(nullptr);

    const auto un = host.unsolicited();
    ASSERT_EQ(un.size(), 3u);
    EXPECT_EQ(un[0].number, 1047);
    EXPECT_EQ(un[1].number, 1051);
    EXPECT_EQ(un[1].data, le32(2));
    EXPECT_EQ(un[2].number, RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED);
    EXPECT_EQ(un[2].len, 0u);
    EXPECT_TRUE(host.logged("UI <--- RIL_UNSOL_UNKOWN (1051) --- Len 4, hold]\n"));
    EXPECT_TRUE(host.logged("Cond: param_ptr!= ((void *)0)"));
}

} // namespace
