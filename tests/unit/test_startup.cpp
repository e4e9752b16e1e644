// Start-up, in a process of its own: the agent's open as the module reports
// it, and the event thread: events that arrive before the module releases it
// wait, and keep their order.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

#include "fixture.h"

using namespace zol_kit;

namespace {

std::mutex g_mu;
std::vector<uint8_t> g_order;

void probe(zol_request_params_type *params_ptr, zol_request_return_type *)
{
    std::lock_guard<std::mutex> lock(g_mu);
    g_order.push_back(*static_cast<const uint8_t *>(params_ptr->data));
}

size_t processed()
{
    std::lock_guard<std::mutex> lock(g_mu);
    return g_order.size();
}

// Runs first, in a child process of its own: the event thread cannot get its
// pipe, and zol_event_init must still return.
TEST(StartupDeathTest, InitReturnsWhenTheEventThreadCannotStart)
{
#ifdef ZOL_TEST_NO_REEXEC
    // A plain fork is enough: this test runs first, before any thread exists.
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
    EXPECT_EXIT(
        {
            Host::capture_log();
            struct rlimit rl;
            getrlimit(RLIMIT_NOFILE, &rl);
            rl.rlim_cur = 0; // no new descriptor at all
            setrlimit(RLIMIT_NOFILE, &rl);
            zol_event_init();
            const bool reported = Host::get().logged("Error opening pipe (24)\n");
            // Queueing must not touch the missing pipe in a harmful way.
            uint8_t x = 1;
            zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
            _exit(reported ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Startup, AgentOpenIsReported)
{
    Host &host = Host::get();
    Host::capture_log();
    agent::set_open_result(-1);
    zol_ipc_init();
    EXPECT_TRUE(host.logged("Failed to open ipc agent!\n"));
    EXPECT_EQ(agent::module_callback(), nullptr);
    agent::set_open_result(0);
    zol_ipc_init();
    EXPECT_TRUE(host.logged("Open ipc agent success!\n"));
    EXPECT_EQ(agent::module_callback(), &zol_ipc_read_event_cb);
}

TEST(Startup, EventsQueuedBeforeTheReleaseWaitAndKeepTheirOrder)
{
    Host &host = Host::get();
    Host::capture_log();
    zol_response_api = host.env();
    zol_event_init();
    EXPECT_TRUE(host.logged("zol_event_init(): event thread started\n"));
    zol_init();
    ScopedHandler swap(0x17543, probe);
    // The start-up timer only says that it ran.
    ASSERT_EQ(host.timers().size(), 1u);
    host.timers()[0].callback(host.timers()[0].param);
    EXPECT_TRUE(host.logged("Delay Timer expired with ID 0\n"));

    for (uint8_t i = 1; i <= 3; ++i) {
        zol_event_queue(1, 0x7543, &i, 1, ZOL_EVENT_TOKEN);
    }
    // The thread reports that it waits for the release; until then it runs nothing.
    ASSERT_TRUE(host.wait_logged("Event thread waiting for started == 2 (1)"));
    EXPECT_EQ(processed(), 0u);

    const auto released = std::chrono::steady_clock::now();
    zol_event_start();
    ASSERT_TRUE(host.wait_until([] { return processed() == 3; }));
    EXPECT_GE(std::chrono::steady_clock::now() - released, std::chrono::seconds(1));
    std::lock_guard<std::mutex> lock(g_mu);
    EXPECT_EQ(g_order, (std::vector<uint8_t>{1, 2, 3}));
}

} // namespace
