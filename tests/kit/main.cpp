// The in-process suite's runner: the module is brought up once, as a host
// would, and every test shares it.
#include <gtest/gtest.h>

#include "fixture.h"

namespace zol_kit {

namespace {
const RIL_RadioFunctions *g_radio = nullptr;
} // namespace

const RIL_RadioFunctions *radio()
{
    return g_radio;
}

class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        Host::capture_log();
        g_radio = start_module(RIL_Init);
    }
};

} // namespace zol_kit

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new zol_kit::ModuleEnvironment);
    return RUN_ALL_TESTS();
}
