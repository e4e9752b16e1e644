// The measuring machinery: the allocation counters and the host's countdown.
// A fault here would make the benchmarks time or count something other than
// the module's work.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "alloc_count.h"
#include "host.h"

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
        {"realloc to grow", [] { g_sink = malloc(8); g_sink = realloc(g_sink, 4096); free(g_sink); }, 1, 1},
        {"posix_memalign", [] { free(posix_memalign(const_cast<void **>(&g_sink), 64, 100) == 0 ? g_sink : nullptr); }, 1, 1},
        {"aligned_alloc", [] { g_sink = aligned_alloc(64, 128); free(g_sink); }, 1, 1},
        {"free of null", [] { free(nullptr); }, 0, 0},
        {"operator new", [] { g_sink = new int[10]; delete[] static_cast<int *>(g_sink); }, 1, 1},
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
