// Call progress indications: completing the request that waited for an
// indication, telling the host that the call state changed, the hold, SRVCC
// and forwarding notifications, and the last call fail cause.
#include <atomic>

#include "cm/zol_cm_internal.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "zol/zol_cm.h"

namespace zol::cm {
namespace {

// Written by end indications on the event thread, read by host threads.
std::atomic<int32_t> g_last_end_cause{0};

constexpr Shape kIndication = {.request = false};

void send_int_unsol(int32_t unsol, int32_t value)
{
    send_unsol(unsol, &value, sizeof value);
}

// The shape shared by every indication that only runs the common sequence.
void common_only(Here here, zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, kIndication);
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
}

// Connected and conference info: log the call id, then the common sequence.
void call_id_then_common(Here here, const char *payload_cond, zol_request_params_type *params_ptr,
                         zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, {.request = false, .data = payload_cond});
    uint8_t call_id = 0;
    // An empty payload names no call; the indication still completes its request.
    if (h.payload().u8(ProgressIndLayout::kCallId, call_id)) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s(), call id %d\n", here.name, call_id);
    }
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
}

void log_only(Here here, zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, kIndication);
}

void hold_notification(Here here, int32_t value, zol_request_params_type *params_ptr,
                       zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, kIndication);
    send_int_unsol(RIL_UNSOL_CALL_HOLD_NOTIFICATION, value);
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
    Handler h(ZOL_HERE, params_ptr, ret_ptr, kIndication);
    if (!h) {
        return;
    }
    if (h.claim(params_ptr->event_id)) {
        // The indication's arrival is the confirmation; its content never decides.
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n");
        h.complete(RIL_E_SUCCESS);
    }
    // After the completion, so the host asks for the call list with its answer in hand.
    zol_cm_send_unsol_call_state_changed();
}

void zol_cm_callsvc_event_mt_ring_cnf_ind(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr)
{
    common_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_connected_ind(zol_request_params_type *params_ptr,
                                        zol_request_return_type *ret_ptr)
{
    call_id_then_common(ZOL_HERE, "conn_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_end_ind(zol_request_params_type *params_ptr,
                                  zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, kIndication);
    if (h) {
        uint32_t cause = 0;
        if (h.payload().u32(ProgressIndLayout::kEndCause, cause)) {
            g_last_end_cause.store(static_cast<int32_t>(cause), std::memory_order_relaxed);
            ZOL_LOG(ZOL_LOG_TRACE, "e_end_cause =%d", last_end_cause());
        } else {
            // No cause to store: the previous one stays. The call has ended all
            // the same, so the waiting hang-up is still completed below.
            ZOL_LOG(ZOL_LOG_ERROR, "%s(): end indication of %u bytes has no end cause, kept %d\n",
                    __func__, static_cast<unsigned>(h.payload().size()), last_end_cause());
        }
    }
    zol_cm_callsvc_event_common_ind(params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_mo_prog_info_ind(zol_request_params_type *params_ptr,
                                           zol_request_return_type *ret_ptr)
{
    common_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_hold_ind(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    hold_notification(ZOL_HERE, kHoldNotificationHeld, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_retrieve_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    hold_notification(ZOL_HERE, kHoldNotificationRetrieved, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_sups_conf(zol_request_params_type *params_ptr,
                                    zol_request_return_type *ret_ptr)
{
    log_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_connected_num_ind(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr)
{
    common_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_transfer_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    log_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_wait_voip_call_ind(zol_request_params_type *params_ptr,
                                             zol_request_return_type *ret_ptr)
{
    log_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_audio_codec_info_ind(zol_request_params_type *params_ptr,
                                               zol_request_return_type *ret_ptr)
{
    common_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_join_conference_call_ind(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr)
{
    log_only(ZOL_HERE, params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_conference_info_ind(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    call_id_then_common(ZOL_HERE, "conf_info_ind_ptr != ((void *)0)", params_ptr, ret_ptr);
}

void zol_cm_callsvc_event_srvcc_info_ind(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .entry = Entry::own, .data = "srvcc_ind_ptr != ((void *)0)"});
    uint32_t ho_type = 0;
    if (!h.payload().u32(ProgressIndLayout::kSrvccType, ho_type)) {
        // A handover type the stack did not send would mislead the host: tell it nothing.
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): SRVCC indication without handover type dropped\n", __func__);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:e_srvcc_ho_type=%d", __func__,
            static_cast<int32_t>(ho_type));
    send_int_unsol(RIL_UNSOL_RESPONSE_SRVCC, static_cast<int32_t>(ho_type));
}

void zol_cm_callsvc_event_forward_ind(zol_request_params_type *params_ptr,
                                      zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.request = false, .entry = Entry::none});
    RIL_SuppSvcNotification notification{};
    notification.code = kSuppSvcCodeForwarded;
    send_unsol(RIL_UNSOL_SUPP_SVC_NOTIFICATION, &notification, sizeof notification);
}

void zol_cm_callsvc_request_last_call_fail_cause(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {});
    if (!h) {
        return;
    }
    int32_t cause = last_end_cause();
    h.complete(RIL_E_SUCCESS, &cause, sizeof cause);
}

} // extern "C"
