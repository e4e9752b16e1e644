// Module entry, the radio functions and the dispatch table.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include <sys/mman.h>
#include <unistd.h>

#include "test_host.h"

using namespace zol_test;

namespace {

class EntryDispatch : public ::testing::Test {
protected:
    void SetUp() override { TestHost::instance().reset(); }
    TestHost &host = TestHost::instance();
};

TEST_F(EntryDispatch, RadioFunctionTable)
{
    const RIL_RadioFunctions *f = radio();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->version, 9);
    EXPECT_STREQ(f->getVersion(), "ZOL 1.0");
    EXPECT_STREQ(f->getVersion(), "ZOL 1.0");
    EXPECT_EQ(f->currentState(), 1);
    EXPECT_TRUE(host.logged("getVersion() -> ZOL 1.0\n"));
}

TEST_F(EntryDispatch, OnSupportsCountsEveryRowIncludingStackEvents)
{
    struct Case {
        int request;
        int supported;
    } cases[] = {{9, 1}, {1, 0}, {0x17532, 1}, {0x17568, 1}, {0x10000, 0}, {310, 1}, {53, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(radio()->onSupports(c.request), c.supported) << c.request;
    }
    EXPECT_TRUE(host.logged("onSupports() ->: RIL_REQUEST_GET_CURRENT_CALLS (9), Supported\n"));
    EXPECT_TRUE(host.logged("onSupports() ->: RIL_REQUEST_GET_SIM_STATUS (1), Not Supported\n"));
}

TEST_F(EntryDispatch, BucketFunction)
{
    struct Case {
        uint32_t id;
        uint32_t bucket;
    } cases[] = {{9, 84}, {0x17532, 98}, {0, 0}, {0xFFFFFFFF, 0}, {1, 92}, {0x10000, 92}};
    for (const Case &c : cases) {
        EXPECT_EQ(zol_hash_bucket(static_cast<int32_t>(c.id)), c.bucket) << std::hex << c.id;
    }
}

TEST_F(EntryDispatch, SharedBucketsChainInTableOrder)
{
    struct Pair {
        uint32_t bucket;
        int32_t first;
        int32_t second;
    } pairs[] = {{5, 13, 0x17533},     {32, 112, 0x1753D},    {98, 336, 0x17532},
                 {41, 337, 0x17535},   {133, 338, 0x17534},   {125, 0x1753C, 113},
                 {68, 0x1753F, 0x17596}, {59, 0x17547, 33},   {37, 0x17548, 36}};
    for (const Pair &p : pairs) {
        zol_dispatch_table_entry_type *a = nullptr;
        zol_dispatch_table_entry_type *b = nullptr;
        ASSERT_EQ(zol_hash_table_lookup(p.first, &a), 0);
        ASSERT_EQ(zol_hash_table_lookup(p.second, &b), 0);
        EXPECT_EQ(zol_hash_bucket(p.first), p.bucket);
        EXPECT_EQ(zol_hash_bucket(p.second), p.bucket);
        EXPECT_EQ(a->event_id, p.first);
        EXPECT_EQ(b->event_id, p.second);
        EXPECT_EQ(a->next, b) << "bucket " << p.bucket;
        EXPECT_EQ(b->next, nullptr);
    }
}

TEST_F(EntryDispatch, EveryRowIsFoundAndBucketsAreUsedAsExpected)
{
    std::set<uint32_t> buckets;
    for (zol_dispatch_table_entry_type &row : zol_dispatch_table) {
        zol_dispatch_table_entry_type *found = nullptr;
        ASSERT_EQ(zol_hash_table_lookup(row.event_id, &found), 0) << row.event_id;
        EXPECT_EQ(found->event_id, row.event_id);
        EXPECT_NE(found->handler, nullptr);
        EXPECT_EQ(row.mask, row.event_id > 0xFFFF ? 7u : 5u);
        buckets.insert(zol_hash_bucket(row.event_id));
    }
    EXPECT_EQ(buckets.size(), 53u);
    // The same handler serves seven query requests, told apart by request number.
    zol_dispatch_table_entry_type *a = nullptr;
    zol_dispatch_table_entry_type *b = nullptr;
    zol_hash_table_lookup(31, &a);
    zol_hash_table_lookup(319, &b);
    EXPECT_EQ(a->handler, b->handler);
    EXPECT_EQ(zol_hash_table_lookup(1, nullptr), 1);
    EXPECT_EQ(zol_hash_table_lookup(9, nullptr), 0);
}

TEST_F(EntryDispatch, RequestsWithoutRowAreNotSupported)
{
    Token t1(101), t2(102), t3(103);
    radio()->onRequest(65536, nullptr, 0, t1.get());
    radio()->onRequest(1, nullptr, 0, t2.get());
    int32_t off = 0;
    radio()->onRequest(53, &off, sizeof off, t3.get());
    for (Token *t : {&t1, &t2, &t3}) {
        auto c = host.completions_for(t->get());
        ASSERT_EQ(c.size(), 1u);
        EXPECT_EQ(c[0].error, RIL_E_REQUEST_NOT_SUPPORTED);
        EXPECT_EQ(c[0].len, 0u);
    }
    EXPECT_TRUE(host.logged("UI --- RIL_REQUEST_SET_MUTE (53) ---> [token id 103, data len 4]\n"));
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_GET_SIM_STATUS (1) Complete --- Token 102, Request Not Supported, Len 0 ]\n"));
}

