// Finds the fake agent the module loaded.
#include <algorithm>
#include <dlfcn.h>

#include "fake_agent.h"

namespace zol_test {

FakeAgent *FakeAgent::get()
{
    void *lib = dlopen("libipc_agent.so", RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) {
        return nullptr;
    }
    using Getter = FakeAgent *(*)();
    auto getter = reinterpret_cast<Getter>(dlsym(lib, "zol_fake_agent"));
    FakeAgent *agent = getter != nullptr ? getter() : nullptr;
    dlclose(lib); // drops only the reference taken here
    return agent;
}

std::vector<uint8_t> frame(uint16_t message_id, const std::vector<uint8_t> &payload,
                           int32_t token_id)
{
    const auto t = static_cast<uint32_t>(token_id);
    const auto n = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> f(11 + payload.size(), 0);
    for (int i = 0; i < 4; ++i) {
        f[static_cast<size_t>(1 + i)] = static_cast<uint8_t>(t >> (24 - 8 * i));
        f[static_cast<size_t>(7 + i)] = static_cast<uint8_t>(n >> (24 - 8 * i));
    }
    f[5] = static_cast<uint8_t>(message_id >> 8);
    f[6] = static_cast<uint8_t>(message_id);
    std::copy(payload.begin(), payload.end(), f.begin() + 11);
    return f;
}

} // namespace zol_test
