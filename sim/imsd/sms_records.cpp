#include "sms_records.h"

#include <cassert>

#include "record_reader.h"
#include "records.h"

namespace zol::imsd {

namespace {

constexpr size_t kPduAt = 0;
constexpr size_t kPduWidth = 255;
constexpr size_t kPduLenAt = 255;
constexpr size_t kSmscAt = 259;
constexpr size_t kSmscWidth = 50;
constexpr size_t kSmscLenAt = 309;
constexpr size_t kMsgRefAt = 313;
constexpr size_t kTechAt = 317;

constexpr size_t kApduWidth = 600;

// The text fields carry no terminator: their length word says how much is text.
std::optional<std::string> counted_text(const RecordReader &r, size_t at, size_t width,
                                        uint32_t len)
{
    if (len > width) {
        return std::nullopt;
    }
    std::string s;
    for (size_t i = 0; i < len; ++i) {
        s.push_back(static_cast<char>(r.u8(at + i)));
    }
    return s;
}

} // namespace

std::optional<SendSms> decode_send_sms(std::span<const uint8_t> payload)
{
    if (payload.size() != kSendSmsLen) {
        return std::nullopt;
    }
    const RecordReader r(payload);
    auto pdu = counted_text(r, kPduAt, kPduWidth, r.u32(kPduLenAt));
    auto smsc = counted_text(r, kSmscAt, kSmscWidth, r.u32(kSmscLenAt));
    if (!pdu || !smsc) {
        return std::nullopt;
    }
    return SendSms{std::move(*pdu), std::move(*smsc), r.u32(kMsgRefAt), r.u32(kTechAt)};
}

std::optional<SmsAck> decode_sms_ack(std::span<const uint8_t> payload)
{
    if (payload.size() != kAckSmsLen) {
        return std::nullopt;
    }
    const RecordReader r(payload);
    return SmsAck{r.u32(0), r.u32(4)};
}

std::vector<uint8_t> encode_incoming_sms(std::string_view hex, TpduType type)
{
    assert(hex.size() <= kMaxIncomingHex);
    RecordWriter w;
    w.text(hex, kApduWidth);
    w.u32(static_cast<uint32_t>(hex.size()));
    w.u32(static_cast<uint32_t>(type));
    assert(w.size() == kIncomingSmsLen);
    return w.take();
}

std::vector<uint8_t> encode_send_status(uint32_t msg_ref, uint32_t error_code)
{
    RecordWriter w;
    w.u32(msg_ref);
    w.u32(0); // not read by the module
    w.u32(error_code);
    return w.take();
}

} // namespace zol::imsd
