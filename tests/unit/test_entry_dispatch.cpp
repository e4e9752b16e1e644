// Module entry, the radio functions and the dispatch table.
#include <set>

#include <sys/mman.h>
#include <unistd.h>

#include "fixture.h"

using namespace zol_kit;

namespace {

using EntryDispatch = ModuleTest;

TEST_F(EntryDispatch, RadioFunctions)
{
    const RIL_RadioFunctions *f = radio();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->version, 9);
    EXPECT_STREQ(f->getVersion(), "ZOL 1.0");
    EXPECT_EQ(f->currentState(), RADIO_STATE_UNAVAILABLE);
    EXPECT_TRUE(host.logged("getVersion() -> ZOL 1.0\n"));
    f->onCancel(nullptr);
    zol_release();
    EXPECT_TRUE(host.logged("onCancel()\n") && host.logged("zol_release()\n"));

    const struct {
        int request, supported;
    } supports[] = {{9, 1}, {1, 0}, {0x17532, 1}, {0x17568, 1}, {0x10000, 0}, {310, 1}, {53, 0}};
    for (const auto &c : supports) {
        EXPECT_EQ(f->onSupports(c.request), c.supported) << c.request;
    }
    EXPECT_TRUE(host.logged("onSupports() ->: RIL_REQUEST_GET_SIM_STATUS (1), Not Supported\n"));
}

// Rows that share a bucket are chained in table order.
TEST_F(EntryDispatch, BucketsAndChains)
{
    const struct {
        uint32_t id, bucket;
    } buckets[] = {{9, 84}, {0x17532, 98}, {0, 0}, {0xFFFFFFFF, 0}, {1, 92}, {0x10000, 92}};
    for (const auto &c : buckets) {
        EXPECT_EQ(zol_hash_bucket(static_cast<int32_t>(c.id)), c.bucket) << std::hex << c.id;
    }
    const struct {
        uint32_t bucket;
        int32_t first, second;
    } chains[] = {{5, 13, 0x17533},         {32, 112, 0x1753D},   {98, 336, 0x17532},
                  {41, 337, 0x17535},       {133, 338, 0x17534},  {125, 0x1753C, 113},
                  {68, 0x1753F, 0x17596},   {59, 0x17547, 33},    {37, 0x17548, 36}};
    for (const auto &c : chains) {
        zol_dispatch_table_entry_type *a = nullptr, *b = nullptr;
        ASSERT_EQ(zol_hash_table_lookup(c.first, &a), 0);
        ASSERT_EQ(zol_hash_table_lookup(c.second, &b), 0);
        EXPECT_EQ(zol_hash_bucket(c.first), c.bucket);
        EXPECT_EQ(zol_hash_bucket(c.second), c.bucket);
        EXPECT_EQ(a->next, b) << "bucket " << c.bucket;
        EXPECT_EQ(b->next, nullptr);
    }
    std::set<uint32_t> used;
    for (zol_dispatch_table_entry_type &row : zol_dispatch_table) {
        zol_dispatch_table_entry_type *found = nullptr;
        ASSERT_EQ(zol_hash_table_lookup(row.event_id, &found), 0) << row.event_id;
        EXPECT_EQ(found, &row);
        EXPECT_NE(row.handler, nullptr);
        EXPECT_EQ(row.mask, row.event_id > 0xFFFF ? 7u : 5u);
        used.insert(zol_hash_bucket(row.event_id));
    }
    EXPECT_EQ(used.size(), 53u);
    EXPECT_EQ(zol_hash_table_lookup(1, nullptr), 1);
    EXPECT_EQ(zol_hash_table_lookup(9, nullptr), 0);
}

// Requests without a row are not supported. The on/off requests read their
// word only when all of it was given: their data ends before an unmapped page.
TEST_F(EntryDispatch, RequestsWithoutRowAreNotSupported)
{
    const long page = sysconf(_SC_PAGESIZE);
    auto *pages = static_cast<uint8_t *>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
    int32_t next = 100;
    auto refused = [&](int request, void *data, size_t len) {
        RIL_Token t = token(++next);
        radio()->onRequest(request, data, len, t);
        const auto c = host.completions_for(t);
        ASSERT_EQ(c.size(), 1u) << request << "/" << len;
        EXPECT_EQ(c[0].error, RIL_E_REQUEST_NOT_SUPPORTED);
        EXPECT_EQ(c[0].len, 0u);
    };
    refused(65536, nullptr, 0);
    refused(1, nullptr, 0);
    for (int request : {RIL_REQUEST_RADIO_POWER, RIL_REQUEST_SET_MUTE, RIL_REQUEST_SCREEN_STATE}) {
        for (size_t len = 0; len <= sizeof(int32_t); ++len) {
            refused(request, pages + page - len, len);
        }
    }
    munmap(pages, 2 * page);
    EXPECT_TRUE(host.logged("UI --- RIL_REQUEST_SET_MUTE (53) ---> [token id 112, data len 4]\n"));
    EXPECT_TRUE(host.logged(
        "UI <--- RIL_REQUEST_GET_SIM_STATUS (1) Complete --- Token 102, Request Not Supported, Len 0 ]\n"));
}

