// Module entry, the radio functions, the dispatch table, and what goes back
// to the host: completions and unsolicited responses.
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
    f->onCancel(nullptr);
    zol_release();
    EXPECT_TRUE(host.logged("onCancel()\n") && host.logged("zol_release()\n"));
    const std::pair<int, int> supports[] = {{9, 1},       {1, 0},   {0x17532, 1},
                                            {0x10000, 0}, {310, 1}, {53, 0}};
    for (const auto &[request, supported] : supports) {
        EXPECT_EQ(f->onSupports(request), supported) << request;
    }
    EXPECT_TRUE(host.logged("onSupports() ->: RIL_REQUEST_GET_SIM_STATUS (1), Not Supported\n"));
}

// Ids spread over the buckets by the high bits of their product; every row is
// found under its id, also where rows share a bucket.
TEST_F(EntryDispatch, EveryRowIsFoundUnderItsId)
{
    const std::pair<uint32_t, uint32_t> buckets[] = {
        {9, 84}, {0x17532, 98}, {0, 0}, {0xFFFFFFFF, 0}, {1, 92}};
    for (const auto &[id, bucket] : buckets) {
        EXPECT_EQ(zol_hash_bucket(static_cast<int32_t>(id)), bucket) << std::hex << id;
    }
    for (zol_dispatch_table_entry_type &row : zol_dispatch_table) {
        zol_dispatch_table_entry_type *found = nullptr;
        ASSERT_EQ(zol_hash_table_lookup(row.event_id, &found), 0) << row.event_id;
        EXPECT_EQ(found, &row);
        EXPECT_NE(row.handler, nullptr);
        EXPECT_EQ(row.mask, row.event_id > 0xFFFF ? 7u : 5u);
    }
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
    refused(RIL_REQUEST_CONFERENCE, nullptr, 0);
    refused(RIL_REQUEST_SEPARATE_CONNECTION, pages, 4);
    refused(RIL_REQUEST_RADIO_POWER, nullptr, 4);
    for (int request : {RIL_REQUEST_RADIO_POWER, RIL_REQUEST_SET_MUTE, RIL_REQUEST_SCREEN_STATE}) {
        for (size_t len = 0; len <= sizeof(int32_t); ++len) {
            refused(request, pages + page - len, len);
        }
    }
    munmap(pages, 2 * page);
    EXPECT_TRUE(host.logged("UI --- RIL_REQUEST_SET_MUTE (53) ---> [token id 115, data len 4]\n"));
    EXPECT_TRUE(host.logged("UI <--- RIL_REQUEST_GET_SIM_STATUS (1) Complete --- Token 102, "
                            "Request Not Supported, Len 0 ]\n"));
}

// Stack event ids lie above 0x10000: nothing at or below it is looked up.
TEST_F(EntryDispatch, ProcessEventResults)
{
    auto looked_up = [&](int id) {
        const std::string tail = "- id: " + std::to_string(id) + " ";
        const auto log = host.log_lines();
        return std::any_of(log.begin(), log.end(), [&](const LogLine &l) {
            return l.text.find("zol_hash_table_lookup() - L") != std::string::npos &&
                   l.text.ends_with(tail);
        });
    };
    for (int id : {0x10000, 9, 0x10001}) {
        EXPECT_EQ(zol_process_event(id, nullptr, 0, ZOL_EVENT_TOKEN), 4);
    }
    EXPECT_FALSE(looked_up(0x10000) || looked_up(9));
    EXPECT_TRUE(looked_up(0x10001));
    EXPECT_TRUE(host.completions().empty()) << "a host number must never reach its handler";
    EXPECT_EQ(zol_process_event(0x17546, nullptr, 0, ZOL_EVENT_TOKEN), 0);
    EXPECT_TRUE(host.logged("RIL <--- eTKM_CALL_RUN_STATUS_INFO_IND(95558) --- IMS\n"));
    EXPECT_TRUE(
        host.logged("Exit zol_process_event() : eTKM_CALL_RUN_STATUS_INFO_IND, err_no 0\n"));
}

std::vector<zol_request_params_type> g_probed;
void probe(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    g_probed.push_back(*params_ptr);
    EXPECT_NE(ret_ptr, nullptr);
}

// The stack's token from the host is reported and still handled.
TEST_F(EntryDispatch, StackTokenFromTheHostIsReportedAndHandled)
{
    ScopedHandler swap(RIL_REQUEST_DIAL, probe);
    g_probed.clear();
    radio()->onRequest(RIL_REQUEST_DIAL, nullptr, 0, ZOL_EVENT_TOKEN);
    ASSERT_EQ(g_probed.size(), 1u);
    EXPECT_EQ(g_probed[0].t, ZOL_EVENT_TOKEN);
    EXPECT_TRUE(host.logged("Cond: t != (void *) 0xFFFF"));
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
    zol_dispatch_table_entry_type *row = nullptr;
    ASSERT_EQ(zol_hash_table_lookup(9, &row), 0);
    EXPECT_EQ(zol_invoke_handler(row, nullptr), 0);
    zol_free(nullptr);
    EXPECT_TRUE(host.logged("Cond: mem_ptr != ((void *)0)"));
    AllocationWatch watch;
    auto *p = static_cast<unsigned char *>(zol_malloc(64));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + 64, 0), 64) << "blocks start zero-filled";
    zol_free(p);
    EXPECT_EQ(watch.freed(), 1);
}

TEST_F(EntryDispatch, CompletionsCarryCodeDataAndLogText)
{
    Token t(31), u(32);
    zol_request_resp_params_type r;
    zol_default_request_resp_params(t.get(), 9, 2, &r);
    EXPECT_TRUE(r.response == nullptr && r.response_len == 0 && r.log_str == nullptr);
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
    EXPECT_TRUE(host.logged("UI <--- RIL_REQUEST_LAST_CALL_FAIL_CAUSE (18) Complete --- Token 32, "
                            "Success, Len 4 cause 16]\n"));
    // Completing a request that never waited only notes that it had no entry.
    EXPECT_TRUE(host.logged("Not found ReqList entry : token id 31\n"));
    EXPECT_TRUE(host.logged("Cond: param_ptr != ((void *)0)"));

    // rild may hand the token to its next request inside the callback.
    RIL_Token w = waiting_for(0x17545, RIL_REQUEST_GET_CURRENT_CALLS);
    int seen_inside = -1;
    host.on_complete([&](RIL_Token, RIL_Errno, void *, size_t) {
        zol_reqlist_entry_type q;
        seen_inside = zol_reqlist_query(w, &q);
    });
    zol_default_request_resp_params(w, 9, 0, &r);
    zol_send_request_response(&r);
    EXPECT_EQ(seen_inside, ZOL_REQLIST_NOT_FOUND) << "the entry is gone before the host hears";
}

TEST_F(EntryDispatch, UnsolicitedResponsesCarryDataAndLogText)
{
    int32_t held = 2;
    zol_unsol_resp_params_type u;
    zol_default_unsol_resp_params(1051, &u);
    u.data = &held;
    u.datalen = sizeof held;
    u.log_str = "hold";
    zol_send_unsol_response(&u);
    zol_send_unsol_response(nullptr);
    const auto un = host.unsolicited();
    ASSERT_EQ(un.size(), 1u);
    EXPECT_TRUE(un[0].number == 1051 && un[0].data == le32(2));
    EXPECT_TRUE(host.logged("UI <--- RIL_UNSOL_UNKOWN (1051) --- Len 4, hold]\n"));
    EXPECT_TRUE(host.logged("Cond: param_ptr!= ((void *)0)"));
}

} // namespace
