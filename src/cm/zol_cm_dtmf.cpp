// DTMF tones: start and stop requests, each completed by the stack's
// confirmation. The tone names no particular call.
#include "cm/zol_cm_internal.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "zol/zol_cm.h"

namespace zol::cm {
namespace {

void dtmf_conf(Here here, const char *payload_cond, zol_request_params_type *params_ptr,
               zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, {.request = false, .data = payload_cond});
    if (!h || !h.claim(params_ptr->event_id)) {
        return;
    }
    const PayloadView view = h.payload();
    uint8_t call_id = 0;
    if (view.u8(DtmfConfLayout::kCallId, call_id)) {
        ZOL_LOG(ZOL_LOG_TRACE, "callid:%d", call_id);
    }
    // A confirmation without its result flag does not confirm the tone; the
    // request is still answered, so it does not wait for ever.
    uint32_t result = 0;
    const bool ok = view.u32(DtmfConfLayout::kResult, result) && result != 0;
    ZOL_LOG(ZOL_LOG_TRACE, "%s",
            ok ? "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n"
               : "Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n");
    h.complete(ok ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
}

} // namespace
} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_dtmf_start(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    // No character, no tone: refused, nothing remembered or sent.
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.entry = Entry::own,
               .exit = Exit::spaced,
               .data = "params_ptr->data != ((void *)0)",
               .min_len = 1,
               .short_exit_error = true});
    if (!h) {
        return;
    }
    const uint8_t tone = *static_cast<const uint8_t *>(h.request().data);
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry,c=%d", __func__, tone);
    PayloadBuilder<DtmfLayout::kStartSize> payload;
    payload.u8(DtmfLayout::kCallId, kAnyCall);
    payload.u8(DtmfLayout::kTone, tone);
    h.send_pending(msg::DTMF_START, payload, ev::CALL_DTMF_START_CONF,
                   "Reply to RIL --> dtmf_start fail,\n");
}

void zol_cm_callsvc_request_dtmf_stop(zol_request_params_type *params_ptr,
                                      zol_request_return_type *ret_ptr)
{
    // The data is checked like the start's but never read.
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.exit = Exit::spaced, .data = "params_ptr->data != ((void *)0)"});
    if (!h) {
        return;
    }
    PayloadBuilder<DtmfLayout::kStopSize> payload;
    payload.u8(DtmfLayout::kCallId, kAnyCall);
    h.send_pending(msg::DTMF_STOP, payload, ev::CALL_DTMF_STOP_CONF,
                   "Reply to RIL --> dtmf_stop fail,\n");
}

void zol_cm_callsvc_event_dtmf_start_conf(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr)
{
    dtmf_conf(ZOL_HERE, "dtmf_start_ind_ptr", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_dtmf_stop_conf(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    dtmf_conf(ZOL_HERE, "dtmf_stop_ind_ptr", params_ptr, ret_ptr);
}

} // extern "C"
