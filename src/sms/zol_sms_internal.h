// SMS over IMS: the records exchanged with the stack.
#ifndef ZOL_SMS_INTERNAL_H
#define ZOL_SMS_INTERNAL_H

#include <cstddef>
#include <cstdint>

namespace zol::sms {

// Payload of message 61: texts without terminators, lengths beside them.
struct SmsSendLayout {
    static constexpr size_t kPdu = 0;
    static constexpr size_t kPduWidth = 255;
    static constexpr size_t kPduLen = 255;
    static constexpr size_t kSmscAddr = 259;
    static constexpr size_t kSmscWidth = 50;
    static constexpr size_t kSmscLen = 309;
    static constexpr size_t kMsgRef = 313;
    static constexpr size_t kTech = 317;
    static constexpr size_t kSize = 321;
    // The longest PDU text the stack takes.
    static constexpr size_t kMaxPdu = 254;
};
static_assert(SmsSendLayout::kPdu + SmsSendLayout::kPduWidth == SmsSendLayout::kPduLen);
static_assert(SmsSendLayout::kPduLen + 4 == SmsSendLayout::kSmscAddr);
static_assert(SmsSendLayout::kSmscAddr + SmsSendLayout::kSmscWidth == SmsSendLayout::kSmscLen);
static_assert(SmsSendLayout::kSmscLen + 4 == SmsSendLayout::kMsgRef);
static_assert(SmsSendLayout::kMsgRef + 4 == SmsSendLayout::kTech);
static_assert(SmsSendLayout::kTech + 4 == SmsSendLayout::kSize);
static_assert(SmsSendLayout::kMaxPdu < SmsSendLayout::kPduWidth);

// Payload of message 62.
struct SmsAckLayout {
    static constexpr size_t kSuccess = 0;
    static constexpr size_t kCause = 4;
    static constexpr size_t kSize = 8;
};
static_assert(SmsAckLayout::kCause + 4 == SmsAckLayout::kSize);

// The incoming-message indication.
struct MtMsgLayout {
    static constexpr size_t kApdu = 0;
    static constexpr size_t kApduWidth = 600;
    static constexpr size_t kApduLen = 600;
    static constexpr size_t kTpduType = 604;
    static constexpr size_t kSize = 608;
};
static_assert(MtMsgLayout::kApdu + MtMsgLayout::kApduWidth == MtMsgLayout::kApduLen);
static_assert(MtMsgLayout::kApduLen + 4 == MtMsgLayout::kTpduType);
static_assert(MtMsgLayout::kTpduType + 4 == MtMsgLayout::kSize);

constexpr uint32_t kTpduMessage = 0;
constexpr uint32_t kTpduStatusReport = 2;

// The send-status indication.
struct SendStatusLayout {
    static constexpr size_t kMsgRef = 0;
    static constexpr size_t kErrorCode = 8;
    static constexpr size_t kSize = 12;
};
static_assert(SendStatusLayout::kErrorCode + 4 == SendStatusLayout::kSize);

constexpr uint32_t kSendOk = 0;
constexpr uint32_t kSendTimeout = 10;

} // namespace zol::sms

#endif // ZOL_SMS_INTERNAL_H
