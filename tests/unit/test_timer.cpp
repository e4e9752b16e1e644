// Timed callbacks through the host's timer.
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
};

// The start-up timer, id 0, a second after RIL_Init, has fired already; a
// timer fires once, however often the host runs it.
TEST_F(Timer, StartupTimerAndTimersFireOnce)
{
    const auto &timers = startup_timers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_TRUE(timers[0].param == nullptr && timers[0].callback == zol_timed_callback_dispatch);
    EXPECT_TRUE(timers[0].when.tv_sec == 1 && timers[0].when.tv_usec == 0);

    const uint32_t id = setup();
    const auto req = host.timers();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].when.tv_usec, 1000);
    req[0].callback(req[0].param);
    req[0].callback(req[0].param);
    EXPECT_EQ(g_fired.load(), 1);
    EXPECT_EQ(g_fired_param.load(), id);
}

TEST_F(Timer, ClockOfAKnownBaseOnly)
{
    struct timeval tv = {0, 0};
    EXPECT_EQ(zol_get_time(2, &tv), 0);
    EXPECT_EQ(zol_get_time(3, &tv), -1);
    EXPECT_EQ(zol_get_time(0, nullptr), -1);
}

} // namespace
