// Completions and unsolicited responses to the host.
#include <gtest/gtest.h>

#include "test_host.h"

using namespace zol_test;

namespace {

class Response : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestHost::instance().reset();
        zol_reqlist_init();
    }
    TestHost &host = TestHost::instance();
};

TEST_F(Response, DefaultsAndErrorCompletion)
{
    Token t(31);
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t.get(), 9, 2, &r);
    EXPECT_EQ(r.t, t.get());
    EXPECT_EQ(r.event_id, 9);
    EXPECT_EQ(r.ril_errno, 2);
    EXPECT_EQ(r.response, nullptr);
    EXPECT_EQ(r.response_len, 0u);
    EXPECT_EQ(r.log_str, nullptr);
    zol_send_request_response(&r);
    auto c = host.completions();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].error, RIL_E_GENERIC_FAILURE);
    EXPECT_EQ(c[0].len, 0u);
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_GET_CURRENT_CALLS (9) Complete --- Token 31, Generic Failure, Len 0 ]\n"));
    // Completing a request that never waited only notes that it had no entry.
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 31\n"));
}

TEST_F(Response, DataAndLogTextReachTheHost)
{
    Token t(32);
    int32_t value = 0x11223344;
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t.get(), 18, 0, &r);
    r.response = &value;
    r.response_len = sizeof value;
    r.log_str = "cause 16";
    zol_send_request_response(&r);
    auto c = host.completions();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].data, (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_LAST_CALL_FAIL_CAUSE (18) Complete --- Token 32, Success, Len 4 cause 16]\n"));
}

TEST_F(Response, EntryIsGoneBeforeTheHostHearsTheAnswer)
{
    Token t(33);
    zol_reqlist_entry_type e;
    zol_reqlist_default_entry(t.get(), 9, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, 0x17545, nullptr, &e);
    ASSERT_EQ(zol_reqlist_new(&e), 0);
    int seen_inside = -1;
    host.set_on_complete([&](const Completion &) {
        zol_reqlist_entry_type q;
        seen_inside = zol_reqlist_query(t.get(), &q);
    });
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t.get(), 9, 0, &r);
    zol_send_request_response(&r);
    EXPECT_EQ(seen_inside, ZOL_REQLIST_NOT_FOUND);
}

TEST_F(Response, Unsolicited)
{
    zol_unsol_resp_params_type u;
    zol_default_unsol_resp_params(1047, &u);
    EXPECT_EQ(u.event_id, 1047);
    EXPECT_EQ(u.data, nullptr);
    EXPECT_EQ(u.datalen, 0u);
    EXPECT_EQ(u.log_str, nullptr);
    zol_send_unsol_response(&u);
    EXPECT_TRUE(host.logged("UI <--- RIL_UNSOL_UNKOWN (1047) --- Len 0, ]\n"));

    int32_t held = 2;
    zol_default_unsol_resp_params(1051, &u);
    u.data = &held;
    u.datalen = sizeof held;
    u.log_str = "hold";
    zol_send_unsol_response(&u);
    auto un = host.unsolicited();
    ASSERT_EQ(un.size(), 2u);
    EXPECT_EQ(un[0].number, 1047);
    EXPECT_EQ(un[1].number, 1051);
    EXPECT_EQ(un[1].data, (std::vector<uint8_t>{2, 0, 0, 0}));
    EXPECT_TRUE(host.logged("UI <--- RIL_UNSOL_UNKOWN (1051) --- Len 4, hold]\n"));

    zol_cm_send_unsol_call_state_changed();
    EXPECT_EQ(host.unsolicited().back().number, RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED);
    EXPECT_EQ(host.unsolicited().back().len, 0u);
}

TEST_F(Response, NullRecordsSendNothing)
{
    zol_send_request_response(nullptr);
    zol_send_unsol_response(nullptr);
    EXPECT_TRUE(host.logged("Cond: param_ptr != ((void *)0)"));
    EXPECT_TRUE(host.logged("Cond: param_ptr!= ((void *)0)"));
    EXPECT_TRUE(host.completions().empty());
    EXPECT_TRUE(host.unsolicited().empty());
}

} // namespace
