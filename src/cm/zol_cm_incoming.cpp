// Incoming calls: the stack's invitation, the host's answer to it, and
// answering or rejecting the call.
#include <cstdio>
#include <cstring>

#include "cm/zol_cm_internal.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "zol/zol_cm.h"

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
    const size_t len = end != nullptr
                           ? static_cast<size_t>(static_cast<const uint8_t *>(end) - number.data())
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
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.request = false, .data = "ind_ptr != ((void *)0)"});
    const PayloadView invite = h.payload();
    InviteTexts texts;
    // An invitation that lacks a field cannot be shown to the host: it is
    // dropped, and the stack's own timer ends the attempt.
    if (!h || !invite_texts(params_ptr->data, params_ptr->datalen, texts)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): invitation of %u bytes is short, dropped\n", __func__,
                static_cast<unsigned>(invite.size()));
        return;
    }
    send_unsol(RIL_UNSOL_IMS_MT_INVITE, texts.texts, sizeof texts.texts);
}

void zol_cm_callsvc_request_ims_mt_invite_rsp(zol_request_params_type *params_ptr,
                                              zol_request_return_type *ret_ptr)
{
    // Without both words there is no answer to pass on: refused, nothing sent.
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.exit = Exit::spaced, .min_len = 2 * sizeof(int32_t), .short_exit_error = true});
    if (!h) {
        return;
    }
    int32_t call_id = 0;
    int32_t accept = 0;
    host_word(h.request(), 0, call_id);
    host_word(h.request(), 1, accept);
    using L = CallResponseLayout;
    PayloadBuilder<L::kInviteRspSize> payload;
    payload.u8(L::kCallId, static_cast<uint8_t>(call_id));
    payload.u32(L::kAccept, static_cast<uint32_t>(accept));
    ZOL_LOG(ZOL_LOG_TRACE, "%s() req_data->call_id=%d,req_data->b_accept=%d", __func__,
            static_cast<uint8_t>(call_id), accept);

    // Not tied to the host's request on the wire: it answers the stack's invitation.
    int32_t no_request = kNoRequestTokenId;
    const bool sent = send_message(msg::MT_INVITE_RSP, payload.data(), payload.size(), &no_request);
    ZOL_LOG(ZOL_LOG_TRACE, "%s",
            sent ? "Reply to RIL --> ims_mt_invite_rsp success,\n"
                 : "Reply to RIL --> ims_mt_invite_rsp fail,\n");
    h.complete(sent ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE);
}

void zol_cm_callsvc_request_answer(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {});
    if (!h) {
        return;
    }
    if (!h.remember(ev::CALL_CONNECTED_IND)) {
        return;
    }
    using L = CallResponseLayout;
    CallResponsePayload payload;
    payload.u8(L::kCallId, kAnyCall);
    payload.u32(L::kAccept, 1);
    payload.u32(L::kFixed, kFixedWord);
    int32_t host_call_type = 0;
    // Data too short for the call type counts as none: a voice answer.
    const bool have_type = host_word(h.request(), 0, host_call_type);
    if (!have_type) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() in_data_ptr is null ,set call type is voice", __func__);
    }
    put_answer_call_type(payload, have_type, host_call_type);
    h.send(msg::CALL_RESPONSE, payload, "Reply to RIL --> request_answer fail,\n");
}

void zol_cm_callsvc_request_reject(zol_request_params_type *params_ptr,
                                   zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {});
    if (!h) {
        return;
    }
    using L = CallResponseLayout;
    CallResponsePayload payload;
    payload.u8(L::kCallId, kAnyCall);
    payload.u32(L::kAccept, 0);
    payload.u32(L::kRejectCause, 1);
    ZOL_LOG(ZOL_LOG_TRACE, " %s() req_data.b_accept=%d,req_data.e_rej_cause_type=%d", __func__, 0,
            1);
    h.send_immediate(msg::CALL_RESPONSE, payload, "Reply to RIL --> rejectd fail,\n",
                     "Reply to RIL --> rejectd success,\n");
}

} // extern "C"