// Stack event ids lie above 0x10000: nothing at or below it is looked up.
TEST_F(EntryDispatch, ProcessEventResults)
{
    auto looked_up = [&](int id) {
        const std::string tail = "- id: " + std::to_string(id) + " ";
        for (const LogLine &l : host.log_lines()) {
            if (l.text.find("zol_hash_table_lookup() - L") != std::string::npos && l.text.ends_with(tail)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_EQ(zol_process_event(0x10000, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    EXPECT_EQ(zol_process_event(9, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    EXPECT_EQ(zol_process_event(0x10001, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    EXPECT_FALSE(looked_up(0x10000) || looked_up(9));
    EXPECT_TRUE(looked_up(0x10001));
    EXPECT_TRUE(host.completions().empty()) << "a host number must never reach its handler";
    EXPECT_EQ(zol_process_event(0x17546, nullptr, 0, ZOL_EVENT_TOKEN), 0);
    EXPECT_TRUE(host.logged("RIL <--- eTKM_CALL_RUN_STATUS_INFO_IND(95558) --- IMS\n"));
    EXPECT_TRUE(host.logged("Exit zol_process_event() : eTKM_CALL_RUN_STATUS_INFO_IND, err_no 0\n"));
}

zol_request_params_type g_probed;
int g_probes = 0;
void probe(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    ++g_probes;
    g_probed = *params_ptr;
    EXPECT_NE(ret_ptr, nullptr);
}

// Handlers get the host's record as passed; the stack's token from the host
// is reported and still handled.
TEST_F(EntryDispatch, HandlersGetTheRecordAsPassed)
{
    ScopedHandler swap(RIL_REQUEST_DIAL, probe);
    ScopedHandler swap_calls(RIL_REQUEST_GET_CURRENT_CALLS, probe);
    Token t(7);
    char data[3] = {1, 2, 3};
    g_probes = 0;
    radio()->onRequest(RIL_REQUEST_DIAL, data, sizeof data, t.get());
    EXPECT_EQ(g_probes, 1);
    EXPECT_EQ(g_probed.event_id, RIL_REQUEST_DIAL);
    EXPECT_EQ(g_probed.data, data);
    EXPECT_EQ(g_probed.datalen, 3u);
    EXPECT_EQ(g_probed.t, t.get());
    radio()->onRequest(RIL_REQUEST_GET_CURRENT_CALLS, nullptr, 0, ZOL_EVENT_TOKEN);
    EXPECT_EQ(g_probes, 2);
    EXPECT_EQ(g_probed.t, ZOL_EVENT_TOKEN);
    EXPECT_TRUE(host.logged("Cond: t != (void *) 0xFFFF"));
    EXPECT_TRUE(host.completions().empty());
}

// Every handler reports a missing record and follows no null pointer: without
// a record there is no request to answer; without a return record the request
// is still answered once, or remembered.
TEST_F(EntryDispatch, EveryHandlerSurvivesNullRecords)
{
    for (zol_dispatch_table_entry_type &row : zol_dispatch_table) {
        SCOPED_TRACE(row.event_id);
        host.reset();
        zol_request_return_type ret{};
        row.handler(nullptr, &ret);
        const bool checked = row.event_id != 0x1753D; // the modify confirmation reads nothing
        EXPECT_EQ(host.logged("Cond: params_ptr != ((void *)0)"), checked);
        RIL_Token t = token(row.event_id);
        zol_request_params_type params = {row.event_id, nullptr, 0, t};
        row.handler(&params, nullptr);
        EXPECT_EQ(host.logged("Cond: ret_ptr != ((void *)0)"), checked);
        if (row.event_id <= 0xFFFF) {
            EXPECT_EQ(host.completions_for(t).size() + (waits_for(t) != 0 ? 1 : 0), 1u);
        }
    }
}

TEST_F(EntryDispatch, NullArgumentsAreReportedNotFollowed)
{
    zol_dispatch_table_entry_type *row = nullptr;
    ASSERT_EQ(zol_hash_table_lookup(9, &row), 0);
    EXPECT_EQ(zol_invoke_handler(row, nullptr), 0);
    EXPECT_TRUE(host.logged("Cond: params_ptr != ((void *)0)"));
    zol_free(nullptr);
    EXPECT_TRUE(host.logged("Cond: mem_ptr != ((void *)0)"));
    auto *p = static_cast<unsigned char *>(zol_malloc(64));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + 64, 0), 64) << "blocks start zero-filled";
    zol_free(p);
}

} // namespace
