// Call control and call state: the current call list and its conversion into
// host call records, and the request flow shared by the call handlers.
#include "cm/zol_cm_internal.h"

#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_owned.h"
#include "runtime/zol_reply.h"
#include "zol/zol_cm.h"

namespace zol::cm {

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
    send_unsol(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED);
}

void zol_cm_callsvc_request_get_current_calls(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.entry = Entry::none, .exit = Exit::none});
    if (!h) {
        return;
    }
    h.send_pending(msg::GET_CURRENT_CALLS, {}, ev::CALL_CUR_CALL_IND,
                   "Reply to RIL --> get current call fail,\n");
}

void zol_cm_callsvc_event_cur_call_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .data = "cur_calls != ((void *)0)", .data_first = true});
    if (!h || !h.claim(params_ptr->event_id)) {
        return h.end(Exit::not_found);
    }
    const PayloadView list = h.payload();
    uint8_t count = 0;
    // A list that claims more calls than it carries is refused whole: a partial
    // list would tell the host that calls ended which did not.
    if (!list.u8(0, count) || !list.has(1, size_t{count} * CallEntryLayout::kSize)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): call list of %u bytes is short for %u calls\n", __func__,
                static_cast<unsigned>(list.size()), static_cast<unsigned>(count));
        return;
    }
    auto *payload = static_cast<uint8_t *>(params_ptr->data);
    Owned<RIL_CallIms *> pointers;
    Owned<RIL_CallIms> records;
    if (count != 0) {
        pointers = allocate<RIL_CallIms *>(count);
        records = allocate<RIL_CallIms>(count);
        if (!pointers || !records) {
            return;
        }
        for (size_t i = 0; i < count; ++i) {
            convert_call_entry(payload, params_ptr->datalen, 1 + i * CallEntryLayout::kSize,
                               records.get()[i]);
            pointers.get()[i] = &records.get()[i];
        }
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Reply to RIL --> Number of calls : %ld\n", static_cast<long>(count));
    // The reply is the array of record pointers, as long as that array is.
    h.complete(RIL_E_SUCCESS, pointers.get(), static_cast<uint32_t>(sizeof(RIL_CallIms *) * count));
}

} // extern "C"
