// Call modification between voice and video: the host's modify request and
// its answer to a remote request, the stack's modify indication, and the
// stack's confirmation that a change was carried out.
#include "cm/zol_cm_internal.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "zol/zol_cm.h"

namespace zol::cm {
namespace {

// Host call type 0 is voice, 1 to 3 video with that direction; other values
// leave the block zero.
constexpr CallTypeBlock kCallTypeBlocks[] = {
    {true, 0, kStackCallVoice, kFixedWord, kVoiceVideoDirection},
    {true, 1, kStackCallVideo, kFixedWord, 1},
    {true, 1, kStackCallVideo, kFixedWord, 2},
    {true, 1, kStackCallVideo, kFixedWord, 3},
};

template <size_t N>
void put_block(PayloadBuilder<N> &payload, size_t offset, const CallTypeBlock &block)
{
    payload.u32(offset + CallTypeBlockLayout::kCallType, block.call_type);
    payload.u32(offset + CallTypeBlockLayout::kFixed, block.fixed);
    payload.u32(offset + CallTypeBlockLayout::kVideo, block.video);
}

// A modify request or response carries callId and callType; data that does
// not hold both counts as none.
constexpr Shape modify_shape(const char *data_cond)
{
    return {.exit = Exit::spaced,
            .data = data_cond,
            .min_len = 2 * sizeof(int32_t),
            .short_exit_error = true};
}

struct ModifyData {
    int32_t call_id = 0;
    int32_t call_type = 0;
};

ModifyData modify_data(const Handler &h)
{
    ModifyData d;
    host_word(h.request(), 0, d.call_id);
    host_word(h.request(), 1, d.call_type);
    return d;
}

} // namespace

CallTypeBlock call_type_block(int32_t host_call_type)
{
    if (host_call_type < 0 || host_call_type > 3) {
        return CallTypeBlock{false, 0, 0, 0, 0};
    }
    return kCallTypeBlocks[host_call_type];
}

int32_t modify_ind_host_call_type(uint32_t stack_call_type, uint32_t video_direction)
{
    if (stack_call_type == kStackCallVideo && video_direction >= 1 && video_direction <= 3) {
        return static_cast<int32_t>(video_direction);
    }
    return 0;
}

} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_ims_call_modify(zol_request_params_type *params_ptr,
                                            zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, modify_shape("call_modify_ptr != ((void *)0)"));
    if (!h) {
        return;
    }
    const ModifyData d = modify_data(h);
    ZOL_LOG(ZOL_LOG_TRACE, "call_modify_ptr.callId:%d,callType:%d", d.call_id, d.call_type);
    PayloadBuilder<ModifyLayout::kRequestSize> payload;
    payload.u8(ModifyLayout::kCallId, static_cast<uint8_t>(d.call_id));
    put_block(payload, ModifyLayout::kRequestBlock, call_type_block(d.call_type));
    h.send_immediate(msg::CALL_MODIFY, payload, "Reply to RIL --> ims_call_modify fail,\n",
                     "Reply to RIL --> ims_call_modify success,\n");
}

void zol_cm_callsvc_request_ims_call_modify_rsp(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, modify_shape("in_data_ptr != ((void *)0)"));
    if (!h) {
        return;
    }
    const ModifyData d = modify_data(h);
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:n_data_ptr->callId=%d,in_data_ptr->callType=%d", __func__,
            d.call_id, d.call_type);
    PayloadBuilder<ModifyLayout::kResponseSize> payload;
    // The stack knows which call asked; the host's callId is not sent.
    payload.u8(ModifyLayout::kCallId, kAnyCall);
    const CallTypeBlock block = call_type_block(d.call_type);
    if (!block.valid) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s() invalid callType", __func__);
    }
    payload.u32(ModifyLayout::kResponseAnswer, block.answer);
    put_block(payload, ModifyLayout::kResponseBlock, block);
    h.send_immediate(msg::CALL_MODIFY_RSP, payload, "Reply to RIL --> ims_call_modify_rsp fail,\n",
                     "Reply to RIL --> ims_call_modify_rsp success,\n");
}

void zol_cm_callsvc_event_modify_ind(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .data = "call_modify_ind_ptr != ((void *)0)"});
    const PayloadView view = h.payload();
    uint8_t call_id = 0;
    uint32_t call_type = 0;
    uint32_t video = 0;
    // A short indication is dropped: passing on a guessed call type would
    // have the host accept a change that was not asked for.
    if (!view.u8(ModifyIndLayout::kCallId, call_id) ||
        !view.u32(ModifyIndLayout::kCallType, call_type) ||
        !view.u32(ModifyIndLayout::kVideo, video)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): modify indication of %u bytes is short, dropped\n", __func__,
                static_cast<unsigned>(view.size()));
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:call_id=%d,e_call_type=%d", __func__, call_id,
            static_cast<int32_t>(call_type));
    int32_t record[2] = {call_id, modify_ind_host_call_type(call_type, video)};
    send_unsol(RIL_UNSOL_RESPONSE_CALL_MODIFY_IND, record, sizeof record);
}

void zol_cm_callsvc_event_modify_cnf_ind(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr)
{
    // Reads nothing of its record, so checks nothing either.
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .checked = false, .entry = Entry::own});
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry, send unsol call state changed", __func__);
    zol_cm_send_unsol_call_state_changed();
}

} // extern "C"
