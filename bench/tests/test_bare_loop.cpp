// The floor's event loop must deliver like the module's queue does, or the
// floor measures something else: every event, in order, from its own copy.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "bare_loop.h"

namespace {

struct Seen {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<uint32_t> values; // producer in the high byte, sequence below; empty events as ~0
    size_t lengths_wrong = 0;

    static void handler(void *context, const uint8_t *data, size_t length)
    {
        auto *self = static_cast<Seen *>(context);
        std::lock_guard<std::mutex> lock(self->mu);
        uint32_t v = 0xFFFFFFFF;
        if (length == sizeof v) {
            memcpy(&v, data, sizeof v);
        } else if (length != 0) {
            ++self->lengths_wrong;
        }
        self->values.push_back(v);
        self->cv.notify_all();
    }
};

TEST(BareLoop, EveryEventInProducerOrderFromItsOwnCopy)
{
    constexpr uint32_t kPerProducer = 5000;
    Seen seen;
    {
        zol_bench::BareLoop loop(Seen::handler, &seen);
        auto produce = [&loop](uint32_t producer) {
            uint32_t buffer;
            for (uint32_t i = 0; i < kPerProducer; ++i) {
                buffer = producer << 24 | i;
                ASSERT_TRUE(loop.queue(reinterpret_cast<const uint8_t *>(&buffer), sizeof buffer));
                buffer = 0xFFFFFFFF; // the producer reuses its buffer at once
                ASSERT_TRUE(i % 50 != 0 || loop.queue(nullptr, 0)); // now and then an empty event
            }
        };
        std::thread a(produce, 1), b(produce, 2);
        a.join();
        b.join();
        std::unique_lock<std::mutex> lock(seen.mu);
        ASSERT_TRUE(seen.cv.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return seen.values.size() >= 2 * (kPerProducer + kPerProducer / 50); }));
    }
    EXPECT_EQ(seen.lengths_wrong, 0u);
    uint32_t next[3] = {0, 0, 0};
    for (uint32_t v : seen.values) {
        const uint32_t producer = v >> 24;
        ASSERT_TRUE(producer == 1 || producer == 2 || v == 0xFFFFFFFF) << std::hex << v;
        if (v != 0xFFFFFFFF) {
            EXPECT_EQ(v & 0xFFFFFF, next[producer]++) << producer;
        }
    }
    EXPECT_EQ(next[1] + next[2], 2 * kPerProducer);
    EXPECT_EQ(seen.values.size(), 2 * (kPerProducer + kPerProducer / 50));
}

} // namespace
