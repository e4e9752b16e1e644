/*
 * Where every record that crosses a boundary keeps its bytes: the host's records
 * (read or filled by the module) and the records handed to the agent library. Each row
 * gives the value on a 32-bit target (ILP32, the handset) and on a 64-bit one
 * (LP64). Included by a C and a C++ file so that both compilers are held to the
 * same numbers.
 *
 * ZOL_LAYOUT_TABLE(SIZE, FIELD) expands SIZE(type, ilp32, lp64) and
 * FIELD(type, member, ilp32, lp64) once per row.
 */
#ifndef ZOL_TEST_LAYOUT_TABLE_H
#define ZOL_TEST_LAYOUT_TABLE_H

#include <stddef.h>

#include "ipc_agent.h"
#include "ril.h"

/* clang-format off */
#define ZOL_LAYOUT_TABLE(SIZE, FIELD)                                   \
    /* host interface */                                                \
    SIZE(RIL_RadioFunctions, 24, 48)                                    \
    FIELD(RIL_RadioFunctions, version, 0, 0)                            \
    FIELD(RIL_RadioFunctions, onRequest, 4, 8)                          \
    FIELD(RIL_RadioFunctions, currentState, 8, 16)                      \
    FIELD(RIL_RadioFunctions, onSupports, 12, 24)                       \
    FIELD(RIL_RadioFunctions, onCancel, 16, 32)                         \
    FIELD(RIL_RadioFunctions, getVersion, 20, 40)                       \
    SIZE(RIL_Env, 12, 24)                                               \
    FIELD(RIL_Env, OnRequestComplete, 0, 0)                             \
    FIELD(RIL_Env, OnUnsolicitedResponse, 4, 8)                         \
    FIELD(RIL_Env, RequestTimedCallback, 8, 16)                         \
    SIZE(RIL_Dial, 16, 32)                                              \
    FIELD(RIL_Dial, address, 0, 0)                                      \
    FIELD(RIL_Dial, dial_kind, 4, 8)                                    \
    FIELD(RIL_Dial, uusInfo, 8, 16)                                     \
    FIELD(RIL_Dial, callType, 12, 24)                                   \
    SIZE(RIL_Call, 40, 64)                                              \
    SIZE(RIL_CallIms, 60, 88)                                           \
    FIELD(RIL_CallIms, call.state, 0, 0)                                \
    FIELD(RIL_CallIms, call.index, 4, 4)                                \
    FIELD(RIL_CallIms, call.toa, 8, 8)                                  \
    FIELD(RIL_CallIms, call.isMpty, 12, 12)                             \
    FIELD(RIL_CallIms, call.isMT, 13, 13)                               \
    FIELD(RIL_CallIms, call.als, 14, 14)                                \
    FIELD(RIL_CallIms, call.isVoice, 15, 15)                            \
    FIELD(RIL_CallIms, call.isVoicePrivacy, 16, 16)                     \
    FIELD(RIL_CallIms, call.number, 20, 24)                             \
    FIELD(RIL_CallIms, call.numberPresentation, 24, 32)                 \
    FIELD(RIL_CallIms, call.name, 28, 40)                               \
    FIELD(RIL_CallIms, call.namePresentation, 32, 48)                   \
    FIELD(RIL_CallIms, call.uusInfo, 36, 56)                            \
    FIELD(RIL_CallIms, callType, 40, 64)                                \
    FIELD(RIL_CallIms, callAttribute, 44, 68)                           \
    FIELD(RIL_CallIms, reserved1, 48, 72)                               \
    FIELD(RIL_CallIms, reserved2, 52, 76)                               \
    FIELD(RIL_CallIms, extraText, 56, 80)                               \
    SIZE(RIL_IMS_SMS_Message, 16, 24)                                   \
    FIELD(RIL_IMS_SMS_Message, tech, 0, 0)                              \
    FIELD(RIL_IMS_SMS_Message, retry, 4, 4)                             \
    FIELD(RIL_IMS_SMS_Message, messageRef, 8, 8)                        \
    FIELD(RIL_IMS_SMS_Message, message, 12, 16)                         \
    SIZE(RIL_SMS_Response, 12, 24)                                      \
    FIELD(RIL_SMS_Response, messageRef, 0, 0)                           \
    FIELD(RIL_SMS_Response, ackPDU, 4, 8)                               \
    FIELD(RIL_SMS_Response, errorCode, 8, 16)                           \
    SIZE(RIL_CallForwardInfo, 28, 40)                                   \
    FIELD(RIL_CallForwardInfo, status, 0, 0)                            \
    FIELD(RIL_CallForwardInfo, reason, 4, 4)                            \
    FIELD(RIL_CallForwardInfo, serviceClass, 8, 8)                      \
    FIELD(RIL_CallForwardInfo, toa, 12, 12)                             \
    FIELD(RIL_CallForwardInfo, number, 16, 16)                          \
    FIELD(RIL_CallForwardInfo, timeSeconds, 20, 24)                     \
    FIELD(RIL_CallForwardInfo, timeInterval, 24, 32)                    \
    SIZE(RIL_SuppSvcNotification, 20, 24)                               \
    FIELD(RIL_SuppSvcNotification, notificationType, 0, 0)              \
    FIELD(RIL_SuppSvcNotification, code, 4, 4)                          \
    FIELD(RIL_SuppSvcNotification, index, 8, 8)                         \
    FIELD(RIL_SuppSvcNotification, type, 12, 12)                        \
    FIELD(RIL_SuppSvcNotification, number, 16, 16)                      \
    /* the agent library's records */                                   \
    SIZE(ipc_agent_param_type, 8, 8)                                    \
    SIZE(ipc_agent_open_type, 24, 40)                                   \
    FIELD(ipc_agent_open_type, kind, 0, 0)                              \
    FIELD(ipc_agent_open_type, reserved, 4, 4)                          \
    FIELD(ipc_agent_open_type, read_cb, 8, 8)                           \
    FIELD(ipc_agent_open_type, options, 12, 16)                         \
    FIELD(ipc_agent_open_type, flags, 16, 24)                           \
    FIELD(ipc_agent_open_type, channel_id, 20, 32)                      \
    SIZE(ipc_agent_open_options_type, 160, 160)                         \
    FIELD(ipc_agent_open_options_type, mode, 0, 0)                      \
    FIELD(ipc_agent_open_options_type, flags, 48, 48)                   \
    FIELD(ipc_agent_open_options_type, name, 68, 68)                    \
    SIZE(ipc_agent_send_type, 24, 32)                                   \
    FIELD(ipc_agent_send_type, frame, 0, 0)                             \
    FIELD(ipc_agent_send_type, length, 4, 8)                            \
    FIELD(ipc_agent_send_type, timeout, 8, 12)                          \
    FIELD(ipc_agent_send_type, priority, 12, 16)                        \
    FIELD(ipc_agent_send_type, reserved, 16, 20)                        \
    FIELD(ipc_agent_send_type, channel_id, 20, 24)                      \
    SIZE(ipc_agent_recv_type, 12, 24)                                   \
    FIELD(ipc_agent_recv_type, reserved, 0, 0)                          \
    FIELD(ipc_agent_recv_type, data, 4, 8)                              \
    FIELD(ipc_agent_recv_type, count, 8, 16)
/* clang-format on */

#ifdef __cplusplus
extern "C" {
#endif

/* The table's sizes and offsets as the C compiler lays the records out, in row order. */
extern const size_t zol_c_layout[];
extern const size_t zol_c_layout_rows;

#ifdef __cplusplus
}
#endif

#endif /* ZOL_TEST_LAYOUT_TABLE_H */
