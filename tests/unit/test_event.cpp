// Frames from the stack through the read callback, the event queue and the
// event thread; frames to the stack through the agent.
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "fixture.h"

using namespace zol_kit;

namespace {

// What the probe handler saw, one entry per call, in call order.
struct Seen {
    int32_t event_id;
    Bytes data;
    bool data_null;
    uint32_t datalen;
    RIL_Token t;
};
std::mutex g_mu;
std::vector<Seen> g_seen;
bool g_queue_from_handler = false;
pthread_t g_event_thread;
pid_t g_event_tid = 0;

void probe(zol_request_params_type *params_ptr, zol_request_return_type *)
{
    const auto *b = static_cast<const uint8_t *>(params_ptr->data);
    std::lock_guard<std::mutex> lock(g_mu);
    g_seen.push_back({params_ptr->event_id,
                      b != nullptr ? Bytes(b, b + params_ptr->datalen) : Bytes{}, b == nullptr,
                      params_ptr->datalen, params_ptr->t});
    g_event_thread = pthread_self();
    g_event_tid = static_cast<pid_t>(syscall(SYS_gettid));
    if (g_queue_from_handler) {
        g_queue_from_handler = false;
        static uint8_t byte = 0x5A;
        zol_event_queue(0, 0x7543, &byte, 1, ZOL_EVENT_TOKEN);
    }
}

class Event : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        std::lock_guard<std::mutex> lock(g_mu);
        g_seen.clear();
    }
    std::vector<Seen> seen()
    {
        std::lock_guard<std::mutex> lock(g_mu);
        return g_seen;
    }
    bool wait_seen(size_t n)
    {
        return host.wait_until([&] { return seen().size() >= n; }) && seen().size() == n;
    }
    // Two rows whose handlers are not under test here.
    ScopedHandler probe_a{0x17543, probe};
    ScopedHandler probe_b{0x17532, probe};
};

// Events keep their order under their event id; with flag 0 the producer
// keeps its buffer (freeing it twice would trip the sanitizers), with any
// other non-zero flag the event thread frees the producer's block.
TEST_F(Event, WireIdBecomesEventIdEventsKeepTheirOrderAndOwnershipFollowsTheFlag)
{
    uint8_t a[] = {1, 2, 3};
    auto *kept = static_cast<uint8_t *>(malloc(1));
    auto *given = static_cast<uint8_t *>(zol_malloc(3));
    *kept = 4;
    *given = 0x33;
    zol_event_queue(1, 0x7532, a, sizeof a, ZOL_EVENT_TOKEN);
    zol_event_queue(0, 0x7543, kept, 1, ZOL_EVENT_TOKEN);
    zol_event_queue(1, 0x7532, nullptr, 99, ZOL_EVENT_TOKEN);
    zol_event_queue(2, 0x7543, given, 3, ZOL_EVENT_TOKEN);
    memset(a, 0, sizeof a); // the producer reuses its buffer at once
    ASSERT_TRUE(wait_seen(4));
    const auto s = seen();
    EXPECT_TRUE(s[0].event_id == 0x17532 && s[0].t == ZOL_EVENT_TOKEN && s[1].event_id == 0x17543);
    EXPECT_EQ(s[0].data, (Bytes{1, 2, 3}));
    EXPECT_EQ(s[1].data, (Bytes{4}));
    EXPECT_TRUE(s[2].data_null && s[2].datalen == 0) << "a null payload is queued with length 0";
    EXPECT_EQ(s[3].data, (Bytes{0x33, 0, 0}));
    EXPECT_TRUE(host.logged("Event [eTKM_CALL_MT_INVITE_IND, 95538] data was NULL!"));
    free(kept);
}

TEST_F(Event, UnknownIdsAndEventsQueuedFromTheEventThread)
{
    uint8_t x = 1;
    zol_event_queue(1, 0x7531, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(host.wait_logged("Error processing event! (4)\n"));
    {
        std::lock_guard<std::mutex> lock(g_mu);
        g_queue_from_handler = true;
    }
    zol_event_queue(1, 0x7532, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(host.wait_logged("zol_event_queue() called from event thread!\n"));
    // The record queued by the handler was the last one: it waits for a wake-up.
    zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(3));
    EXPECT_EQ(seen()[1].data, (Bytes{0x5A}));
    EXPECT_EQ(seen()[2].data, (Bytes{1}));
}

// A payload copy that cannot be allocated drops the event, record and all.
TEST_F(Event, AllocationFailureDropsTheEventAndLeaksNothing)
{
    uint8_t x = 7;
    for (int fail_at : {0, 1}) {
        AllocationWatch watch(fail_at);
        zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
        EXPECT_EQ(watch.allocated(), fail_at + 1);
        EXPECT_EQ(watch.freed(), fail_at) << "the event record is given back";
    }
    EXPECT_TRUE(host.logged("Cond: ev->data != ((void *)0)"));
    zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(1)) << "only the event that could be copied arrives";
}

