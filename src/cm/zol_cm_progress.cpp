// Call progress indications: completing the request that waited for an
// indication, telling the host that the call state changed, the hold, SRVCC
// and forwarding notifications, and the last call fail cause.
#include <atomic>

#include "cm/zol_cm_internal.h"
#include "log/zol_diag.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::cm {
namespace {

// Written by end indications on the event thread, read by host threads.
std::atomic<int32_t> g_last_end_cause{0};

void send_int_unsol(int32_t unsol, int32_t value)
{
    zol_unsol_resp_params_type unsol_rec;
    zol_default_unsol_resp_params(unsol, &unsol_rec);
    unsol_rec.data = &value;
    unsol_rec.datalen = sizeof value;
    zol_send_unsol_response(&unsol_rec);
}

// The shape shared by every indication that only runs the common sequence.
void common_only(const char *handler, zol_request_params_type *params_ptr,
                 zol_request_return_type *ret_ptr)
{
    handler_prologue(handler, params_ptr, ret_ptr);
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
    handler_exit(handler);
}

// Connected and conference info: log the call id, then the common sequence.
void call_id_then_common(const char *handler, const char *payload_cond,
                         zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    if (data_prologue(handler, params_ptr, ret_ptr, payload_cond)) {
        uint8_t call_id = 0;
        // An empty payload names no call; the indication still completes its request.
        if (PayloadView(params_ptr->data, params_ptr->datalen).u8(ProgressIndLayout::kCallId,
                                                                 call_id)) {
            ZOL_LOG(ZOL_LOG_TRACE, "%s(), call id %d\n", handler, call_id);
        }
    }
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
    handler_exit(handler);
}

void log_only(const char *handler, zol_request_params_type *params_ptr,
              zol_request_return_type *ret_ptr)
{
    handler_prologue(handler, params_ptr, ret_ptr);
    handler_exit(handler);
}

void hold_notification(const char *handler, int32_t value, zol_request_params_type *params_ptr,
                       zol_request_return_type *ret_ptr)
{
    handler_prologue(handler, params_ptr, ret_ptr);
    send_int_unsol(RIL_UNSOL_CALL_HOLD_NOTIFICATION, value);
    handler_exit(handler);
}

} // namespace

int32_t last_end_cause()
{
    return g_last_end_cause.load(std::memory_order_relaxed);
}

} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_event_common_ind(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        handler_exit(__func__);
        return;
    }
    zol_reqlist_entry_type waiting;
    if (find_waiting_request(params_ptr->event_id, waiting)) {
        // The indication's arrival is the confirmation; its content never decides.
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n");
        complete_request(waiting.t, waiting.request, RIL_E_SUCCESS);
    }
    // After the completion, so the host asks for the call list with its answer in hand.
    zol_cm_send_unsol_call_state_changed();
    handler_exit(__func__);
}

void zol_cm_callsvc_event_mt_ring_cnf_ind(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr)
{
    common_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_connected_ind(zol_request_params_type *params_ptr,
                                        zol_request_return_type *ret_ptr)
{
    call_id_then_common(__func__, "conn_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_end_ind(zol_request_params_type *params_ptr,
                                  zol_request_return_type *ret_ptr)
{
    if (handler_prologue(__func__, params_ptr, ret_ptr)) {
        uint32_t cause = 0;
        if (PayloadView(params_ptr->data, params_ptr->datalen)
                .u32(ProgressIndLayout::kEndCause, cause)) {
            g_last_end_cause.store(static_cast<int32_t>(cause), std::memory_order_relaxed);
            ZOL_LOG(ZOL_LOG_TRACE, "e_end_cause =%d", last_end_cause());
        } else {
            // No cause to store: the previous one stays. The call has ended all
            // the same, so the waiting hang-up is still completed below.
            const uint32_t len = params_ptr->data != nullptr ? params_ptr->datalen : 0;
            ZOL_LOG(ZOL_LOG_ERROR, "%s(): end indication of %u bytes has no end cause, kept %d\n",
                    __func__, static_cast<unsigned>(len), last_end_cause());
        }
    }
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
    handler_exit(__func__);
}

void zol_cm_callsvc_event_mo_prog_info_ind(zol_request_params_type *params_ptr,
                                           zol_request_return_type *ret_ptr)
{
    common_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_hold_ind(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    hold_notification(__func__, kHoldNotificationHeld, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_retrieve_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    hold_notification(__func__, kHoldNotificationRetrieved, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_sups_conf(zol_request_params_type *params_ptr,
                                    zol_request_return_type *ret_ptr)
{
    log_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_connected_num_ind(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr)
{
    common_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_transfer_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    log_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_wait_voip_call_ind(zol_request_params_type *params_ptr,
                                             zol_request_return_type *ret_ptr)
{
    log_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_audio_codec_info_ind(zol_request_params_type *params_ptr,
                                               zol_request_return_type *ret_ptr)
{
    common_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_join_conference_call_ind(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr)
{
    log_only(__func__, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_conference_info_ind(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    call_id_then_common(__func__, "conf_info_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_srvcc_info_ind(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    const bool have_params =
        data_prologue(__func__, params_ptr, ret_ptr, "srvcc_ind_ptr != ((void *)0)", false);
    uint32_t ho_type = 0;
    if (have_params && PayloadView(params_ptr->data, params_ptr->datalen)
                           .u32(ProgressIndLayout::kSrvccType, ho_type)) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:e_srvcc_ho_type=%d", __func__,
                static_cast<int32_t>(ho_type));
        send_int_unsol(RIL_UNSOL_RESPONSE_SRVCC, static_cast<int32_t>(ho_type));
    } else {
        // A handover type the stack did not send would mislead the host: tell it nothing.
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): SRVCC indication without handover type dropped\n",
                __func__);
    }
    handler_exit(__func__);
}

void zol_cm_callsvc_event_forward_ind(zol_request_params_type *params_ptr,
                                      zol_request_return_type *ret_ptr)
{
    handler_prologue(__func__, params_ptr, ret_ptr, false);
    RIL_SuppSvcNotification notification{};
    notification.code = kSuppSvcCodeForwarded;
    zol_unsol_resp_params_type unsol;
    zol_default_unsol_resp_params(RIL_UNSOL_SUPP_SVC_NOTIFICATION, &unsol);
    unsol.data = &notification;
    unsol.datalen = sizeof notification;
    zol_send_unsol_response(&unsol);
    handler_exit(__func__);
}

void zol_cm_callsvc_request_last_call_fail_cause(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        return;
    }
    int32_t cause = last_end_cause();
    complete_request(params_ptr->t, params_ptr->event_id, RIL_E_SUCCESS, &cause, sizeof cause);
    handler_exit(__func__);
}

} // extern "C"
