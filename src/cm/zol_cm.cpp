// Call control and call state: the current call list and its conversion into
// host call records, and the request flow shared by the call handlers.
#include "cm/zol_cm_internal.h"

#include <cstring>

#include "log/zol_diag.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::cm {

bool data_prologue(const char *handler, zol_request_params_type *params_ptr,
                   zol_request_return_type *ret_ptr, const char *data_cond, bool log_entry)
{
    const bool have_params = ZOL_NOT_NULL(params_ptr, "params_ptr");
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    if (have_params) {
        check(params_ptr->data != nullptr, data_cond);
    }
    if (log_entry) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", handler);
    }
    return have_params;
}

int host_call_state(uint32_t stack_state)
{
    switch (stack_state) {
    case 1:
    case 6:
        return 6; // no host state of its own
    case 2:
        return RIL_CALL_DIALING;
    case 3:
        return RIL_CALL_INCOMING;
    case 4:
        return RIL_CALL_ACTIVE;
    case 5:
        return RIL_CALL_ALERTING;
    case 7:
        return RIL_CALL_HOLDING;
    case 8:
        return RIL_CALL_WAITING;
    default:
        return 0;
    }
}

int host_call_type(uint32_t stack_call_type, uint32_t video_direction)
{
    if (stack_call_type != kStackCallVideo) {
        return 0;
    }
    return video_direction >= 1 && video_direction <= 3 ? static_cast<int>(video_direction) : -1;
}

bool convert_call_entry(uint8_t *payload, uint32_t payload_len, size_t entry_offset,
                        RIL_CallIms &out)
{
    using L = CallEntryLayout;
    const PayloadView view(payload, payload_len);
    if (!view.has(entry_offset, L::kSize)) {
        return false;
    }
    uint8_t call_id = 0;
    uint8_t multiparty = 0;
    uint32_t direction = 0;
    uint32_t call_type = 0;
    uint32_t state = 0;
    uint32_t attribute = 0;
    uint32_t video_direction = 0;
    view.u8(entry_offset + L::kCallId, call_id);
    view.u8(entry_offset + L::kMultiparty, multiparty);
    view.u32(entry_offset + L::kDirection, direction);
    view.u32(entry_offset + L::kCallType, call_type);
    view.u32(entry_offset + L::kState, state);
    view.u32(entry_offset + L::kAttribute, attribute);
    view.u32(entry_offset + L::kVideoDirection, video_direction);

    uint8_t *entry = payload + entry_offset;
    char *number = terminated_text(entry + L::kNumber, L::kNumberWidth);
    char *text = terminated_text(entry + L::kText, L::kTextWidth);

    out = RIL_CallIms{};
    out.call.state = host_call_state(state);
    out.call.index = call_id;
    out.call.toa = number[0] == '+' ? 145 : 129;
    out.call.isMpty = static_cast<char>(multiparty);
    out.call.isMT = direction == kDirectionMobileTerminated ? 1 : 0;
    out.call.isVoice = call_type == kStackCallVoice ? 1 : 0;
    out.call.number = number;
    out.callType = host_call_type(call_type, video_direction);
    out.callAttribute = attribute == kAttributeSignificant ? 2 : 1;
    out.extraText = text;
    return true;
}

} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_send_unsol_call_state_changed(void)
{
    zol_unsol_resp_params_type unsol;
    zol_default_unsol_resp_params(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, &unsol);
    zol_send_unsol_response(&unsol);
}

void zol_cm_callsvc_request_get_current_calls(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr, false)) {
        return;
    }
    send_pending(*params_ptr, msg::GET_CURRENT_CALLS, nullptr, 0, ev::CALL_CUR_CALL_IND,
                 "Reply to RIL --> get current call fail,\n");
}

void zol_cm_callsvc_event_cur_call_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    const bool have_params = ZOL_NOT_NULL(params_ptr, "params_ptr");
    const bool have_list = have_params && ZOL_NOT_NULL(params_ptr->data, "cur_calls");
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
    zol_reqlist_entry_type waiting;
    if (!have_params || !find_waiting_request(params_ptr->event_id, waiting)) {
        ZOL_LOG(ZOL_LOG_TRACE, " %s(),exit error", __func__);
        return;
    }

    auto *payload = static_cast<uint8_t *>(have_list ? params_ptr->data : nullptr);
    const uint32_t payload_len = have_list ? params_ptr->datalen : 0;
    uint8_t count = 0;
    const bool have_count = PayloadView(payload, payload_len).u8(0, count);
    // A list that claims more calls than it carries is refused whole: a partial
    // list would tell the host that calls ended which did not.
    if (!have_count ||
        !PayloadView(payload, payload_len).has(1, size_t{count} * CallEntryLayout::kSize)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): call list of %u bytes is short for %u calls\n", __func__,
                static_cast<unsigned>(payload_len), static_cast<unsigned>(count));
        complete_request(waiting.t, waiting.request, RIL_E_GENERIC_FAILURE);
        handler_exit(__func__);
        return;
    }

    RIL_CallIms **pointers = nullptr;
    RIL_CallIms *records = nullptr;
    if (count != 0) {
        pointers = static_cast<RIL_CallIms **>(zol_malloc(sizeof(RIL_CallIms *) * count));
        records = static_cast<RIL_CallIms *>(zol_malloc(sizeof(RIL_CallIms) * count));
        if (pointers == nullptr || records == nullptr) {
            if (pointers != nullptr) {
                zol_free(pointers);
            }
            if (records != nullptr) {
                zol_free(records);
            }
            complete_request(waiting.t, waiting.request, RIL_E_GENERIC_FAILURE);
            handler_exit(__func__);
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            convert_call_entry(payload, payload_len, 1 + i * CallEntryLayout::kSize, records[i]);
            pointers[i] = &records[i];
        }
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Reply to RIL --> Number of calls : %ld\n", static_cast<long>(count));
    // The reply is the array of record pointers, as long as that array is.
    complete_request(waiting.t, waiting.request, RIL_E_SUCCESS, pointers,
                     static_cast<uint32_t>(sizeof(RIL_CallIms *) * count));
    if (count != 0) {
        zol_free(records);
        zol_free(pointers);
    }
    handler_exit(__func__);
}

} // extern "C"
