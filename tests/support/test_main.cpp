// Test runner for the in-process suite: the module is brought up once, as a
// host would, and every test shares it.
#include <gtest/gtest.h>

#include "test_host.h"

namespace zol_test {

namespace {
const RIL_RadioFunctions *g_radio = nullptr;
std::vector<TimerRequest> g_startup_timers;
bool g_delay_timer_logged = false;
} // namespace

bool startup_delay_timer_logged()
{
    return g_delay_timer_logged;
}

const RIL_RadioFunctions *radio()
{
    return g_radio;
}

// Timers the host was asked for while RIL_Init ran.
const std::vector<TimerRequest> &startup_timers()
{
    return g_startup_timers;
}

class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        TestHost::capture_log();
        g_radio = RIL_Init(TestHost::instance().env());
        g_startup_timers = TestHost::instance().timers();
        // Play the host's timer thread for the start-up delay timer now, so that
        // no test that wraps the timer ids can meet it.
        for (const TimerRequest &r : g_startup_timers) {
            r.callback(r.param);
        }
        g_delay_timer_logged = TestHost::instance().logged("Delay Timer expired with ID 0\n");
        // The event thread starts its loop one second after the release.
        TestHost::instance().wait_logged("zol_event_main(): Waiting...\n");
    }
};

} // namespace zol_test

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zol_test::ModuleEnvironment);
    return RUN_ALL_TESTS();
}
