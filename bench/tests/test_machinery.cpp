// The measuring machinery: the allocation counters, the floor's event loop and
// the log filter. A fault here would make the benchmarks time or count
// something other than the module's work. (Every benchmark run checks the
// host's countdown, and the counters' threads and window, by its own checks:
// no lost or stray callbacks, exactly the expected heap blocks per request.)
#include <gtest/gtest.h>

#include <android/log.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "alloc_count.h"
#include "bare_loop.h"
#include "log/zol_diag.h"

using namespace zol_bench;

namespace {

// Keeps the optimiser from pairing up or dropping the allocations under test.
void *volatile g_sink;

void *memaligned()
{
    void *p = nullptr;
    return posix_memalign(&p, 64, 100) == 0 ? p : nullptr;
}

TEST(AllocationCount, EveryWayToAllocateAndFree)
{
    struct Case {
        const char *what;
        void *(*allocate)();
        int64_t allocations, frees;
        void (*release)(void *) = free;
    } cases[] = {
        {"malloc", [] { return malloc(24); }, 1, 1},
        {"calloc", [] { return calloc(3, 8); }, 1, 1},
        {"realloc of null", [] { return realloc(nullptr, 8); }, 1, 1},
        {"realloc to grow", [] { return realloc(malloc(8), 4096); }, 1, 1},
        {"posix_memalign", memaligned, 1, 1},
        {"aligned_alloc", [] { return aligned_alloc(64, 128); }, 1, 1},
        {"free of null", []() -> void * { return nullptr; }, 0, 0},
        {"operator new", []() -> void * { return new int[10]; }, 1, 1,
         [](void *p) { delete[] static_cast<int *>(p); }},
    };
    for (const Case &c : cases) {
        count_allocations(true);
        const HeapCounts before = heap_counts();
        g_sink = c.allocate();
        c.release(g_sink);
        const HeapCounts after = heap_counts();
        count_allocations(false);
        EXPECT_EQ(static_cast<int64_t>(after.allocations - before.allocations), c.allocations)
            << c.what;
        EXPECT_EQ(static_cast<int64_t>(after.frees - before.frees), c.frees) << c.what;
        EXPECT_EQ(live_blocks(before, after), 0) << c.what;
    }
}

// The floor's event loop must deliver like the module's queue does, or the
// floor measures something else: every event, in order, from its own copy.
struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<uint32_t> values; // producer in the high byte, sequence below; 0 for a wrong length
};

TEST(BareLoop, EveryEventInProducerOrderFromItsOwnCopy)
{
    constexpr uint32_t kPerProducer = 5000;
    Seen seen;
    {
        BareLoop loop(
            [](void *context, const uint8_t *data, size_t length) {
                uint32_t v = 0;
                if (length == sizeof v) {
                    memcpy(&v, data, sizeof v);
                }
                auto *self = static_cast<Seen *>(context);
                std::lock_guard<std::mutex> lock(self->mu);
                self->values.push_back(v);
                self->cv.notify_all();
            },
            &seen);
        auto produce = [&loop](uint32_t producer) {
            uint32_t buffer;
            for (uint32_t i = 0; i < kPerProducer; ++i) {
                buffer = producer << 24 | i;
                ASSERT_TRUE(loop.queue(reinterpret_cast<const uint8_t *>(&buffer), sizeof buffer));
                buffer = 0; // the producer reuses its buffer at once
            }
        };
        std::thread a(produce, 1), b(produce, 2);
        a.join();
        b.join();
        std::unique_lock<std::mutex> lock(seen.mu);
        ASSERT_TRUE(seen.cv.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return seen.values.size() >= 2 * kPerProducer; }));
    }
    uint32_t next[3] = {0, 0, 0};
    for (uint32_t v : seen.values) {
        ASSERT_TRUE(v >> 24 == 1 || v >> 24 == 2) << std::hex << v;
        EXPECT_EQ(v & 0xFFFFFF, next[v >> 24]++) << (v >> 24);
    }
    EXPECT_EQ(seen.values.size(), 2 * kPerProducer);
}

// A log line is formatted only when the log library would write it, and
// whenever it would: skipping formatting must never lose a line.
int g_written = 0;

TEST(LogFilter, FormattedExactlyWhenTheLineIsWritten)
{
    __android_log_set_logger(
        [](const struct __android_logger_data *, const char *) { ++g_written; });
    for (int minimum = ANDROID_LOG_DEFAULT; minimum <= ANDROID_LOG_SILENT; ++minimum) {
        __android_log_set_minimum_priority(minimum);
        for (unsigned level = 0; level <= 6; ++level) {
            g_written = 0;
            zol_log_msg_to_adb(level, "line"); // what the log library writes
            const int written = g_written;
            int formatted = 0;
            ZOL_LOG(level, "line %d", ++formatted);
            EXPECT_TRUE(written <= 1 && formatted == written && g_written == 2 * written)
                << "minimum " << minimum << ", level " << level;
        }
    }
    __android_log_set_minimum_priority(ANDROID_LOG_DEFAULT);
}

} // namespace
