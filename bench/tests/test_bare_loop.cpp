// The floor's event loop must deliver like the module's queue does, or the
// floor measures something else: every event, in order, from its own copy.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "bare_loop.h"

using namespace zol_bench;

namespace {

struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<uint32_t> values; // producer in the high byte, sequence below
    size_t lengths_wrong = 0;

    static void handler(void *context, const uint8_t *data, size_t length)
    {
        auto *self = static_cast<Seen *>(context);
        std::lock_guard<std::mutex> lock(self->mu);
        if (length != sizeof(uint32_t)) {
            ++self->lengths_wrong;
            return;
        }
        uint32_t v;
        memcpy(&v, data, sizeof v);
        self->values.push_back(v);
        self->cv.notify_all();
    }

    bool wait_for(size_t n)
    {
        std::unique_lock<std::mutex> lock(mu);
        return cv.wait_for(lock, std::chrono::seconds(10), [&] { return values.size() >= n; });
    }
};

TEST(BareLoop, EveryEventInProducerOrderFromItsOwnCopy)
{
    constexpr uint32_t kPerProducer = 5000;
    Seen seen;
    {
        BareLoop loop(Seen::handler, &seen);
        auto produce = [&loop](uint32_t producer) {
            uint32_t buffer;
            for (uint32_t i = 0; i < kPerProducer; ++i) {
                buffer = producer << 24 | i;
                ASSERT_TRUE(loop.queue(reinterpret_cast<const uint8_t *>(&buffer), sizeof buffer));
                buffer = 0xFFFFFFFF; // the producer reuses its buffer at once
            }
        };
        std::thread a(produce, 1);
        std::thread b(produce, 2);
        a.join();
        b.join();
        ASSERT_TRUE(seen.wait_for(2 * kPerProducer));
    }
    EXPECT_EQ(seen.lengths_wrong, 0u);
    ASSERT_EQ(seen.values.size(), 2 * kPerProducer);
    uint32_t next[3] = {0, 0, 0};
    for (uint32_t v : seen.values) {
        const uint32_t producer = v >> 24;
        ASSERT_TRUE(producer == 1 || producer == 2) << std::hex << v;
        EXPECT_EQ(v & 0xFFFFFF, next[producer]++) << producer;
    }
}

TEST(BareLoop, EmptyPayloadsArriveEmpty)
{
    std::atomic<int> handled{0};
    BareLoop loop(
        [](void *context, const uint8_t *, size_t length) {
            static_cast<std::atomic<int> *>(context)->fetch_add(length == 0 ? 1 : 1000);
        },
        &handled);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(loop.queue(nullptr, 0));
    }
    for (int i = 0; i < 1000 && handled.load() < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(handled.load(), 100);
}

} // namespace
