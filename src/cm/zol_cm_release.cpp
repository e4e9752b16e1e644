// Ending calls, swapping the active and the held call, joining calls into a
// conference and splitting one off it. The stack owns the call states; these
// handlers only pass the command on.
#include "cm/zol_cm_internal.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "zol/zol_cm.h"

namespace zol::cm {
namespace {

// The hang-ups of several calls: remembered until the end indication, then sent.
void hangup_many(Here here, uint8_t kind, const char *fail_line,
                 zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    Handler h(here, params_ptr, ret_ptr, {});
    if (!h) {
        return;
    }
    PayloadBuilder<HangupLayout::kSize> payload;
    payload.u8(HangupLayout::kIndex, kAnyCall);
    payload.u8(HangupLayout::kKind, kind);
    h.send_pending(msg::HANGUP, payload, ev::CALL_END_IND, fail_line);
}

} // namespace
} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_hangup(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {});
    if (!h) {
        return;
    }
    int32_t conn_index = kAnyCall;
    // Data that is there but too short for the index is refused like empty data.
    if (h.request().data != nullptr && !host_word(h.request(), 0, conn_index)) {
        return h.end(Exit::exit_error, __LINE__);
    }
    if (!h.remember(ev::CALL_END_IND)) {
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() - conn_index=%d", __func__, conn_index);
    PayloadBuilder<HangupLayout::kSize> payload;
    payload.u8(HangupLayout::kIndex, static_cast<uint8_t>(conn_index));
    payload.u8(HangupLayout::kKind, kHangupOne);
    h.send(msg::HANGUP, payload, "Reply to RIL --> Hangup fail,\n");
}

void zol_cm_callsvc_request_hangup_waiting_or_background(zol_request_params_type *params_ptr,
                                                         zol_request_return_type *ret_ptr)
{
    hangup_many(ZOL_HERE, kHangupWaitingOrBackground,
                "Reply to RIL --> hangup_waiting_or_background fail,\n", params_ptr, ret_ptr);
}

void zol_cm_callsvc_request_hangup_foreground_resume_background(zol_request_params_type *params_ptr,
                                                                zol_request_return_type *ret_ptr)
{
    hangup_many(ZOL_HERE, kHangupForegroundResumeBackground,
                "Reply to RIL --> hangup_foreground_resume_background fail,\n", params_ptr,
                ret_ptr);
}

void zol_cm_callsvc_request_switch_waiting_or_holding_and_active(
    zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.entry = Entry::none, .exit = Exit::none});
    if (!h) {
        return;
    }
    h.send_immediate(msg::SWITCH, {},
                     "Reply to RIL --> switch_waiting_or_holding_and_active fail,\n",
                     "Reply to RIL --> switch_waiting_or_holding_and_active success,\n");
}

// No dispatch row leads here; the request is answered with the call list.
void zol_cm_callsvc_request_conference_call(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.entry = Entry::none, .exit = Exit::none});
    if (!h) {
        return;
    }
    h.send_pending(msg::CONFERENCE, {}, ev::CALL_CUR_CALL_IND,
                   "Reply to RIL --> request conference fail,\n");
}

// No dispatch row leads here either. Without the index there is no call to
// split off: refused, nothing sent.
void zol_cm_callsvc_request_split_conference_call(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.exit = Exit::none,
               .data = "params_ptr->data != ((void *)0)",
               .min_len = sizeof(int32_t),
               .short_exit_error = true});
    if (!h) {
        return;
    }
    int32_t conn_index = 0;
    host_word(h.request(), 0, conn_index);
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry,connection_index=%d", __func__, conn_index);
    const uint8_t index = static_cast<uint8_t>(conn_index);
    h.send_immediate(msg::SPLIT, {&index, sizeof index},
                     "Reply to RIL --> conference request fail,\n",
                     "Reply to RIL --> conference request success,\n");
}

} // extern "C"
