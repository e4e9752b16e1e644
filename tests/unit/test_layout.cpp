// Records that cross a boundary keep the bytes the other side expects, in the
// handset's 32-bit ABI and in the LP64 form of a 64-bit build. Frames carry the
// same bytes on both: the literal-byte tests of the handlers run in either build.
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
#define ZOL_ROW_FIELD(type, member, ilp32, lp64)                                                   \
    {"offsetof(" #type ", " #member ")", offsetof(type, member), ilp32, lp64},
const Row kRows[] = {ZOL_LAYOUT_TABLE(ZOL_ROW_SIZE, ZOL_ROW_FIELD)};

// Hosts written in C see the same records: the C compiler's numbers are checked too.
TEST(Layout, RecordsHaveTheTargetsSizesAndOffsets)
{
    SCOPED_TRACE(kIlp32 ? "32-bit target" : "64-bit target");
    ASSERT_EQ(zol_c_layout_rows, std::size(kRows));
    for (size_t i = 0; i < std::size(kRows); ++i) {
        EXPECT_EQ(kRows[i].actual, kIlp32 ? kRows[i].ilp32 : kRows[i].lp64) << kRows[i].what;
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
    EXPECT_EQ((std::vector<long>{r.init.first, r.init.second, r.open.kind, r.open.flags,
                                 r.options.mode, r.options.flags, r.send.length, r.send.timeout,
                                 r.send.priority, r.send.channel_id}),
              (std::vector<long>{1, 2, 0, 0, 1, 0, 11 + 5, -1, 0, 1}));
    EXPECT_EQ(r.open.read_cb, &zol_ipc_read_event_cb);
    EXPECT_NE(r.open.options, nullptr);
    EXPECT_STREQ(r.options.name, "1");
    EXPECT_NE(r.send.frame, nullptr);
    ASSERT_NE(r.open.channel_id, nullptr);
    EXPECT_EQ(*r.open.channel_id, 1) << "the channel id stays readable after the open";
}

} // namespace
