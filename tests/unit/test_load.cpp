// Loads the production module the way rild does: dlopen, RIL_Init, then the
// radio-function table only.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "host.h"

#ifndef ZOL_PRODUCTION_MODULE
#error "ZOL_PRODUCTION_MODULE must name the module to load"
#endif

namespace {

TEST(Load, ProductionModuleAnswersThroughItsTable)
{
    void *lib = dlopen(ZOL_PRODUCTION_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using InitFn = const RIL_RadioFunctions *(*)(const struct RIL_Env *);
    auto init = reinterpret_cast<InitFn>(dlsym(lib, "RIL_Init"));
    ASSERT_NE(init, nullptr);

    zol_kit::Host &host = zol_kit::Host::get();
    const RIL_RadioFunctions *f = init(host.env());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->version, 9);
    EXPECT_EQ(host.timers().size(), 1u) << "the start-up delay timer";

    // Without the agent library nothing can be sent: the request is answered at once.
    zol_kit::Token t(1);
    f->onRequest(9, nullptr, 0, t.get());
    ASSERT_EQ(host.completions().size(), 1u);
    EXPECT_EQ(host.completions()[0].error, RIL_E_GENERIC_FAILURE);
    // The module stays loaded: its event thread lives as long as the process.
}

} // namespace
