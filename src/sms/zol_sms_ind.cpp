// SMS over IMS, stack side: incoming messages and status reports for the
// host, and the send status that completes a pending send.
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "sms/zol_sms_internal.h"
#include "zol/zol_sms.h"

using namespace zol;
using namespace zol::sms;

extern "C" {

void zol_sms_event_mt_msg_ind(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    using L = MtMsgLayout;
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.request = false, .data = "ind_ptr != ((void *)0)"});
    if (!h || params_ptr->data == nullptr) {
        return h.end(Exit::none); // nothing to forward
    }
    auto *payload = static_cast<uint8_t *>(params_ptr->data);
    const PayloadView ind = h.payload();
    uint32_t apdu_len = 0, tpdu_type = 0;
    // An indication shorter than its record is dropped: its length and type
    // would be read from bytes that never arrived.
    if (!ind.u32(L::kApduLen, apdu_len) || !ind.u32(L::kTpduType, tpdu_type)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): indication of %d bytes is short, dropped\n", __func__,
                static_cast<int>(params_ptr->datalen));
        return;
    }
    // The payload copy is the module's: a text without terminator is cut at its field.
    const char *apdu = terminated_text(payload + L::kApdu, L::kApduWidth);

    int32_t unsol = 0;
    if (tpdu_type == kTpduMessage) {
        unsol = RIL_UNSOL_RESPONSE_NEW_SMS;
        ZOL_LOG(ZOL_LOG_TRACE, "RIL_UNSOL_RESPONSE_NEW_SMS apdu = %s,  len = %d, tpdu type = %d",
                apdu, static_cast<int>(apdu_len), static_cast<int>(tpdu_type));
    } else if (tpdu_type == kTpduStatusReport) {
        unsol = RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT;
        ZOL_LOG(ZOL_LOG_TRACE,
                "RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT apdu = %s,  len = %d, tpdu type = %d",
                apdu, static_cast<int>(apdu_len), static_cast<int>(tpdu_type));
    }
    ZOL_LOG(ZOL_LOG_TRACE, "apdu = %s,  len = %d, tpdu type = %d", apdu, static_cast<int>(apdu_len),
            static_cast<int>(tpdu_type));
    // Another type has no unsolicited response of its own; the host would not
    // know number 0, so the message is dropped here.
    if (unsol == 0) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): tpdu type %d not forwarded\n", __func__,
                static_cast<int>(tpdu_type));
        return;
    }
    // The host reads no further than the text's field, whatever length the stack claims.
    send_unsol(unsol, payload + L::kApdu,
               apdu_len < L::kApduWidth ? apdu_len : static_cast<uint32_t>(L::kApduWidth));
}

void zol_sms_event_send_msg_status_ind(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    using L = SendStatusLayout;
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.request = false, .data = "ind_ptr != ((void *)0)"});
    if (!h || !h.claim(ev::SMS_SEND_STATUS_IND)) {
        return h.end(Exit::error);
    }
    const PayloadView ind = h.payload();
    uint32_t msg_ref = 0, error_code = 0;
    const bool have_ref = ind.u32(L::kMsgRef, msg_ref);
    const bool have_error = ind.u32(L::kErrorCode, error_code);
    RIL_SMS_Response resp = {static_cast<int>(msg_ref), nullptr, static_cast<int>(error_code)};
    int32_t code = RIL_E_GENERIC_FAILURE;
    if (!have_ref || !have_error) {
        // The send still needs its one answer; -1 is the host's "error unknown".
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): send status of %d bytes is short\n", __func__,
                static_cast<int>(params_ptr->datalen));
        resp.errorCode = -1;
    } else {
        ZOL_LOG(ZOL_LOG_TRACE, "errorcode = %d,  messageref= %d", resp.errorCode, resp.messageRef);
        if (error_code == kSendOk) {
            ZOL_LOG(ZOL_LOG_TRACE, "errorcode = %d,  messageref= %d SUCCESS", resp.errorCode,
                    resp.messageRef);
            code = RIL_E_SUCCESS;
        } else if (error_code == kSendTimeout) {
            ZOL_LOG(ZOL_LOG_TRACE, "errorcode = %d,  messageref= %d TIMEROUT", resp.errorCode,
                    resp.messageRef);
            code = RIL_E_SMS_SEND_FAIL_RETRY;
        } else {
            // Any other stack result is a failure the host should not retry
            // blindly; the stack's own code travels in the record.
            ZOL_LOG(ZOL_LOG_TRACE, "errorcode = %d,  messageref= %d FAILURE", resp.errorCode,
                    resp.messageRef);
        }
    }
    h.complete(code, &resp, sizeof resp);
    ZOL_LOG(ZOL_LOG_TRACE, " %s(), success", __func__);
}

} // extern "C"
