// Ending calls, swapping the active and the held call, joining calls into a
// conference and splitting one off it. The stack owns the call states; these
// handlers only pass the command on.
#include "cm/zol_cm_internal.h"
#include "log/zol_diag.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::cm {
namespace {

// The hang-ups of several calls: remembered until the end indication, then sent.
void hangup_many(const char *handler, uint8_t kind, const char *fail_line,
                 zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(handler, params_ptr, ret_ptr)) {
        return;
    }
    const Remembered remembered = remember_request(*params_ptr, ev::CALL_END_IND);
    if (!remembered) {
        return;
    }
    PayloadBuilder<HangupLayout::kSize> payload;
    payload.u8(HangupLayout::kIndex, kAnyCall);
    payload.u8(HangupLayout::kKind, kind);
    send_remembered(*params_ptr, remembered, msg::HANGUP, payload.data(), payload.size(), fail_line);
    handler_exit(handler);
}

} // namespace
} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_hangup(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    int32_t conn_index = kAnyCall;
    // Data that is there but too short for the index is refused like empty data.
    if (request.data != nullptr && !host_word(request, 0, conn_index)) {
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    const Remembered remembered = remember_request(request, ev::CALL_END_IND);
    if (!remembered) {
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() - conn_index=%d", __func__, conn_index);
    PayloadBuilder<HangupLayout::kSize> payload;
    payload.u8(HangupLayout::kIndex, static_cast<uint8_t>(conn_index));
    payload.u8(HangupLayout::kKind, kHangupOne);
    send_remembered(request, remembered, msg::HANGUP, payload.data(), payload.size(),
                    "Reply to RIL --> Hangup fail,\n");
    handler_exit(__func__);
}

void zol_cm_callsvc_request_hangup_waiting_or_background(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr)
{
    hangup_many(__func__, kHangupWaitingOrBackground,
                "Reply to RIL --> hangup_waiting_or_background fail,\n", params_ptr, ret_ptr);
}

void zol_cm_callsvc_request_hangup_foreground_resume_background(
    zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    hangup_many(__func__, kHangupForegroundResumeBackground,
                "Reply to RIL --> hangup_foreground_resume_background fail,\n", params_ptr,
                ret_ptr);
}

void zol_cm_callsvc_request_switch_waiting_or_holding_and_active(
    zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr, false)) {
        return;
    }
    send_immediate(*params_ptr, msg::SWITCH, nullptr, 0,
                   "Reply to RIL --> switch_waiting_or_holding_and_active fail,\n",
                   "Reply to RIL --> switch_waiting_or_holding_and_active success,\n");
}

// No dispatch row leads here; the request is answered with the call list.
void zol_cm_callsvc_request_conference_call(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr, false)) {
        return;
    }
    send_pending(*params_ptr, msg::CONFERENCE, nullptr, 0, ev::CALL_CUR_CALL_IND,
                 "Reply to RIL --> request conference fail,\n");
}

// No dispatch row leads here either.
void zol_cm_callsvc_request_split_conference_call(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr)
{
    if (!data_prologue(__func__, params_ptr, ret_ptr, "params_ptr->data != ((void *)0)")) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    int32_t conn_index = 0;
    // Without the index there is no call to split off: refused, nothing sent.
    if (!host_word(request, 0, conn_index)) {
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry,connection_index=%d", __func__, conn_index);
    const uint8_t index = static_cast<uint8_t>(conn_index);
    send_immediate(request, msg::SPLIT, &index, sizeof index,
                   "Reply to RIL --> conference request fail,\n",
                   "Reply to RIL --> conference request success,\n");
}

} // extern "C"
