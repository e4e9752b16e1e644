// SMS over IMS, host side: sending a message (answered later by the stack's
// send status) and acknowledging an incoming one (answered at once).
#include <android/log.h>
#include <cstddef>
#include <cstring>

#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "sms/zol_sms_internal.h"
#include "zol/zol_log.h"
#include "zol/zol_sms.h"

namespace zol::sms {

namespace {

// What the send handler reads of the host's IMS SMS record.
struct HostSms {
    int32_t tech;
    int32_t msg_ref;
    const char *smsc;
    const char *pdu;
};

// Reads and checks the host's record; returns why it cannot be sent, or null.
// Every check happens before the request is remembered, so a refused message
// leaves nothing in the pending list and is answered with code 2 at once.
const char *read_host_sms(const zol_request_params_type &request, HostSms &out)
{
    // Shorter than the record means no record.
    if (request.data == nullptr || request.datalen < sizeof(RIL_IMS_SMS_Message)) {
        return "no message record";
    }
    const auto *record = static_cast<const uint8_t *>(request.data);
    // Words are read as plain integers: a host may put any value in the enum.
    memcpy(&out.tech, record + offsetof(RIL_IMS_SMS_Message, tech), sizeof out.tech);
    memcpy(&out.msg_ref, record + offsetof(RIL_IMS_SMS_Message, messageRef), sizeof out.msg_ref);
    // Another family's message is no pair of texts; reading it as one could
    // follow a pointer that is not there.
    if (out.tech != RADIO_TECH_3GPP) {
        return "not a 3GPP message";
    }
    char **texts;
    memcpy(&texts, record + offsetof(RIL_IMS_SMS_Message, message), sizeof texts);
    if (texts == nullptr || texts[1] == nullptr) {
        return "no PDU";
    }
    out.smsc = texts[0];
    out.pdu = texts[1];
    // A service centre address cut to the field would send the message to
    // another centre.
    if (out.smsc != nullptr &&
        strnlen(out.smsc, SmsSendLayout::kSmscWidth + 1) > SmsSendLayout::kSmscWidth) {
        return "SMSC address longer than 50 characters";
    }
    return nullptr;
}

} // namespace

} // namespace zol::sms

using namespace zol;
using namespace zol::sms;

extern "C" {

void zol_sms_request_send_sms(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    using L = SmsSendLayout;
    ZOL_LOG_POSITION(ZOL_LOG_TRACE);
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.entry = Entry::own, .data = "in_data_ptr != ((void *)0)"});
    if (!h) {
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
    HostSms sms{};
    if (const char *why = read_host_sms(h.request(), sms)) {
        ZOL_LOG(ZOL_LOG_ERROR, "send sms refused: %s\n", why);
        return;
    }
    if (!h.remember(ev::SMS_SEND_STATUS_IND, "send sms ")) {
        return;
    }
    ZOL_LOG(ZOL_LOG_ERROR, "3GPP %d.\n", sms.tech);

    PayloadBuilder<L::kSize> payload;
    char smsc[L::kSmscWidth + 1] = {};
    if (sms.smsc != nullptr) {
        const size_t len = strlen(sms.smsc); // at most the field: checked above
        payload.u32(L::kSmscLen, static_cast<uint32_t>(len));
        payload.put(L::kSmscAddr, L::kSmscWidth, sms.smsc, len);
        memcpy(smsc, sms.smsc, len);
        ZOL_LOG(ZOL_LOG_TRACE, "%s, smsc addr len = %d", smsc, static_cast<int>(len));
    } else {
        ZOL_LOG(ZOL_LOG_TRACE, "%s, smsc addr  len = %d", smsc, 0);
    }
    // A PDU the field cannot hold goes out empty; the stack then refuses it.
    const size_t pdu_len = strnlen(sms.pdu, L::kMaxPdu + 1);
    if (pdu_len <= L::kMaxPdu) {
        payload.u32(L::kPduLen, static_cast<uint32_t>(pdu_len));
        payload.put(L::kPdu, L::kPduWidth, sms.pdu, pdu_len);
        ZOL_LOG(ZOL_LOG_TRACE, "%s, pdu len = %d",
                reinterpret_cast<const char *>(payload.data() + L::kPdu),
                static_cast<int>(pdu_len));
    }
    payload.u32(L::kMsgRef, static_cast<uint32_t>(sms.msg_ref));
    payload.u32(L::kTech, static_cast<uint32_t>(sms.tech));
    h.send(msg::SEND_SMS, payload, "Reply to RIL --> send sms fail,\n", RIL_E_SMS_SEND_FAIL_RETRY);
}

void zol_sms_request_sms_acknowledge(zol_request_params_type *params_ptr,
                                     zol_request_return_type *ret_ptr)
{
    using L = SmsAckLayout;
    ZOL_LOG_POSITION(ZOL_LOG_TRACE);
    // Data shorter than its first word counts as none.
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.min_len = sizeof(int32_t)});
    if (!h) {
        return;
    }
    int32_t accepted;
    memcpy(&accepted, h.request().data, sizeof accepted);

    PayloadBuilder<L::kSize> payload;
    bool sent = false;
    if (accepted == 1 || accepted == 0) {
        payload.u32(L::kSuccess, accepted == 1 ? 1 : 0);
        payload.u32(L::kCause, accepted == 1 ? 0 : 255);
        sent = send_message(msg::ACK_SMS, payload.data(), payload.size(), h.request().t);
    } else {
        // The one line that goes to the main log rather than the radio log.
        __android_log_print(ANDROID_LOG_ERROR, ZOL_LOG_TAG,
                            "unsupported arg to RIL_REQUEST_SMS_ACKNOWLEDGE\n");
    }
    if (sent) {
        h.complete(RIL_E_SUCCESS);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", "Reply to RIL --> send ack fail,\n");
}

} // extern "C"
