// Steps the supplementary service handlers share, and the CLIR mode the
// module remembers between an interrogation and a later set request.
#include <atomic>
#include <cstring>

#include "log/zol_diag.h"
#include "flow/zol_flow.h"
#include "sups/zol_sups_internal.h"

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

Remembered add_pending(const zol_request_params_type &request, uint32_t op)
{
    return remember_request(request, static_cast<uint32_t>(confirmation_of(op)));
}

void send_or_fail(const zol_request_params_type &request, const Remembered &remembered,
                  const SsRequest &payload, const char *fail_line)
{
    send_remembered(request, remembered, msg::SS_REQUEST, payload.data(), payload.size(), fail_line);
}

void refuse(const zol_request_params_type &request, const char *handler, const char *why)
{
    ZOL_LOG(ZOL_LOG_ERROR, "%s(): %s, request %d refused\n", handler, why, request.event_id);
    complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
}

} // namespace zol::sups
