// DTMF tones: start and stop requests, each completed by the stack's
// confirmation. The tone names no particular call.
#include "cm/zol_cm_internal.h"
#include "log/zol_diag.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::cm {
namespace {

void dtmf_conf(const char *handler, const char *payload_cond, zol_request_params_type *params_ptr,
               zol_request_return_type *ret_ptr)
{
    zol_reqlist_entry_type waiting;
    if (!data_prologue(handler, params_ptr, ret_ptr, payload_cond) ||
        !find_waiting_request(params_ptr->event_id, waiting)) {
        handler_exit(handler);
        return;
    }
    const PayloadView view(params_ptr->data, params_ptr->datalen);
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
    complete_request(waiting.t, waiting.request, ok ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
    handler_exit(handler);
}

} // namespace
} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_dtmf_start(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    if (!data_prologue(__func__, params_ptr, ret_ptr, "params_ptr->data != ((void *)0)", false)) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    uint8_t tone = 0;
    // No character, no tone: refused with code 2, nothing remembered or sent.
    if (!PayloadView(request.data, request.datalen).u8(0, tone)) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry,c=%d", __func__, tone);
    const Remembered remembered = remember_request(request, ev::CALL_DTMF_START_CONF);
    if (!remembered) {
        return;
    }
    PayloadBuilder<DtmfLayout::kStartSize> payload;
    payload.u8(DtmfLayout::kCallId, kAnyCall);
    payload.u8(DtmfLayout::kTone, tone);
    send_remembered(request, remembered, msg::DTMF_START, payload.data(), payload.size(),
                    "Reply to RIL --> dtmf_start fail,\n");
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_cm_callsvc_request_dtmf_stop(zol_request_params_type *params_ptr,
                                      zol_request_return_type *ret_ptr)
{
    // The data is checked like the start's but never read.
    if (!data_prologue(__func__, params_ptr, ret_ptr, "params_ptr->data != ((void *)0)")) {
        return;
    }
    const Remembered remembered = remember_request(*params_ptr, ev::CALL_DTMF_STOP_CONF);
    if (!remembered) {
        return;
    }
    PayloadBuilder<DtmfLayout::kStopSize> payload;
    payload.u8(DtmfLayout::kCallId, kAnyCall);
    send_remembered(*params_ptr, remembered, msg::DTMF_STOP, payload.data(), payload.size(),
                    "Reply to RIL --> dtmf_stop fail,\n");
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_cm_callsvc_event_dtmf_start_conf(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr)
{
    dtmf_conf(__func__, "dtmf_start_ind_ptr", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_dtmf_stop_conf(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    dtmf_conf(__func__, "dtmf_stop_ind_ptr", params_ptr, ret_ptr);
}

} // extern "C"