char thread_state(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

// A signal that interrupts the event thread's wait leaves it waiting.
TEST_F(Event, InterruptedWaitGoesOn)
{
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, nullptr); // no SA_RESTART: the wait returns EINTR
    uint8_t x = 1;
    for (size_t round = 1; round <= 3; ++round) {
        const size_t waiting = host.count_logged("zol_event_main(): Waiting...\n");
        zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
        ASSERT_TRUE(wait_seen(round));
        ASSERT_TRUE(host.wait_until(
            [&] { return host.count_logged("zol_event_main(): Waiting...\n") > waiting; }));
        // Asleep after its last line, the event thread can only be in its wait.
        for (int i = 0; i < 5000 && thread_state(g_event_tid) != 'S'; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(thread_state(g_event_tid), 'S');
        pthread_kill(g_event_thread, SIGUSR1);
    }
    zol_event_queue(1, 0x7543, &x, 1, ZOL_EVENT_TOKEN);
    ASSERT_TRUE(wait_seen(4));
    EXPECT_FALSE(host.logged_prefix("ZOL event select error"));
}

TEST_F(Event, ReadCallbackTakesWholeFramesUnderTheirEventId)
{
    EXPECT_EQ(zol_ipc_read_event_cb(nullptr), 1);
    ipc_agent_recv_type negative = {0, nullptr, -5};
    EXPECT_EQ(zol_ipc_read_event_cb(&negative), 1);
    EXPECT_EQ(agent::deliver(Bytes(10, 0)), 1);
    // A length field larger than the frame, even hugely so, refuses it.
    EXPECT_EQ(agent::deliver({0, 0, 0, 0, 1, 0x75, 0x43, 0, 0, 0, 3, 0xAB, 0xCD}), 1);
    EXPECT_EQ(agent::deliver({0, 0, 0, 0, 1, 0x75, 0x43, 0xFF, 0xFF, 0xFF, 0xFF, 0xAB}), 1);
    // The header alone is an empty payload; bytes beyond the length are ignored.
    EXPECT_EQ(agent::deliver({0, 0, 0, 0, 9, 0x75, 0x32, 0, 0, 0, 0}), 0);
    EXPECT_TRUE(host.logged("zol_ipc_read_event_cb, token_id=9, event_id=30002, datalen=0.\n"));
    EXPECT_EQ(agent::deliver({0, 0, 0, 0, 1, 0x75, 0x43, 0, 0, 0, 1, 0xAB, 0xCD}), 0);
    ASSERT_TRUE(wait_seen(2));
    EXPECT_TRUE(seen()[0].event_id == 0x17532 && seen()[0].data.empty());
    EXPECT_EQ(seen()[1].data, (Bytes{0xAB}));
}

TEST_F(Event, FramesCarryTheTokenIdTheLow16BitsOfTheIdAndThePayload)
{
    Token t(0x01020304);
    uint8_t payload[3] = {0xAA, 0xBB, 0xCC};
    zol_request_params_type with_data = {0x12345, payload, sizeof payload, t.get()};
    zol_request_params_type empty = {17, nullptr, 0, t.get()};
    zol_request_params_type lying = {17, nullptr, 5, t.get()}; // a length without bytes
    EXPECT_EQ(zol_ipc_send_request(&with_data), 0);
    EXPECT_EQ(zol_ipc_send_request(&empty), 0);
    EXPECT_EQ(zol_ipc_send_request(&lying), 1);
    EXPECT_EQ(zol_ipc_send_request(nullptr), 1);
    agent::set_result(7);
    EXPECT_EQ(zol_ipc_send_request(&empty), 7) << "the agent's result is the result";
    // The frame length goes to the agent as a signed 32-bit word; on a 32-bit
    // target 11 plus a length near 4 GiB would wrap around to a few bytes.
    for (uint32_t len : {0xFFFFFFFFu, 0xFFFFFFF5u, 0x80000000u, 0x7FFFFFF5u}) {
        zol_request_params_type huge = {4, payload, len, t.get()};
        EXPECT_EQ(zol_ipc_send_request(&huge), 1) << len;
    }
    const auto frames = agent::frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0],
              (Bytes{0x00, 0x01, 0x02, 0x03, 0x04, 0x23, 0x45, 0, 0, 0, 0x03, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(frames[1], (Bytes{0, 1, 2, 3, 4, 0, 17, 0, 0, 0, 0}));
    EXPECT_TRUE(host.logged("params_ptr->t = 16909060, event_id = 74565, datalen = 3, "));
}

} // namespace
