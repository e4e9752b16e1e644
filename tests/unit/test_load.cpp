// Loads the production module the way rild does: dlopen, RIL_Init, then the
// radio-function table only.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "ril.h"

#ifndef ZOL_PRODUCTION_MODULE
#error "ZOL_PRODUCTION_MODULE must name the module to load"
#endif

namespace {

int g_completions = 0;
RIL_Errno g_last_error = RIL_E_SUCCESS;
void on_complete(RIL_Token, RIL_Errno e, void *, size_t)
{
    ++g_completions;
    g_last_error = e;
}
void on_unsol(int, const void *, size_t) {}
int g_timer_requests = 0;
void on_timer(RIL_TimedCallback, void *, const struct timeval *)
{
    ++g_timer_requests;
}

TEST(Load, ProductionModuleAnswersThroughItsTable)
{
    void *lib = dlopen(ZOL_PRODUCTION_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using InitFn = const RIL_RadioFunctions *(*)(const struct RIL_Env *);
    auto init = reinterpret_cast<InitFn>(dlsym(lib, "RIL_Init"));
    ASSERT_NE(init, nullptr);

    static const RIL_Env env = {on_complete, on_unsol, on_timer};
    const RIL_RadioFunctions *f = init(&env);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->version, 9);
    EXPECT_STREQ(f->getVersion(), "ZOL 1.0");
    EXPECT_EQ(f->currentState(), RADIO_STATE_UNAVAILABLE);
    EXPECT_EQ(f->onSupports(9), 1);
    EXPECT_EQ(f->onSupports(1), 0);
    EXPECT_EQ(f->onSupports(0x17532), 1);
    EXPECT_EQ(g_timer_requests, 1) << "the start-up delay timer";

    // Without the agent library nothing can be sent: the request is answered at once.
    int32_t serial = 1;
    f->onRequest(9, nullptr, 0, &serial);
    EXPECT_EQ(g_completions, 1);
    EXPECT_EQ(g_last_error, RIL_E_GENERIC_FAILURE);
    // The module stays loaded: its event thread lives as long as the process.
}

} // namespace
