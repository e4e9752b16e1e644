// Placing a call: the host's dial record becomes the stack's dial message,
// and the host is answered from the result of the send.
#include <cstddef>
#include <cstring>

#include "cm/zol_cm_internal.h"
#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_owned.h"
#include "zol/zol_cm.h"

namespace zol::cm {
namespace {

constexpr char kConferenceNumber[] = "Conference Call";
constexpr size_t kConferenceNumberLen = sizeof kConferenceNumber - 1;
static_assert(kConferenceNumberLen == 15);
static_assert(kConferenceNumberLen <= DialLayout::kDigitsWidth);

// Every field of the host record the handler reads; shorter data is no record.
constexpr size_t kDialRecordRead = offsetof(RIL_Dial, callType) + sizeof(int);

constexpr int kDialKindConference = 1;
constexpr int kHostCallTypeVideo = 3;

using DialPayload = PayloadBuilder<DialLayout::kSize>;

// Fills the number part; false when the number does not fit.
bool put_number(DialPayload &payload, const RIL_Dial &dial, const char *address, size_t len)
{
    using L = DialLayout;
    if (dial.dial_kind == kDialKindConference) {
        payload.put(L::kDigits, L::kDigitsWidth, kConferenceNumber, kConferenceNumberLen);
        payload.u8(L::kDigitCount, static_cast<uint8_t>(kConferenceNumberLen));
        payload.u32(L::kNumberKind, kNumberKindConference);
        payload.put(L::kParticipants, L::kParticipantsCopied, address, len);
    } else {
        // A longer number is refused rather than cut: a cut number would ring
        // somebody else.
        if (len > L::kDigitsWidth) {
            return false;
        }
        payload.put(L::kDigits, L::kDigitsWidth, address, len);
        payload.u8(L::kDigitCount, static_cast<uint8_t>(len));
        payload.u32(L::kNumberKind, kNumberKindNormal);
    }
    payload.u32(L::kAttrMark, kDialAttrMark);
    return true;
}

void put_call_type(DialPayload &payload, int host_call_type)
{
    using L = DialLayout;
    const bool video = host_call_type == kHostCallTypeVideo;
    payload.u32(L::kCallType, video ? kStackCallVideo : kStackCallVoice);
    payload.u32(L::kAttrFixed, kFixedWord);
    payload.u32(L::kAttrVideo, video ? 3u : kVoiceVideoDirection);
}

} // namespace
} // namespace zol::cm

using namespace zol;
using namespace zol::cm;

extern "C" {

void zol_cm_callsvc_request_dial(zol_request_params_type *params_ptr,
                                 zol_request_return_type *ret_ptr)
{
    // Data too short for the record is treated like no record.
    Handler h(
        ZOL_HERE, params_ptr, ret_ptr,
        {.data = "in_data_ptr != ((void *)0)", .data_first = true, .min_len = kDialRecordRead});
    if (!h) {
        return;
    }
    RIL_Dial dial{};
    memcpy(&dial, h.request().data, kDialRecordRead);

    // Without a number there is nothing to dial: refused, nothing sent.
    if (!ZOL_NOT_NULL(dial.address, "in_data_ptr->address")) {
        return;
    }
    const size_t len = strlen(dial.address);
    const Owned<char> address = allocate<char>(len + 20);
    if (!address) {
        return;
    }
    memcpy(address.get(), dial.address, len + 1);
    ZOL_LOG(ZOL_LOG_TRACE, "%s", address.get());

    DialPayload payload;
    if (!put_number(payload, dial, address.get(), len)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s(): number of %zu digits is longer than %zu, not dialled\n",
                __func__, len, DialLayout::kDigitsWidth);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "in_data_ptr->callType:%d", dial.callType);
    put_call_type(payload, dial.callType);
    ZOL_LOG(ZOL_LOG_TRACE, "p_req_data: call_id(%d), call_num(%d), call_type(%d), call_att(%d)", 1,
            133, 4, 1512);
    h.send_immediate(msg::DIAL, payload, "Reply to RIL --> Dial fail,\n",
                     "Reply to RIL --> Dial success,\n");
}

} // extern "C"
