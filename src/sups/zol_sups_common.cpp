// The CLIR mode the module remembers between an interrogation and a later
// set request, and the facility lookup the query and set handlers share.
#include <atomic>
#include <cstring>

#include "sups/zol_sups_internal.h"
#include "zol/zol_sups.h"

// Activate until an interrogation says otherwise.
std::atomic<int32_t> g_clir_cmd_type{1};

namespace zol::sups {

int32_t clir_mode()
{
    return g_clir_cmd_type.load(std::memory_order_relaxed);
}

void set_clir_mode(int32_t mode)
{
    g_clir_cmd_type.store(mode, std::memory_order_relaxed);
}

uint32_t code_of_facility(const char *text, size_t known)
{
    for (size_t i = 0; i < known && i < kSetFacilities; ++i) {
        if (strstr(text, kFacilities[i].name) != nullptr) {
            return kFacilities[i].code;
        }
    }
    return kCodeNone;
}

} // namespace zol::sups
