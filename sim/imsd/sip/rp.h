// SMS over IMS: the relay-layer messages (RP-DATA, RP-ACK, RP-ERROR) that a SIP
// MESSAGE of type application/vnd.3gpp.sms carries, and the service centre's
// part for messages that come straight from another phone: an SMS-SUBMIT is
// delivered as an SMS-DELIVER, and its sender gets the status report it asked for.
#ifndef ZOL_IMSD_SIP_RP_H
#define ZOL_IMSD_SIP_RP_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sms_pdu.h"

namespace zol::imsd::sip {

using Bytes = std::vector<uint8_t>;

inline constexpr const char kSmsContentType[] = "application/vnd.3gpp.sms";

// The message type indicator, by direction.
enum class RpType : uint8_t {
    data_from_ms = 0,
    data_to_ms = 1,
    ack_from_ms = 2,
    ack_to_ms = 3,
    error_from_ms = 4,
    error_to_ms = 5,
    smma = 6,
};

// RP causes this side sends.
namespace rp_cause {
inline constexpr uint8_t kTemporaryFailure = 41;
inline constexpr uint8_t kProtocolError = 111;
inline constexpr uint8_t kInvalidMessage = 95;
inline constexpr uint8_t kUnknownSubscriber = 30;
} // namespace rp_cause

struct RpMessage {
    RpType type = RpType::data_from_ms;
    uint8_t ref = 0;
    // RP-DATA: address values (type of address, then semi-octets), empty for none.
    Bytes originator;
    Bytes destination;
    // RP-DATA: the TPDU; RP-ACK and RP-ERROR: an optional report TPDU.
    Bytes user_data;
    // RP-ERROR.
    uint8_t cause = 0;
};

Bytes encode_rp(const RpMessage &m);
// Nullopt with `why` set for anything not well-formed to the last octet.
std::optional<RpMessage> decode_rp(std::span<const uint8_t> bytes, std::string &why);

// An RP address value for a number of digits, optionally after '+'; empty for
// anything else (the relay layer may go without one).
Bytes rp_address(std::string_view number);

// The parts of an SMS-SUBMIT the service centre needs.
struct Submit {
    uint8_t first = 0;  // first octet
    uint8_t ref = 0;    // TP-MR
    Bytes destination;  // TP-DA as it stands: digit count, type, semi-octets
    std::string number; // TP-DA as text, '+' for an international one
    uint8_t pid = 0;
    uint8_t dcs = 0;
    Bytes user_data; // TP-UDL and TP-UD
    bool wants_report() const { return (first & 0x20) != 0; }
};
std::optional<Submit> parse_submit(std::span<const uint8_t> tpdu, std::string &why);

// The SMS-DELIVER that carries `submit` to its recipient from `originator` (a
// TPDU address field).
Bytes deliver_for(const Submit &submit, std::span<const uint8_t> originator, const SmsTime &now);
// The SMS-STATUS-REPORT telling the sender that `submit` reached its recipient.
Bytes status_report_for(const Submit &submit, const SmsTime &received, const SmsTime &delivered);

// The TPDU address field for a caller's identity: its digits when it is a
// number, otherwise an alphanumeric address of its first characters.
Bytes tp_address_for(std::string_view identity);

// "TPDU kind" of an SMS-DELIVER (0) or SMS-STATUS-REPORT (2) as the host is
// told; nullopt for any other TPDU.
std::optional<uint32_t> mt_tpdu_type(std::span<const uint8_t> tpdu);

} // namespace zol::imsd::sip

#endif
