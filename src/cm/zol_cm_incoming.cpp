// Incoming calls: the stack's invitation, the host's answer to it, and
// answering or rejecting the call.
#include <cstdio>
#include <cstring>

#include "cm/zol_cm_internal.h"
#include "log/zol_diag.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::cm {
namespace {

using CallResponsePayload = PayloadBuilder<CallResponseLayout::kSize>;

// The host's call type of an answer: 1 to 3 are video with that direction.
void put_answer_call_type(CallResponsePayload &payload, bool have_type, int32_t host_call_type)
{
    using L = CallResponseLayout;
    const bool video = have_type && host_call_type >= 1 && host_call_type <= 3;
    payload.u32(L::kCallType, video ? kStackCallVideo : kStackCallVoice);
    payload.u32(L::kVideo, video ? static_cast<uint32_t>(host_call_type) : kVoiceVideoDirection);
}

} // namespace

bool invite_texts(const void *payload, uint32_t payload_len, InviteTexts &out)
{
    using L = InviteLayout;
    const PayloadView view(payload, payload_len);
    uint8_t call_id = 0;
    uint32_t call_type = 0;
    if (!view.has(0, L::kReadSize) || !view.u8(L::kCallId, call_id) ||
        !view.u32(L::kCallType, call_type)) {
        return false;
    }
    const std::span<const uint8_t> number = view.bytes(L::kNumber, L::kNumberWidth);
    snprintf(out.call_id, sizeof out.call_id, "%d", call_id);
    snprintf(out.call_type, sizeof out.call_type, "%d", static_cast<int32_t>(call_type));
    // A number that fills its whole field keeps all 128 digits.
    const void *end = memchr(number.data(), 0, number.size());
    const size_t len = end != nullptr ? static_cast<size_t>(static_cast<const uint8_t *>(end) -
                                                            number.data())
                                      : number.size();
    memcpy(out.number, number.data(), len);
    out.number[len] = 0;
    out.texts[0] = out.call_id;
    out.texts[1] = out.call_type;
    out.texts[2] = out.number;
    return true;
}

} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_event_mt_invite_ind(zol_request_params_type *params_ptr,
                                        zol_request_return_type *ret_ptr)
{
    const bool have_params =
        data_prologue(__func__, params_ptr, ret_ptr, "ind_ptr != ((void *)0)");
    InviteTexts texts;
    // An invitation that lacks a field cannot be shown to the host: it is
    // dropped, and the stack's own timer ends the attempt.
    if (!have_params || !invite_texts(params_ptr->data, params_ptr->datalen, texts)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): invitation of %u bytes is short, dropped\n", __func__,
                have_params && params_ptr->data != nullptr ? params_ptr->datalen : 0u);
        handler_exit(__func__);
        return;
    }
    zol_unsol_resp_params_type unsol;
    zol_default_unsol_resp_params(RIL_UNSOL_IMS_MT_INVITE, &unsol);
    unsol.data = texts.texts;
    unsol.datalen = sizeof texts.texts;
    zol_send_unsol_response(&unsol);
    handler_exit(__func__);
}

void zol_cm_callsvc_request_ims_mt_invite_rsp(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    int32_t call_id = 0;
    int32_t accept = 0;
    // Without both words there is no answer to pass on: refused, nothing sent.
    if (!host_word(request, 0, call_id) || !host_word(request, 1, accept)) {
        complete_request(request.t, request.event_id, RIL_E_GENERIC_FAILURE);
        ZOL_CM_EXIT_ERROR();
        return;
    }
    using L = CallResponseLayout;
    PayloadBuilder<L::kInviteRspSize> payload;
    payload.u8(L::kCallId, static_cast<uint8_t>(call_id));
    payload.u32(L::kAccept, static_cast<uint32_t>(accept));
    ZOL_LOG(ZOL_LOG_TRACE, "%s() req_data->call_id=%d,req_data->b_accept=%d", __func__,
            static_cast<uint8_t>(call_id), accept);

    // Not tied to the host's request on the wire: it answers the stack's invitation.
    int32_t no_request = kNoRequestTokenId;
    const bool sent =
        send_message(msg::MT_INVITE_RSP, payload.data(), payload.size(), &no_request) == 0;
    ZOL_LOG(ZOL_LOG_TRACE, "%s",
            sent ? "Reply to RIL --> ims_mt_invite_rsp success,\n"
                 : "Reply to RIL --> ims_mt_invite_rsp fail,\n");
    complete_request(request.t, request.event_id, sent ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_cm_callsvc_request_answer(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;
    const Remembered remembered = remember_request(request, ev::CALL_CONNECTED_IND);
    if (!remembered) {
        return;
    }
    using L = CallResponseLayout;
    CallResponsePayload payload;
    payload.u8(L::kCallId, kAnyCall);
    payload.u32(L::kAccept, 1);
    payload.u32(L::kFixed, kFixedWord);
    int32_t host_call_type = 0;
    // Data too short for the call type counts as none: a voice answer.
    const bool have_type = host_word(request, 0, host_call_type);
    if (!have_type) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() in_data_ptr is null ,set call type is voice", __func__);
    }
    put_answer_call_type(payload, have_type, host_call_type);
    send_remembered(request, remembered, msg::CALL_RESPONSE, payload.data(), payload.size(),
                    "Reply to RIL --> request_answer fail,\n");
    handler_exit(__func__);
}

void zol_cm_callsvc_request_reject(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr)) {
        return;
    }
    using L = CallResponseLayout;
    CallResponsePayload payload;
    payload.u8(L::kCallId, kAnyCall);
    payload.u32(L::kAccept, 0);
    payload.u32(L::kRejectCause, 1);
    ZOL_LOG(ZOL_LOG_TRACE, " %s() req_data.b_accept=%d,req_data.e_rej_cause_type=%d", __func__, 0,
            1);
    send_immediate(*params_ptr, msg::CALL_RESPONSE, payload.data(), payload.size(),
                   "Reply to RIL --> rejectd fail,\n", "Reply to RIL --> rejectd success,\n");
    handler_exit(__func__);
}

} // extern "C"
