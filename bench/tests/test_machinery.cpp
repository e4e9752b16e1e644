// The measuring machinery: the allocation counters, the loopback agent and
// the host's countdown. A fault here would make the benchmarks time or count
// something other than the module's work.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "alloc_count.h"
#include "host.h"
#include "loopback_agent.h"

using namespace zol_bench;

namespace {

// Keeps the optimiser from pairing up or dropping the allocations under test.
void *volatile g_sink;

TEST(AllocationCount, EveryWayToAllocateAndFree)
{
    struct Case {
        const char *what;
        void (*op)();
        int64_t allocations, frees;
    } cases[] = {
        {"malloc", [] { g_sink = malloc(24); free(g_sink); }, 1, 1},
        {"calloc", [] { g_sink = calloc(3, 8); free(g_sink); }, 1, 1},
        {"realloc of null", [] { g_sink = realloc(nullptr, 8); free(g_sink); }, 1, 1},
        {"realloc to grow", [] {
             g_sink = malloc(8);
             g_sink = realloc(g_sink, 4096);
             free(g_sink);
         }, 1, 1},
        {"posix_memalign", [] {
             void *p = nullptr;
             if (posix_memalign(&p, 64, 100) == 0) {
                 g_sink = p;
                 free(p);
             }
         }, 1, 1},
        {"aligned_alloc", [] { g_sink = aligned_alloc(64, 128); free(g_sink); }, 1, 1},
        {"free of null", [] { free(nullptr); }, 0, 0},
        {"operator new", [] {
             int *p = new int[10];
             g_sink = p;
             delete[] p;
         }, 1, 1},
    };
    for (const Case &c : cases) {
        count_allocations(true);
        const HeapCounts before = heap_counts();
        c.op();
        const HeapCounts after = heap_counts();
        count_allocations(false);
        EXPECT_EQ(static_cast<int64_t>(after.allocations - before.allocations), c.allocations)
            << c.what;
        EXPECT_EQ(static_cast<int64_t>(after.frees - before.frees), c.frees) << c.what;
        EXPECT_EQ(live_blocks(before, after), 0) << c.what;
    }
}

TEST(AllocationCount, CountsOtherThreadsAndNothingWhileOff)
{
    const HeapCounts idle = heap_counts();
    g_sink = malloc(16);
    free(g_sink);
    EXPECT_EQ(heap_counts().allocations, idle.allocations);

    count_allocations(true);
    const HeapCounts before = heap_counts();
    std::thread([] { g_sink = malloc(16); }).join();
    const HeapCounts after = heap_counts();
    count_allocations(false);
    // The thread's own start-up may allocate too; the block it leaks is counted.
    EXPECT_GE(live_blocks(before, after), 1);
    free(g_sink);
    EXPECT_GT(rss_kib(), 0);
}

// What reaches a read callback, copied out while it runs.
struct Received {
    std::mutex mu;
    std::vector<std::vector<uint8_t>> frames;
    std::atomic<int> count{0};
};
Received g_received;

int record_frame(void *record)
{
    const auto *rec = static_cast<const ipc_agent_recv_type *>(record);
    std::lock_guard<std::mutex> lock(g_received.mu);
    g_received.frames.emplace_back(rec->data, rec->data + rec->count);
    g_received.count.fetch_add(1);
    return 0;
}

std::vector<uint8_t> frame_of(uint16_t message, uint8_t fill, size_t payload)
{
    std::vector<uint8_t> f(11 + payload, fill);
    f[0] = 0;
    f[5] = static_cast<uint8_t>(message >> 8);
    f[6] = static_cast<uint8_t>(message);
    return f;
}

int send_frame(std::vector<uint8_t> f)
{
    ipc_agent_send_type send = {f.data(), static_cast<int32_t>(f.size()), -1, 0, 0, 1};
    return ipc_agent_message_send_block_comm(&send);
}

bool wait_count(int n)
{
    for (int i = 0; i < 1000 && g_received.count.load() < n; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return g_received.count.load() == n;
}

// Opening starts the reader thread; every test opens, in whatever order they run.
void open_loopback()
{
    ipc_agent_open_type open = {};
    open.read_cb = record_frame;
    ASSERT_EQ(ipc_agent_open(&open), 0);
    ASSERT_EQ(zol_loopback_module_callback(), &record_frame);
}

TEST(Loopback, AnswersEachMessageWithItsFrameInOrder)
{
    open_loopback();

    const std::vector<uint8_t> to_17 = frame_of(30021, 0xA1, 411);
    const std::vector<uint8_t> to_51 = frame_of(30055, 0xB2, 868);
    zol_loopback_set_answer(17, to_17.data(), to_17.size());
    zol_loopback_set_answer(51, to_51.data(), to_51.size());
    zol_loopback_set_answer(99, nullptr, 0); // sent, never answered

    const uint64_t sent = zol_loopback_sent();
    const uint16_t order[] = {17, 51, 99, 51, 17, 17};
    for (uint16_t message : order) {
        ASSERT_EQ(send_frame(frame_of(message, 0, 3)), 0);
    }
    ASSERT_TRUE(wait_count(5));
    EXPECT_EQ(zol_loopback_sent() - sent, 6u);
    std::lock_guard<std::mutex> lock(g_received.mu);
    const std::vector<std::vector<uint8_t>> want = {to_17, to_51, to_51, to_17, to_17};
    EXPECT_EQ(g_received.frames, want);
}

TEST(Loopback, RoutesElsewhereAndRefusesWhatIsNoFrame)
{
    open_loopback();
    static std::atomic<int> routed{0};
    const int before = g_received.count.load();
    const std::vector<uint8_t> answer = frame_of(30006, 1, 5);
    zol_loopback_set_answer(1, answer.data(), answer.size());
    zol_loopback_route_to([](void *) {
        routed.fetch_add(1);
        return 0;
    });
    ASSERT_EQ(send_frame(frame_of(1, 0, 0)), 0);
    for (int i = 0; i < 1000 && routed.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    zol_loopback_route_to(nullptr);
    EXPECT_EQ(routed.load(), 1);
    EXPECT_EQ(g_received.count.load(), before);

    std::vector<uint8_t> short_frame(10, 0);
    ipc_agent_send_type send = {short_frame.data(), 10, -1, 0, 0, 1};
    EXPECT_EQ(ipc_agent_message_send_block_comm(&send), -1);
    EXPECT_EQ(ipc_agent_message_send_block_comm(nullptr), -1);
}

TEST(HostCountdown, WakesOnTheLastExpectedCallbackAndCountsStrays)
{
    Host &host = Host::get();
    const uint64_t strays = host.tally().stray;
    host.arm(3);
    std::thread callbacks([&host] {
        for (int i = 0; i < 3; ++i) {
            host.count_down();
        }
    });
    EXPECT_TRUE(host.wait());
    callbacks.join();
    EXPECT_EQ(host.tally().stray, strays);
    host.count_down();
    EXPECT_EQ(host.tally().stray, strays + 1);
}

} // namespace
