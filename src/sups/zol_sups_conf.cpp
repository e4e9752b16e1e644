// Confirmations of the SS operations that carry no data for the host:
// activate, deactivate, erase and register.
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "sups/zol_sups_internal.h"
#include "zol/zol_sups.h"

namespace {

using namespace zol;
using namespace zol::sups;

void answer_confirmation(Here here, const char *payload_cond, zol_request_params_type *params_ptr,
                         zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, {.request = false, .data = payload_cond});
    if (!h || !h.claim(params_ptr->event_id)) {
        return;
    }
    const PayloadView conf = h.payload();
    uint32_t success = 0, info_type = 0;
    // A confirmation too short (or null) to say it succeeded is a failure:
    // the request it answers still gets its one answer.
    const bool readable = conf.u32(SsConfLayout::kSuccess, success);
    conf.u32(SsConfLayout::kInfoType, info_type);
    ZOL_LOG(ZOL_LOG_TRACE, "e_info_type:%d, b_success:%d", static_cast<int>(info_type),
            static_cast<int>(success));
    const bool ok = readable && success != 0;
    ZOL_LOG(ZOL_LOG_TRACE, "%s",
            ok ? "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n"
               : "Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n");
    h.complete(ok ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
}

} // namespace

extern "C" {

void zol_sups_event_activate_ss_conf(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    answer_confirmation(ZOL_HERE, "sups_active_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_sups_event_deactivate_ss_conf(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    answer_confirmation(ZOL_HERE, "sups_deactive_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_sups_event_erase_ss_conf(zol_request_params_type *params_ptr,
                                  zol_request_return_type *ret_ptr)
{
    answer_confirmation(ZOL_HERE, "sups_erase_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_sups_event_register_ss_conf(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    answer_confirmation(ZOL_HERE, "sups_register_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

} // extern "C"
