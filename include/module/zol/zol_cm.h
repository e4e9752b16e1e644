/* Call control and call state handlers. */
#ifndef ZOL_CM_H
#define ZOL_CM_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

ZOL_EXPORT void zol_cm_callsvc_request_get_current_calls(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_dial(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_hangup(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void
zol_cm_callsvc_request_hangup_waiting_or_background(zol_request_params_type *params_ptr,
                                                    zol_request_return_type *ret_ptr);
ZOL_EXPORT void
zol_cm_callsvc_request_hangup_foreground_resume_background(zol_request_params_type *params_ptr,
                                                           zol_request_return_type *ret_ptr);
ZOL_EXPORT void
zol_cm_callsvc_request_switch_waiting_or_holding_and_active(zol_request_params_type *params_ptr,
                                                            zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_reject(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_last_call_fail_cause(zol_request_params_type *params_ptr,
                                                            zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_answer(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_dtmf_start(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_dtmf_stop(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_registration_state(zol_request_params_type *params_ptr,
                                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_call_modify(zol_request_params_type *params_ptr,
                                                       zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_call_modify_rsp(zol_request_params_type *params_ptr,
                                                           zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_get_configration(zol_request_params_type *params_ptr,
                                                            zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_set_configration(zol_request_params_type *params_ptr,
                                                            zol_request_return_type *ret_ptr);
ZOL_EXPORT void
zol_cm_callsvc_request_ims_set_registration_state(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_ims_mt_invite_rsp(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_conference_call(zol_request_params_type *params_ptr,
                                                       zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_request_split_conference_call(zol_request_params_type *params_ptr,
                                                             zol_request_return_type *ret_ptr);
/* Radio power: no dispatch row calls it; it only logs. */
ZOL_EXPORT void zol_cm_phonesvc_request_radio_power(zol_request_params_type *params_ptr,
                                                    zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_mt_invite_ind(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_mt_ring_cnf_ind(zol_request_params_type *params_ptr,
                                                     zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_connected_ind(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_end_ind(zol_request_params_type *params_ptr,
                                             zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_mo_prog_info_ind(zol_request_params_type *params_ptr,
                                                      zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_hold_ind(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_retrieve_ind(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_sups_conf(zol_request_params_type *params_ptr,
                                               zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_connected_num_ind(zol_request_params_type *params_ptr,
                                                       zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_transfer_ind(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_wait_voip_call_ind(zol_request_params_type *params_ptr,
                                                        zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_modify_cnf_ind(zol_request_params_type *params_ptr,
                                                    zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_modify_ind(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_audio_codec_info_ind(zol_request_params_type *params_ptr,
                                                          zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_dtmf_start_conf(zol_request_params_type *params_ptr,
                                                     zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_dtmf_stop_conf(zol_request_params_type *params_ptr,
                                                    zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_join_conference_call_ind(zol_request_params_type *params_ptr,
                                                              zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_conference_info_ind(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_srvcc_info_ind(zol_request_params_type *params_ptr,
                                                    zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_cur_call_ind(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_run_status_info_ind(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_forward_ind(zol_request_params_type *params_ptr,
                                                 zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_cm_callsvc_event_get_cfg_conf(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
/* The common handling of the call progress indications that complete a waiting request. */
ZOL_EXPORT void zol_cm_callsvc_event_common_ind(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr);

ZOL_EXPORT void zol_cm_send_unsol_call_state_changed(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_CM_H */
