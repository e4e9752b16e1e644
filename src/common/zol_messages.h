// The messages the module exchanges with the IMS stack, and the rows of the
// dispatch table, each written once. The dispatch table, the stack event names
// of the log and the constants below are all expanded from these lists.
#ifndef ZOL_MESSAGES_H
#define ZOL_MESSAGES_H

#include <cstdint>

#include "zol/zol_types.h"

// Messages to the stack, X(name, wire id).
#define ZOL_STACK_MESSAGES(X)                                                                      \
    X(DIAL, 1)                                                                                     \
    X(CALL_RESPONSE, 2) /* answer and reject */                                                    \
    X(MT_INVITE_RSP, 3)                                                                            \
    X(HANGUP, 4)                                                                                   \
    X(DTMF_START, 5)                                                                               \
    X(DTMF_STOP, 6)                                                                                \
    X(CALL_MODIFY, 9)                                                                              \
    X(CALL_MODIFY_RSP, 10)                                                                         \
    X(CONFERENCE, 12)                                                                              \
    X(SPLIT, 15)                                                                                   \
    X(GET_CURRENT_CALLS, 17)                                                                       \
    X(SWITCH, 18)                                                                                  \
    X(GET_RUN_STATUS, 19) /* eTKM_CALL_GET_RUN_STATUS_REQ */                                       \
    X(GET_CONFIG, 20)                                                                              \
    X(SET_CONFIG, 21)                                                                              \
    X(SET_REGISTRATION_STATE, 22)                                                                  \
    X(SS_REQUEST, 51) /* every supplementary service operation */                                  \
    X(SEND_SMS, 61)                                                                                \
    X(ACK_SMS, 62)

