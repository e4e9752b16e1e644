// SMS records: the send request (message 61) and acknowledgement (62) the module
// sends, and the incoming message (30102) and send status (30103) the stack sends.
#ifndef ZOL_IMSD_SMS_RECORDS_H
#define ZOL_IMSD_SMS_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zol::imsd {

enum SmsMessageId : uint16_t {
    kMsgSendSms = 61,
    kMsgAckSms = 62,
    kMsgIncomingSms = 30102,
    kMsgSmsSendStatus = 30103,
};

inline constexpr size_t kSendSmsLen = 321;
inline constexpr size_t kAckSmsLen = 8;
inline constexpr size_t kIncomingSmsLen = 608;
inline constexpr size_t kSendStatusLen = 12;
// The incoming text must leave room for its terminator.
inline constexpr size_t kMaxIncomingHex = 599;

// Send status error codes the module knows.
inline constexpr uint32_t kSmsSendOk = 0;
inline constexpr uint32_t kSmsSendTimedOut = 10;

enum class TpduType : uint32_t { deliver = 0, status_report = 2 };

struct SendSms {
    std::string pdu;  // hex text as the host gave it
    std::string smsc; // empty when the host gave none
    uint32_t msg_ref = 0;
    uint32_t tech = 0;
};

struct SmsAck {
    uint32_t success = 0; // 1: the host accepted the message
    uint32_t cause = 0;
};

// Nullopt when the length is not the record's, or a text length overruns its field.
std::optional<SendSms> decode_send_sms(std::span<const uint8_t> payload);
std::optional<SmsAck> decode_sms_ack(std::span<const uint8_t> payload);

// `hex` must not be longer than kMaxIncomingHex.
std::vector<uint8_t> encode_incoming_sms(std::string_view hex, TpduType type);
std::vector<uint8_t> encode_send_status(uint32_t msg_ref, uint32_t error_code);

} // namespace zol::imsd

#endif