// Data shorter than the on/off word ends right before an unmapped page: any
// read of the word past datalen faults.
TEST_F(EntryDispatch, OnOffRequestsWithShortDataReadNoFurther)
{
    const long page = sysconf(_SC_PAGESIZE);
    auto *pages = static_cast<uint8_t *>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    std::deque<Token> tokens;
    for (int request : {RIL_REQUEST_RADIO_POWER, RIL_REQUEST_SET_MUTE, RIL_REQUEST_SCREEN_STATE}) {
        for (size_t len = 0; len < sizeof(int32_t); ++len) {
            Token &t = tokens.emplace_back(static_cast<int32_t>(110 + tokens.size()));
            uint8_t *data = pages + page - len;
            radio()->onRequest(request, data, len, t.get());
            auto c = host.completions_for(t.get());
            ASSERT_EQ(c.size(), 1u) << request << "/" << len;
            EXPECT_EQ(c[0].error, RIL_E_REQUEST_NOT_SUPPORTED);
        }
    }
    munmap(pages, 2 * page);
}

TEST_F(EntryDispatch, ProcessEventResults)
{
    EXPECT_EQ(zol_process_event(0x10000, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    EXPECT_EQ(zol_process_event(9, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    EXPECT_TRUE(host.completions().empty()) << "a host number must never reach its handler";
    host.clear_log();
    EXPECT_EQ(zol_process_event(0x10001, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    bool looked_up = false;
    for (const LogLine &l : host.log_lines()) {
        looked_up |= l.text.find("zol_hash_table_lookup() - L") != std::string::npos &&
                     l.text.find("- id: 65537 ") != std::string::npos;
    }
    EXPECT_TRUE(looked_up);
    EXPECT_EQ(zol_process_event(0x17546, nullptr, 0, ZOL_EVENT_TOKEN), 0);
    EXPECT_TRUE(host.logged("RIL <--- eTKM_CALL_RUN_STATUS_INFO_IND(95558) --- IMS\n"));
    EXPECT_TRUE(host.logged("Exit zol_process_event() : eTKM_CALL_RUN_STATUS_INFO_IND, err_no 0\n"));
}

int g_probe_calls = 0;
zol_request_params_type g_probe_params;

void probe(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    ++g_probe_calls;
    g_probe_params = *params_ptr;
    EXPECT_NE(ret_ptr, nullptr);
}

TEST_F(EntryDispatch, HandlersGetTheRecordAsPassed)
{
    ScopedHandler swap(10, probe);
    Token t(7);
    char data[3] = {1, 2, 3};
    g_probe_calls = 0;
    radio()->onRequest(10, data, sizeof data, t.get());
    EXPECT_EQ(g_probe_calls, 1);
    EXPECT_EQ(g_probe_params.event_id, 10);
    EXPECT_EQ(g_probe_params.data, data);
    EXPECT_EQ(g_probe_params.datalen, 3u);
    EXPECT_EQ(g_probe_params.t, t.get());
    EXPECT_TRUE(host.completions().empty());
}

TEST_F(EntryDispatch, EventTokenFromHostIsReportedAndStillHandled)
{
    ScopedHandler swap(RIL_REQUEST_GET_CURRENT_CALLS, probe);
    g_probe_calls = 0;
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, ZOL_EVENT_TOKEN);
    EXPECT_TRUE(host.logged("Cond: t != (void *) 0xFFFF"));
    EXPECT_EQ(g_probe_calls, 1);
    EXPECT_EQ(g_probe_params.t, ZOL_EVENT_TOKEN);
    EXPECT_TRUE(host.logged(
        "UI --- RIL_REQUEST_GET_CURRENT_CALLS (9) ---> [token id 65535, data len 0]\n"));
}

TEST_F(EntryDispatch, NullArgumentsAreReportedNotFollowed)
{
    zol_dispatch_table_entry_type *row = nullptr;
    ASSERT_EQ(zol_hash_table_lookup(9, &row), 0);
    EXPECT_EQ(zol_invoke_handler(row, nullptr), 0);
    EXPECT_TRUE(host.logged("Cond: params_ptr != ((void *)0)"));
    host.clear_log();
    zol_free(nullptr);
    EXPECT_TRUE(host.logged("*****ASSERTION FAILED*****"));
    EXPECT_TRUE(host.logged("Cond: mem_ptr != ((void *)0)"));
}

TEST_F(EntryDispatch, MallocZeroFillsAndReleaseOnlyLogs)
{
    auto *p = static_cast<unsigned char *>(zol_malloc(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(p[i], 0);
    }
    zol_free(p);
    zol_release();
    EXPECT_TRUE(host.logged("zol_release()\n"));
    radio()->onCancel(nullptr);
    EXPECT_TRUE(host.logged("onCancel()\n"));
}

} // namespace
