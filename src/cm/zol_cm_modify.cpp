// Call modification between voice and video: the host's modify request and
// its answer to a remote request, the stack's modify indication, and the
// stack's confirmation that a change was carried out.
#include "cm/zol_cm_internal.h"
#include "log/zol_diag.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

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

// callId and callType of a modify request or response; false when the data
// does not hold both (treated as no data).
bool read_modify_data(const zol_request_params_type &request, int32_t &call_id,
                      int32_t &call_type)
{
    return host_word(request, 0, call_id) && host_word(request, 1, call_type);
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
    if (!data_prologue(__func__, params_ptr, ret_ptr, "call_modify_ptr != ((void *)0)")) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    int32_t call_id = 0;
    int32_t call_type = 0;
    if (!read_modify_data(request, call_id, call_type)) {
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "call_modify_ptr.callId:%d,callType:%d", call_id, call_type);
    PayloadBuilder<ModifyLayout::kRequestSize> payload;
    payload.u8(ModifyLayout::kCallId, static_cast<uint8_t>(call_id));
    put_block(payload, ModifyLayout::kRequestBlock, call_type_block(call_type));
    send_immediate(request, msg::CALL_MODIFY, payload.data(), payload.size(),
                   "Reply to RIL --> ims_call_modify fail,\n",
                   "Reply to RIL --> ims_call_modify success,\n");
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_cm_callsvc_request_ims_call_modify_rsp(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr)
{
    if (!data_prologue(__func__, params_ptr, ret_ptr, "in_data_ptr != ((void *)0)")) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    int32_t call_id = 0;
    int32_t call_type = 0;
    if (!read_modify_data(request, call_id, call_type)) {
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:n_data_ptr->callId=%d,in_data_ptr->callType=%d", __func__,
            call_id, call_type);
    PayloadBuilder<ModifyLayout::kResponseSize> payload;
    // The stack knows which call asked; the host's callId is not sent.
    payload.u8(ModifyLayout::kCallId, kAnyCall);
    const CallTypeBlock block = call_type_block(call_type);
    if (!block.valid) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s() invalid callType", __func__);
    }
    payload.u32(ModifyLayout::kResponseAnswer, block.answer);
    put_block(payload, ModifyLayout::kResponseBlock, block);
    send_immediate(request, msg::CALL_MODIFY_RSP, payload.data(), payload.size(),
                   "Reply to RIL --> ims_call_modify_rsp fail,\n",
                   "Reply to RIL --> ims_call_modify_rsp success,\n");
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_cm_callsvc_event_modify_ind(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    const bool have_params =
        data_prologue(__func__, params_ptr, ret_ptr, "call_modify_ind_ptr != ((void *)0)");
    const PayloadView view(have_params ? params_ptr->data : nullptr,
                           have_params ? params_ptr->datalen : 0);
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
        handler_exit(__func__);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry:call_id=%d,e_call_type=%d", __func__, call_id,
            static_cast<int32_t>(call_type));
    int32_t record[2] = {call_id, modify_ind_host_call_type(call_type, video)};
    zol_unsol_resp_params_type unsol;
    zol_default_unsol_resp_params(RIL_UNSOL_RESPONSE_CALL_MODIFY_IND, &unsol);
    unsol.data = record;
    unsol.datalen = sizeof record;
    zol_send_unsol_response(&unsol);
    handler_exit(__func__);
}

void zol_cm_callsvc_event_modify_cnf_ind(zol_request_params_type *, zol_request_return_type *)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry, send unsol call state changed", __func__);
    zol_cm_send_unsol_call_state_changed();
    handler_exit(__func__);
}

} // extern "C"
