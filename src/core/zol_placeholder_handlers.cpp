// Handlers whose subsystem has not landed yet. Each list below names the rows
// of the dispatch table that still point here: a host request is answered with
// "Request Not Supported", a stack event is logged and dropped. Implementing a
// handler means deleting its name from the list and defining it in its own
// subsystem.
#include "common/zol_diag.h"
#include "reference_zol.h"

#define ZOL_PLACEHOLDER_REQUESTS(X)                                   \
    X(zol_cm_callsvc_request_dial)                                    \
    X(zol_cm_callsvc_request_hangup)                                  \
    X(zol_cm_callsvc_request_hangup_waiting_or_background)            \
    X(zol_cm_callsvc_request_hangup_foreground_resume_background)     \
    X(zol_cm_callsvc_request_switch_waiting_or_holding_and_active)    \
    X(zol_cm_callsvc_request_reject)                                  \
    X(zol_cm_callsvc_request_last_call_fail_cause)                    \
    X(zol_cm_callsvc_request_answer)                                  \
    X(zol_cm_callsvc_request_dtmf_start)                              \
    X(zol_cm_callsvc_request_dtmf_stop)                               \
    X(zol_cm_callsvc_request_ims_registration_state)                  \
    X(zol_cm_callsvc_request_ims_call_modify)                         \
    X(zol_cm_callsvc_request_ims_call_modify_rsp)                     \
    X(zol_cm_callsvc_request_ims_get_configration)                    \
    X(zol_cm_callsvc_request_ims_set_configration)                    \
    X(zol_cm_callsvc_request_ims_set_registration_state)              \
    X(zol_cm_callsvc_request_ims_mt_invite_rsp)                       \
    X(zol_cm_callsvc_request_conference_call)                         \
    X(zol_cm_callsvc_request_split_conference_call)                   \
    X(zol_sms_request_send_sms)                                       \
    X(zol_sms_request_sms_acknowledge)                                \
    X(zol_sups_request_query)                                         \
    X(zol_sups_CLIR_request_set)                                      \
    X(zol_sups_call_forward_request_set)                              \
    X(zol_sups_call_waiting_request_set)                              \
    X(zol_sups_call_barring_request_set)                              \
    X(zol_sups_COLP_request_set)

#define ZOL_PLACEHOLDER_EVENTS(X)                                     \
    X(zol_cm_callsvc_event_mt_invite_ind)                             \
    X(zol_cm_callsvc_event_mt_ring_cnf_ind)                           \
    X(zol_cm_callsvc_event_connected_ind)                             \
    X(zol_cm_callsvc_event_end_ind)                                   \
    X(zol_cm_callsvc_event_mo_prog_info_ind)                          \
    X(zol_cm_callsvc_event_hold_ind)                                  \
    X(zol_cm_callsvc_event_retrieve_ind)                              \
    X(zol_cm_callsvc_event_sups_conf)                                 \
    X(zol_cm_callsvc_event_connected_num_ind)                         \
    X(zol_cm_callsvc_event_transfer_ind)                              \
    X(zol_cm_callsvc_event_wait_voip_call_ind)                        \
    X(zol_cm_callsvc_event_modify_cnf_ind)                            \
    X(zol_cm_callsvc_event_modify_ind)                                \
    X(zol_cm_callsvc_event_audio_codec_info_ind)                      \
    X(zol_cm_callsvc_event_dtmf_start_conf)                           \
    X(zol_cm_callsvc_event_dtmf_stop_conf)                            \
    X(zol_cm_callsvc_event_join_conference_call_ind)                  \
    X(zol_cm_callsvc_event_conference_info_ind)                       \
    X(zol_cm_callsvc_event_srvcc_info_ind)                            \
    X(zol_cm_callsvc_event_run_status_info_ind)                       \
    X(zol_cm_callsvc_event_forward_ind)                               \
    X(zol_cm_callsvc_event_get_cfg_conf)                              \
    X(zol_sms_event_mt_msg_ind)                                       \
    X(zol_sms_event_send_msg_status_ind)                              \
    X(zol_sups_event_activate_ss_conf)                                \
    X(zol_sups_event_deactivate_ss_conf)                              \
    X(zol_sups_event_erase_ss_conf)                                   \
    X(zol_sups_event_interrogate_ss_conf)                             \
    X(zol_sups_event_register_ss_conf)

namespace {

void answer_not_supported(const char *handler, zol_request_params_type *params_ptr,
                          zol_request_return_type *ret_ptr)
{
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    if (!ZOL_NOT_NULL(params_ptr, "params_ptr")) {
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() is not available in this build\n", handler);
    zol_request_resp_params_type resp;
    zol_default_request_resp_params(params_ptr->t, params_ptr->event_id,
                                    RIL_E_REQUEST_NOT_SUPPORTED, &resp);
    zol_send_request_response(&resp);
}

void drop_event(const char *handler, zol_request_params_type *params_ptr,
                zol_request_return_type *ret_ptr)
{
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    if (!ZOL_NOT_NULL(params_ptr, "params_ptr")) {
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() is not available in this build, %s (%d) dropped\n", handler,
            zol_log_lookup_event_name(params_ptr->event_id), params_ptr->event_id);
}

} // namespace

#define ZOL_DEFINE_PLACEHOLDER_REQUEST(name)                                          \
    void name(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr) \
    {                                                                                 \
        answer_not_supported(#name, params_ptr, ret_ptr);                             \
    }
#define ZOL_DEFINE_PLACEHOLDER_EVENT(name)                                            \
    void name(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr) \
    {                                                                                 \
        drop_event(#name, params_ptr, ret_ptr);                                       \
    }

extern "C" {
ZOL_PLACEHOLDER_REQUESTS(ZOL_DEFINE_PLACEHOLDER_REQUEST)
ZOL_PLACEHOLDER_EVENTS(ZOL_DEFINE_PLACEHOLDER_EVENT)
}
