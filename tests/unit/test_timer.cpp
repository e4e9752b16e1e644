// Timed callbacks through the host's timer, and the clock.
#include <thread>

#include "fixture.h"

using namespace zol_kit;

namespace {

std::atomic<int> g_fired{0};
std::atomic<uintptr_t> g_fired_param{~uintptr_t{0}};

void count_cb(void *param)
{
    g_fired_param = reinterpret_cast<uintptr_t>(param);
    g_fired.fetch_add(1);
}

class Timer : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        g_fired = 0;
    }
    uint32_t setup()
    {
        const struct timeval tv = {0, 1000};
        uint32_t id = 0xFFFFFFFF;
        EXPECT_EQ(zol_setup_timed_callback(count_cb, &tv, &id), 0);
        return id;
    }
    static void fire(uint32_t id)
    {
        zol_timed_callback_dispatch(reinterpret_cast<void *>(uintptr_t{id}));
    }
};

// Fired through the host once; a second firing or a cancel finds nothing. The
// start-up timer, id 0, a second after RIL_Init, has fired already.
TEST_F(Timer, FiresOnceOrIsCancelled)
{
    const auto &timers = startup_timers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_TRUE(timers[0].param == nullptr && timers[0].callback == zol_timed_callback_dispatch);
    EXPECT_TRUE(timers[0].when.tv_sec == 1 && timers[0].when.tv_usec == 0);
    EXPECT_EQ(zol_timed_callback_active(0), 0);

    const uint32_t id = setup();
    EXPECT_EQ(zol_timed_callback_active(id), 1);
    const auto req = host.timers();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].when.tv_usec, 1000);
    req[0].callback(req[0].param);
    req[0].callback(req[0].param);
    EXPECT_EQ(g_fired.load(), 1);
    EXPECT_EQ(g_fired_param.load(), id);
    EXPECT_EQ(zol_timed_callback_active(id), 0);
    EXPECT_EQ(zol_cancel_timed_callback(id), -1);

    const uint32_t cancelled = setup();
    EXPECT_EQ(zol_cancel_timed_callback(cancelled), 0);
    EXPECT_TRUE(host.logged("Cancel timer with ID " + std::to_string(cancelled)));
    fire(cancelled);
    EXPECT_EQ(g_fired.load(), 1);

    const struct timeval now = {0, 0};
    EXPECT_EQ(zol_setup_timed_callback(count_cb, &now, nullptr), 0) << "no id wanted";
    const TimerRequest last = host.timers().back();
    last.callback(last.param);
    EXPECT_EQ(g_fired.load(), 2);
}

TEST_F(Timer, IdsWrapAndTheOlderTimerWithAnIdIsFoundFirst)
{
    const uint32_t old_id = setup();
    host.keep(false);
    for (int i = 0; i < 65535; ++i) {
        const uint32_t id = setup();
        ASSERT_NE(id, old_id);
        ASSERT_EQ(zol_cancel_timed_callback(id), 0);
    }
    host.keep(true);
    const uint32_t again = setup();
    EXPECT_EQ(again, old_id);
    // Both are pending; firing the id runs one callback, then the other.
    fire(again);
    EXPECT_EQ(zol_timed_callback_active(again), 1);
    fire(again);
    EXPECT_EQ(zol_timed_callback_active(again), 0);
    EXPECT_EQ(g_fired.load(), 2);
}

TEST_F(Timer, CancelRacingDispatchHasExactlyOneWinner)
{
    host.keep(false);
    for (int round = 0; round < 200; ++round) {
        g_fired = 0;
        const uint32_t id = setup();
        std::atomic<int> cancelled{0};
        std::thread firing([id] { fire(id); });
        std::thread cancel([&] { cancelled = zol_cancel_timed_callback(id) == 0 ? 1 : 0; });
        firing.join();
        cancel.join();
        ASSERT_EQ(g_fired.load() + cancelled.load(), 1) << "round " << round;
    }
}

TEST_F(Timer, GetTime)
{
    struct timeval tv = {0, 0};
    EXPECT_EQ(zol_get_time(2, &tv), 0);
    EXPECT_GT(tv.tv_sec, 0);
    EXPECT_EQ(zol_get_time(0, &tv), 0);
    EXPECT_EQ(zol_get_time(3, &tv), -1);
    EXPECT_EQ(zol_get_time(0, nullptr), -1);
    EXPECT_EQ(zol_get_time(-1, &tv), -1);
    EXPECT_TRUE(host.logged("zol_get_time: Wrong parameters. Base: 0, tv: 0x0\n"));
}

} // namespace
