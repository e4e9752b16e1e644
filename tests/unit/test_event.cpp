// The event queue and the event thread.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "test_host.h"

using namespace zol_test;

namespace {

// What the probe handler saw, one entry per call, in call order.
struct Seen {
    int32_t event_id;
    std::vector<uint8_t> data;
    bool data_null;
    uint32_t datalen;
    RIL_Token t;
};

std::mutex g_seen_mu;
std::vector<Seen> g_seen;
bool g_queue_from_handler = false;

void probe(zol_request_params_type *params_ptr, zol_request_return_type *)
{
    Seen s{params_ptr->event_id, {}, params_ptr->data == nullptr, params_ptr->datalen, params_ptr->t};
    if (params_ptr->data != nullptr) {
        const auto *b = static_cast<const uint8_t *>(params_ptr->data);
        s.data.assign(b, b + params_ptr->datalen);
    }
    bool requeue;
    {
        std::lock_guard<std::mutex> lock(g_seen_mu);
        g_seen.push_back(std::move(s));
        requeue = g_queue_from_handler;
        g_queue_from_handler = false;
    }
    if (requeue) {
        static uint8_t byte = 0x5A;
        zol_event_queue(0, 0x7543, &byte, 1, ZOL_EVENT_TOKEN);
    }
}

class Event : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reset();
        std::lock_guard<std::mutex> lock(g_seen_mu);
        g_seen.clear();
    }

    std::vector<Seen> seen()
    {
        std::lock_guard<std::mutex> lock(g_seen_mu);
        return g_seen;
    }

    bool wait_seen(size_t n)
    {
        return host.wait_until([&] { return seen().size() >= n; }) && seen().size() == n;
    }

    TestHost &host = TestHost::instance();
    // Two rows whose handlers are not under test here.
    ScopedHandler probe_a{0x17543, probe};
    ScopedHandler probe_b{0x17532, probe};
};

TEST_F(Event, WireIdBecomesEventIdAndEventsKeepTheirOrder)
{
    const uint8_t a[] = {1, 2, 3};
    const uint8_t b[] = {4};
    zol_event_queue(1, 0x7532, const_cast<uint8_t *>(a), sizeof a, ZOL_EVENT_TOKEN);
    zol_event_queue(1, 0x7543, const_cast<uint8_t *>(b), sizeof b, ZOL_EVENT_TOKEN);
    zol_event_queue(1, 0x7532, nullptr, 99, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(3));
    auto s = seen();
    EXPECT_EQ(s[0].event_id, 0x17532);
    EXPECT_EQ(s[0].data, std::vector<uint8_t>(a, a + 3));
    EXPECT_EQ(s[0].t, ZOL_EVENT_TOKEN);
    EXPECT_EQ(s[1].event_id, 0x17543);
    EXPECT_EQ(s[2].event_id, 0x17532);
    EXPECT_TRUE(s[2].data_null);
    EXPECT_EQ(s[2].datalen, 0u) << "a null payload is queued with length 0";
    EXPECT_TRUE(host.logged("Event [eTKM_CALL_MT_INVITE_IND, 95538] data was NULL!"));
    EXPECT_TRUE(host.logged("Queued event eTKM_CALL_MT_INVITE_IND(95538), (99 bytes)\n"));
    EXPECT_TRUE(host.wait_logged("De-queued event eTKM_CALL_CONFERENCE_INFO_IND (95555)\n"));
}

TEST_F(Event, CopiedPayloadIsTheModulesOwn)
{
    uint8_t buf[4] = {9, 8, 7, 6};
    zol_event_queue(1, 0x7543, buf, sizeof buf, ZOL_EVENT_TOKEN);
    memset(buf, 0, sizeof buf); // the producer reuses its buffer at once
    ASSERT_TRUE(wait_seen(1));
    EXPECT_EQ(seen()[0].data, (std::vector<uint8_t>{9, 8, 7, 6}));
}

TEST_F(Event, OwnershipFollowsTheFlag)
{
    // Flag 0: the producer keeps the buffer (freeing it twice would trip the sanitizers).
    auto *kept = static_cast<uint8_t *>(malloc(2));
    kept[0] = 1;
    kept[1] = 2;
    zol_event_queue(0, 0x7543, kept, 2, ZOL_EVENT_TOKEN);
    // Any other non-zero flag: the event thread frees the producer's block.
    auto *given = static_cast<uint8_t *>(zol_malloc(3));
    given[0] = 0x33;
    zol_event_queue(2, 0x7543, given, 3, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(2));
    EXPECT_EQ(seen()[0].data, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(seen()[1].data, (std::vector<uint8_t>{0x33, 0, 0}));
    free(kept);
}

TEST_F(Event, UnknownIdIsAnErrorAndTheLoopGoesOn)
{
    uint8_t x = 1;
    zol_event_queue(1, 0x7531, &x, 1, ZOL_EVENT_TOKEN);
    zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(1));
    EXPECT_TRUE(host.wait_logged("Error processing event! (4)\n"));
    for (const LogLine &l : host.log_lines()) {
        if (l.text == "Error processing event! (4)\n") {
            EXPECT_EQ(l.priority, ANDROID_LOG_ERROR);
        }
    }
}

TEST_F(Event, QueueingFromTheEventThreadWaitsForTheNextWakeUp)
{
    {
        std::lock_guard<std::mutex> lock(g_seen_mu);
        g_queue_from_handler = true;
    }
    uint8_t x = 1;
    zol_event_queue(1, 0x7532, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(host.wait_logged("zol_event_queue() called from event thread!\n"));
    // The record queued by the handler was the last one: it waits for a wake-up.
    zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(3));
    auto s = seen();
    EXPECT_EQ(s[1].event_id, 0x17543);
    EXPECT_EQ(s[1].data, (std::vector<uint8_t>{0x5A}));
    EXPECT_EQ(s[2].data, (std::vector<uint8_t>{1}));
}

TEST_F(Event, BurstsFromSeveralProducersAreAllProcessed)
{
    constexpr int kProducers = 3;
    constexpr int kEach = 200;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([p] {
            for (int i = 0; i < kEach; ++i) {
                uint8_t payload[2] = {static_cast<uint8_t>(p), static_cast<uint8_t>(i)};
                zol_event_queue(1, 0x7543, payload, sizeof payload, ZOL_EVENT_TOKEN);
            }
        });
    }
    for (auto &t : producers) {
        t.join();
    }
    ASSERT_TRUE(wait_seen(kProducers * kEach));
    // Per producer, arrival order is kept.
    int next[kProducers] = {};
    for (const Seen &s : seen()) {
        ASSERT_EQ(s.data.size(), 2u);
        EXPECT_EQ(s.data[1], static_cast<uint8_t>(next[s.data[0]]++));
    }
}

} // namespace
