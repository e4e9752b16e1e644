// Records that cross a boundary keep the bytes the other side expects. On the
// handset's 32-bit ABI that is, among others, the host's 60-byte call record, the
// 16-byte dispatch row and request parameter record, the 12-byte SMS response and
// the 24-byte open and send records of the agent library; a 64-bit build checks
// the LP64 form of the same records. Frames carry the same bytes on both: the
// literal-byte tests of the handlers run unchanged in either build.
#include <iterator>

#include "fixture.h"
#include "layout_table.h"

using namespace zol_kit;

namespace {
constexpr bool kIlp32 = sizeof(void *) == 4;
static_assert(kIlp32 || sizeof(void *) == 8, "a 32-bit or a 64-bit target");

struct Row {
    const char *what;
    size_t actual;
    size_t ilp32;
    size_t lp64;
};

#define ZOL_ROW_SIZE(type, ilp32, lp64) {"sizeof(" #type ")", sizeof(type), ilp32, lp64},
#define ZOL_ROW_FIELD(type, member, ilp32, lp64) \
    {"offsetof(" #type ", " #member ")", offsetof(type, member), ilp32, lp64},
const Row kRows[] = {ZOL_LAYOUT_TABLE(ZOL_ROW_SIZE, ZOL_ROW_FIELD)};

TEST(Layout, RecordsHaveTheTargetsSizesAndOffsets)
{
    SCOPED_TRACE(kIlp32 ? "32-bit target" : "64-bit target");
    for (const Row &r : kRows) {
        EXPECT_EQ(r.actual, kIlp32 ? r.ilp32 : r.lp64) << r.what;
    }
}

TEST(Layout, HostsWrittenInCSeeTheSameRecords)
{
    ASSERT_EQ(zol_c_layout_rows, std::size(kRows));
    for (size_t i = 0; i < std::size(kRows); ++i) {
        EXPECT_EQ(zol_c_layout[i], kRows[i].actual) << kRows[i].what;
    }
}

// What the module wrote into the agent's records, field by field: the fields
// sit where the table above puts them, so this is also the byte image the agent reads.
TEST(Layout, AgentRecordsCarryTheModulesValues)
{
    agent::reset();
    Token t(7);
    uint8_t payload[5] = {1, 2, 3, 4, 5};
    zol_request_params_type params = {4, payload, sizeof payload, t.get()};
    ASSERT_EQ(zol_ipc_send_request(&params), 0);

    const agent::Records r = agent::records();
    EXPECT_EQ(r.init.first, 1);
    EXPECT_EQ(r.init.second, 2);
    EXPECT_EQ(r.open.kind, 0);
    EXPECT_EQ(r.open.read_cb, &zol_ipc_read_event_cb);
    EXPECT_NE(r.open.options, nullptr);
    EXPECT_EQ(r.open.flags, 0);
    ASSERT_NE(r.open.channel_id, nullptr);
    EXPECT_EQ(*r.open.channel_id, 1) << "the channel id stays readable after the open";
    EXPECT_EQ(r.options.mode, 1);
    EXPECT_EQ(r.options.flags, 0);
    EXPECT_STREQ(r.options.name, "1");
    EXPECT_NE(r.send.frame, nullptr);
    EXPECT_EQ(r.send.length, 11 + 5);
    EXPECT_EQ(r.send.timeout, -1);
    EXPECT_EQ(r.send.priority, 0);
    EXPECT_EQ(r.send.channel_id, 1);
}

} // namespace
