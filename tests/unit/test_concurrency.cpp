// Host threads and the real event thread working the pending list at once:
// every request is completed exactly once, whoever answers it.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <thread>

#include "test_host.h"

using namespace zol_test;

namespace {

// Plays a confirmation handler: completes the oldest request waiting for this event.
void confirm(zol_request_params_type *params_ptr, zol_request_return_type *)
{
    zol_reqlist_entry_type e;
    if (zol_reqlist_query_by_event(static_cast<uint32_t>(params_ptr->event_id), &e) != 0) {
        return;
    }
    zol_request_resp_params_type r;
    zol_default_request_resp_params(e.t, e.request, RIL_E_SUCCESS, &r);
    zol_send_request_response(&r);
}

TEST(Concurrency, HostThreadsAndEventThreadShareThePendingList)
{
    TestHost &host = TestHost::instance();
    host.reset();
    zol_reqlist_init();
    ScopedHandler swap(0x17535, confirm);

    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    std::deque<Token> tokens;
    for (int i = 0; i < kThreads * kPerThread; ++i) {
        tokens.emplace_back(20000 + i);
    }
    std::atomic<int> added{0};
    std::vector<std::thread> threads;
    for (int th = 0; th < kThreads; ++th) {
        threads.emplace_back([&, th] {
            for (int i = 0; i < kPerThread; ++i) {
                Token &tok = tokens[static_cast<size_t>(th * kPerThread + i)];
                if (i % 5 == 0) {
                    // Unsupported and placeholder requests are answered on this thread.
                    radio()->onRequest(i % 10 == 0 ? 1 : RIL_REQUEST_DIAL, nullptr, 0, tok.get());
                    continue;
                }
                zol_reqlist_entry_type e;
                zol_reqlist_default_entry(tok.get(), RIL_REQUEST_HANGUP,
                                          ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, 0x17535, nullptr, &e);
                if (zol_reqlist_new(&e) == 0) {
                    added.fetch_add(1);
                    // The stack's answer, arriving on another thread.
                    uint8_t end_ind[5] = {1, 0, 0, 0, 0};
                    zol_event_queue(1, 0x7535, end_ind, sizeof end_ind, ZOL_EVENT_TOKEN);
                }
            }
        });
    }
    for (auto &t : threads) {
        t.join();
    }
    ASSERT_TRUE(host.wait_until([&] { return host.completions().size() == tokens.size(); },
                                std::chrono::seconds(60)));
    for (Token &t : tokens) {
        EXPECT_EQ(host.completions_for(t.get()).size(), 1u) << t.serial;
    }
    int successes = 0;
    for (const Completion &c : host.completions()) {
        successes += c.error == RIL_E_SUCCESS ? 1 : 0;
    }
    EXPECT_EQ(successes, added.load());
    zol_reqlist_entry_type q;
    EXPECT_EQ(zol_reqlist_query_by_event_all_states(0x17535, &q), 1) << "nothing left pending";
    printf("requests %zu, answered by the event thread %d\n", tokens.size(), added.load());
}

} // namespace
