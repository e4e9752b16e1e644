// 3GPP TS 23.040 PDUs in the form the host receives them: an SMSC address
// (length octet first, 00 for none) followed by the TPDU.
#ifndef ZOL_IMSD_SMS_PDU_H
#define ZOL_IMSD_SMS_PDU_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zol::imsd {

enum class TpduKind { deliver, status_report };

// Empty when `pdu` is a well-formed SMSC address and TPDU of `kind`, whose
// lengths add up exactly; otherwise what is wrong.
std::string check_sms_pdu(std::span<const uint8_t> pdu, TpduKind kind);

// GSM 7-bit default alphabet septets of `text`, escape sequences included;
// nullopt when a character has no GSM encoding.
std::optional<std::vector<uint8_t>> gsm7_septets(std::string_view text);
// Septets packed eight into seven octets, low bits first.
std::vector<uint8_t> gsm7_pack(std::span<const uint8_t> septets);

// UTC service centre time stamp.
struct SmsTime {
    int year = 2000; // 2000..2099
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// TP-SCTS: seven semi-octet pairs, UTC.
std::vector<uint8_t> encode_time_stamp(const SmsTime &time);
SmsTime utc_now();

// An address field of a TPDU (digit count, type of address, semi-octets) for a
// number of digits, optionally after '+'; nullopt with `error` set otherwise.
std::optional<std::vector<uint8_t>> encode_sms_address(std::string_view number, std::string &error);

// Octets of user data that TP-UDL counts in septets or octets by the coding scheme.
size_t user_data_octets(uint8_t dcs, uint8_t udl);

// An SMS-DELIVER without SMSC address from `from` (digits, optionally after
// '+') carrying `text` in the default alphabet. Nullopt with `error` set when
// the number or the text cannot be carried.
std::optional<std::vector<uint8_t>> build_sms_deliver(std::string_view from, std::string_view text,
                                                      const SmsTime &time, std::string &error);

} // namespace zol::imsd

#endif