// The dispatch table, row by row in its order. Host requests go by their
// RIL_REQUEST_ names: REQUEST(number, handler). Stack events go by the stack's
// name without its eTKM_ prefix and by their wire id: EVENT(name, wire id,
// handler), or UNNAMED(name, wire id, handler) for the three events the stack
// gives no name (the log calls them "<Unknown event> ?").
#define ZOL_DISPATCH_LIST(REQUEST, EVENT, UNNAMED)                                                 \
    REQUEST(RIL_REQUEST_GET_CURRENT_CALLS, zol_cm_callsvc_request_get_current_calls)               \
    REQUEST(RIL_REQUEST_DIAL, zol_cm_callsvc_request_dial)                                         \
    REQUEST(RIL_REQUEST_HANGUP, zol_cm_callsvc_request_hangup)                                     \
    REQUEST(RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND,                                              \
            zol_cm_callsvc_request_hangup_waiting_or_background)                                   \
    REQUEST(RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND,                                       \
            zol_cm_callsvc_request_hangup_foreground_resume_background)                            \
    REQUEST(RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE,                                      \
            zol_cm_callsvc_request_switch_waiting_or_holding_and_active)                           \
    REQUEST(RIL_REQUEST_UDUB, zol_cm_callsvc_request_reject)                                       \
    REQUEST(RIL_REQUEST_LAST_CALL_FAIL_CAUSE, zol_cm_callsvc_request_last_call_fail_cause)         \
    REQUEST(RIL_REQUEST_ANSWER, zol_cm_callsvc_request_answer)                                     \
    REQUEST(RIL_REQUEST_DTMF_START, zol_cm_callsvc_request_dtmf_start)                             \
    REQUEST(RIL_REQUEST_DTMF_STOP, zol_cm_callsvc_request_dtmf_stop)                               \
    REQUEST(RIL_REQUEST_IMS_REGISTRATION_STATE, zol_cm_callsvc_request_ims_registration_state)     \
    REQUEST(RIL_REQUEST_CALL_MODIFY, zol_cm_callsvc_request_ims_call_modify)                       \
    REQUEST(RIL_REQUEST_CALL_MODIFY_RSP, zol_cm_callsvc_request_ims_call_modify_rsp)               \
    REQUEST(RIL_REQUEST_IMS_GET_CONFIGRATION, zol_cm_callsvc_request_ims_get_configration)         \
    REQUEST(RIL_REQUEST_IMS_SET_CONFIGRATION, zol_cm_callsvc_request_ims_set_configration)         \
    REQUEST(RIL_REQUEST_IMS_SET_REGISTRATION_STATE,                                                \
            zol_cm_callsvc_request_ims_set_registration_state)                                     \
    EVENT(CALL_MT_INVITE_IND, 30002, zol_cm_callsvc_event_mt_invite_ind)                           \
    EVENT(CALL_MT_RING_CNF_IND, 30003, zol_cm_callsvc_event_mt_ring_cnf_ind)                       \
    EVENT(CALL_CONNECTED_IND, 30004, zol_cm_callsvc_event_connected_ind)                           \
    EVENT(CALL_END_IND, 30005, zol_cm_callsvc_event_end_ind)                                       \
    EVENT(CALL_MO_PROG_INFO_IND, 30006, zol_cm_callsvc_event_mo_prog_info_ind)                     \
    EVENT(CALL_HOLD_IND, 30007, zol_cm_callsvc_event_hold_ind)                                     \
    EVENT(CALL_RETRIEVE_IND, 30008, zol_cm_callsvc_event_retrieve_ind)                             \
    EVENT(CALL_SUPS_CONF, 30009, zol_cm_callsvc_event_sups_conf)                                   \
    EVENT(CALL_CONNECTED_NUM_IND, 30010, zol_cm_callsvc_event_connected_num_ind)                   \
    EVENT(CALL_TRANSFER_IND, 30011, zol_cm_callsvc_event_transfer_ind)                             \
    EVENT(CALL_WAIT_VOIP_CALL_IND, 30012, zol_cm_callsvc_event_wait_voip_call_ind)                 \
    EVENT(CALL_MODIFY_CNF_IND, 30013, zol_cm_callsvc_event_modify_cnf_ind)                         \
    EVENT(CALL_MODIFY_IND, 30014, zol_cm_callsvc_event_modify_ind)                                 \
    EVENT(CALL_AUDIO_CODEC_INFO_IND, 30015, zol_cm_callsvc_event_audio_codec_info_ind)             \
    EVENT(CALL_DTMF_START_CONF, 30016, zol_cm_callsvc_event_dtmf_start_conf)                       \
    EVENT(CALL_DTMF_STOP_CONF, 30017, zol_cm_callsvc_event_dtmf_stop_conf)                         \
    EVENT(CALL_JOIN_CONFERENCE_CALL_IND, 30018, zol_cm_callsvc_event_join_conference_call_ind)     \
    EVENT(CALL_CONFERENCE_INFO_IND, 30019, zol_cm_callsvc_event_conference_info_ind)               \
    EVENT(CALL_SRVCC_INFO_IND, 30020, zol_cm_callsvc_event_srvcc_info_ind)                         \
    EVENT(CALL_CUR_CALL_IND, 30021, zol_cm_callsvc_event_cur_call_ind)                             \
    EVENT(CALL_RUN_STATUS_INFO_IND, 30022, zol_cm_callsvc_event_run_status_info_ind)               \
    UNNAMED(CALL_FORWARD_IND, 30023, zol_cm_callsvc_event_forward_ind)                             \
    EVENT(CALL_GET_CFG_CONF, 30024, zol_cm_callsvc_event_get_cfg_conf)                             \
    REQUEST(RIL_REQUEST_IMS_SEND_SMS, zol_sms_request_send_sms)                                    \
    REQUEST(RIL_REQUEST_SMS_ACKNOWLEDGE, zol_sms_request_sms_acknowledge)                          \
    UNNAMED(SMS_MT_MSG_IND, 30102, zol_sms_event_mt_msg_ind)                                       \
    UNNAMED(SMS_SEND_STATUS_IND, 30103, zol_sms_event_send_msg_status_ind)                         \
    REQUEST(RIL_REQUEST_GET_CLIR, zol_sups_request_query)                                          \
    REQUEST(RIL_REQUEST_SET_CLIR, zol_sups_CLIR_request_set)                                       \
    REQUEST(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, zol_sups_request_query)                         \
    REQUEST(RIL_REQUEST_SET_CALL_FORWARD, zol_sups_call_forward_request_set)                       \
    REQUEST(RIL_REQUEST_QUERY_CALL_WAITING, zol_sups_request_query)                                \
    REQUEST(RIL_REQUEST_SET_CALL_WAITING, zol_sups_call_waiting_request_set)                       \
    REQUEST(RIL_REQUEST_QUERY_FACILITY_LOCK, zol_sups_request_query)                               \
    REQUEST(RIL_REQUEST_SET_FACILITY_LOCK, zol_sups_call_barring_request_set)                      \
    REQUEST(RIL_REQUEST_QUERY_CLIP, zol_sups_request_query)                                        \
    REQUEST(RIL_REQUEST_IMS_MT_INVITE_RSP, zol_cm_callsvc_request_ims_mt_invite_rsp)               \
    REQUEST(RIL_REQUEST_SET_COLP, zol_sups_COLP_request_set)                                       \
    REQUEST(RIL_REQUEST_QUERY_COLR, zol_sups_request_query)                                        \
    REQUEST(RIL_REQUEST_QUERY_COLP, zol_sups_request_query)                                        \
    EVENT(SUPS_ACTIVATE_SS_CONF, 30052, zol_sups_event_activate_ss_conf)                           \
    EVENT(SUPS_DEACTIVATE_SS_CONF, 30053, zol_sups_event_deactivate_ss_conf)                       \
    EVENT(SUPS_ERASE_SS_CONF, 30054, zol_sups_event_erase_ss_conf)                                 \
    EVENT(SUPS_INTERROGATE_SS_CONF, 30055, zol_sups_event_interrogate_ss_conf)                     \
    EVENT(SUPS_REGISTER_SS_CONF, 30056, zol_sups_event_register_ss_conf)

// Expansions that leave a row out.
#define ZOL_SKIP_REQUEST(number, handler)
#define ZOL_SKIP_EVENT(name, wire, handler)

namespace zol {

// Message ids to the stack: msg::DIAL and so on.
namespace msg {
#define ZOL_MESSAGE_ID(name, wire) inline constexpr uint16_t name = wire;
ZOL_STACK_MESSAGES(ZOL_MESSAGE_ID)
#undef ZOL_MESSAGE_ID
} // namespace msg

// Event ids of stack messages, as the dispatch table and the pending list
// number them: ev::CALL_END_IND and so on.
namespace ev {
#define ZOL_EVENT_ID(name, wire, handler)                                                          \
    inline constexpr int32_t name = ZOL_STACK_EVENT_BASE + wire;
ZOL_DISPATCH_LIST(ZOL_SKIP_REQUEST, ZOL_EVENT_ID, ZOL_EVENT_ID)
#undef ZOL_EVENT_ID
} // namespace ev

} // namespace zol

#endif // ZOL_MESSAGES_H
