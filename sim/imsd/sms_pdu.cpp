#include "sms_pdu.h"

#include <array>
#include <ctime>

#include "text.h"

namespace zol::imsd {

namespace {

constexpr size_t kMaxSmscLen = 11; // type octet and ten octets of digits
constexpr size_t kMaxAddressDigits = 20;
constexpr size_t kTimeStampLen = 7;
constexpr size_t kMaxSeptets = 160;
constexpr size_t kMaxOctets = 140;
constexpr uint8_t kEscape = 0x1B;

// Walks a TPDU octet by octet; every take fails once the bytes run out.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> b) : bytes_(b) {}
    bool take(size_t n, std::span<const uint8_t> *out = nullptr)
    {
        if (bytes_.size() - at_ < n) {
            return false;
        }
        if (out != nullptr) {
            *out = bytes_.subspan(at_, n);
        }
        at_ += n;
        return true;
    }
    bool octet(uint8_t &v)
    {
        std::span<const uint8_t> s;
        if (!take(1, &s)) {
            return false;
        }
        v = s[0];
        return true;
    }
    size_t left() const { return bytes_.size() - at_; }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

// TP-OA / TP-RA: digit count, type of address, then the semi-octets.
std::string take_address(Cursor &c, const char *name)
{
    uint8_t digits = 0;
    uint8_t type = 0;
    if (!c.octet(digits) || !c.octet(type)) {
        return strf("%s cut short", name);
    }
    if (digits > kMaxAddressDigits) {
        return strf("%s of %u digits (at most %zu)", name, unsigned{digits}, kMaxAddressDigits);
    }
    if ((type & 0x80) == 0) {
        return strf("%s type of address 0x%02x lacks its top bit", name, unsigned{type});
    }
    if (!c.take((digits + 1u) / 2)) {
        return strf("%s cut short", name);
    }
    return {};
}

bool is_seven_bit(uint8_t dcs)
{
    switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:
        // General coding: compressed text and the 8-bit and UCS2 alphabets count octets.
        return (dcs & 0x20) == 0 && (dcs & 0x0C) == 0;
    case 0xE:
        return false; // UCS2 with message waiting
    case 0xF:
        return (dcs & 0x04) == 0;
    default:
        return true; // message waiting groups and reserved codings use the default alphabet
    }
}

// TP-UDL and TP-UD, which must end the TPDU exactly.
std::string take_user_data(Cursor &c, uint8_t dcs)
{
    uint8_t udl = 0;
    if (!c.octet(udl)) {
        return "user data length missing";
    }
    if (udl > (is_seven_bit(dcs) ? kMaxSeptets : kMaxOctets)) {
        return strf("user data length %u too large", unsigned{udl});
    }
    const size_t octets = user_data_octets(dcs, udl);
    if (c.left() != octets) {
        return strf("user data of %zu octets, length %u needs %zu", c.left(), unsigned{udl},
                    octets);
    }
    c.take(octets);
    return {};
}

std::string check_deliver(Cursor &c)
{
    std::string why = take_address(c, "originating address");
    uint8_t pid = 0;
    uint8_t dcs = 0;
    if (why.empty() && (!c.octet(pid) || !c.octet(dcs) || !c.take(kTimeStampLen))) {
        why = "cut short before the user data";
    }
    return why.empty() ? take_user_data(c, dcs) : why;
}

std::string check_status_report(Cursor &c)
{
    uint8_t reference = 0;
    if (!c.octet(reference)) {
        return "message reference missing";
    }
    std::string why = take_address(c, "recipient address");
    uint8_t status = 0;
    if (why.empty() && (!c.take(2 * kTimeStampLen) || !c.octet(status))) {
        why = "cut short before the status";
    }
    if (!why.empty() || c.left() == 0) {
        return why;
    }
    // Optional: the parameter indicator and what it announces.
    uint8_t pi = 0;
    c.octet(pi);
    uint8_t value = 0;
    if ((pi & 0x01) != 0 && !c.octet(value)) {
        return "protocol identifier missing";
    }
    uint8_t dcs = 0;
    if ((pi & 0x02) != 0 && !c.octet(dcs)) {
        return "data coding scheme missing";
    }
    if ((pi & 0x04) != 0) {
        return take_user_data(c, dcs);
    }
    return c.left() == 0 ? std::string() : strf("%zu octets after the parameters", c.left());
}

// Default alphabet positions of the printable ASCII characters, 0xFF where the
// character needs the escape table or has no encoding.
constexpr std::array<uint8_t, 128> make_gsm_table()
{
    std::array<uint8_t, 128> t{};
    for (auto &v : t) {
        v = 0xFF;
    }
    for (unsigned ch = 0x20; ch < 0x7F; ++ch) {
        const bool same = (ch >= 0x20 && ch <= 0x23) || (ch >= 0x25 && ch <= 0x3F) ||
                          (ch >= 0x41 && ch <= 0x5A) || (ch >= 0x61 && ch <= 0x7A);
        if (same) {
            t[ch] = static_cast<uint8_t>(ch);
        }
    }
    t['\n'] = 0x0A;
    t['\r'] = 0x0D;
    t['@'] = 0x00;
    t['$'] = 0x02;
    t['_'] = 0x11;
    return t;
}

constexpr std::array<uint8_t, 128> kGsm = make_gsm_table();

uint8_t gsm_escaped(char ch)
{
    switch (ch) {
    case '^':
        return 0x14;
    case '{':
        return 0x28;
    case '}':
        return 0x29;
    case '\\':
        return 0x2F;
    case '[':
        return 0x3C;
    case '~':
        return 0x3D;
    case ']':
        return 0x3E;
    case '|':
        return 0x40;
    default:
        return 0xFF;
    }
}

uint8_t bcd(int v)
{
    // Semi-octets, least significant digit first.
    return static_cast<uint8_t>((v % 10) << 4 | (v / 10) % 10);
}

} // namespace

std::string check_sms_pdu(std::span<const uint8_t> pdu, TpduKind kind)
{
    if (pdu.empty()) {
        return "empty PDU";
    }
    const size_t smsc = pdu[0];
    if (smsc > kMaxSmscLen) {
        return strf("SMSC address of %zu octets (at most %zu; 00 for none)", smsc, kMaxSmscLen);
    }
    if (pdu.size() < 1 + smsc + 1) {
        return "no TPDU after the SMSC address";
    }
    if (smsc > 0 && (pdu[1] & 0x80) == 0) {
        return "SMSC type of address lacks its top bit";
    }
    Cursor c(pdu.subspan(1 + smsc));
    uint8_t first = 0;
    c.octet(first);
    const uint8_t mti = first & 0x03;
    if (kind == TpduKind::deliver) {
        return mti == 0 ? check_deliver(c)
                        : strf("first octet 0x%02x is not an SMS-DELIVER", unsigned{first});
    }
    return mti == 2 ? check_status_report(c)
                    : strf("first octet 0x%02x is not an SMS-STATUS-REPORT", unsigned{first});
}

std::optional<std::vector<uint8_t>> gsm7_septets(std::string_view text)
{
    std::vector<uint8_t> out;
    for (char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (u < kGsm.size() && kGsm[u] != 0xFF) {
            out.push_back(kGsm[u]);
        } else if (const uint8_t e = gsm_escaped(ch); e != 0xFF) {
            out.push_back(kEscape);
            out.push_back(e);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::vector<uint8_t> gsm7_pack(std::span<const uint8_t> septets)
{
    std::vector<uint8_t> out((septets.size() * 7 + 7) / 8, 0);
    for (size_t i = 0; i < septets.size(); ++i) {
        const size_t bit = i * 7;
        const unsigned v = septets[i] & 0x7Fu;
        out[bit / 8] |= static_cast<uint8_t>(v << (bit % 8));
        if (bit % 8 > 1) {
            out[bit / 8 + 1] |= static_cast<uint8_t>(v >> (8 - bit % 8));
        }
    }
    return out;
}

size_t user_data_octets(uint8_t dcs, uint8_t udl)
{
    return is_seven_bit(dcs) ? (udl * 7u + 7) / 8 : udl;
}

std::vector<uint8_t> encode_time_stamp(const SmsTime &time)
{
    std::vector<uint8_t> out;
    for (int v : {time.year % 100, time.month, time.day, time.hour, time.minute, time.second}) {
        out.push_back(bcd(v));
    }
    out.push_back(0x00); // UTC
    return out;
}

SmsTime utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return SmsTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                   utc.tm_hour,        utc.tm_min,     utc.tm_sec};
}

std::optional<std::vector<uint8_t>> encode_sms_address(std::string_view number, std::string &error)
{
    const bool international = !number.empty() && number[0] == '+';
    const std::string_view digits = international ? number.substr(1) : number;
    if (digits.empty() || digits.size() > kMaxAddressDigits ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        error = strf("must be 1..%zu digits, optionally after +", kMaxAddressDigits);
        return std::nullopt;
    }
    std::vector<uint8_t> out = {static_cast<uint8_t>(digits.size()),
                                static_cast<uint8_t>(international ? 0x91 : 0x81)};
    for (size_t i = 0; i < digits.size(); i += 2) {
        const unsigned lo = static_cast<unsigned>(digits[i] - '0');
        const unsigned hi =
            i + 1 < digits.size() ? static_cast<unsigned>(digits[i + 1] - '0') : 0xF;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return out;
}

std::optional<std::vector<uint8_t>> build_sms_deliver(std::string_view from, std::string_view text,
                                                      const SmsTime &time, std::string &error)
{
    const auto address = encode_sms_address(from, error);
    if (!address) {
        error = "originating number " + error;
        return std::nullopt;
    }
    const auto septets = gsm7_septets(text);
    if (!septets) {
        error = "the text has a character outside the GSM 7-bit alphabet";
        return std::nullopt;
    }
    if (septets->size() > kMaxSeptets) {
        error = strf("the text needs %zu septets (at most %zu)", septets->size(), kMaxSeptets);
        return std::nullopt;
    }
    if (time.year < 2000 || time.year > 2099) {
        error = "time stamp year outside 2000..2099";
        return std::nullopt;
    }
    std::vector<uint8_t> pdu = {
        0x00, // no SMSC address
        0x04, // SMS-DELIVER, no more messages waiting
    };
    pdu.insert(pdu.end(), address->begin(), address->end());
    pdu.push_back(0x00); // plain short message
    pdu.push_back(0x00); // default alphabet, no class
    const std::vector<uint8_t> stamp = encode_time_stamp(time);
    pdu.insert(pdu.end(), stamp.begin(), stamp.end());
    pdu.push_back(static_cast<uint8_t>(septets->size()));
    const std::vector<uint8_t> ud = gsm7_pack(*septets);
    pdu.insert(pdu.end(), ud.begin(), ud.end());
    return pdu;
}

} // namespace zol::imsd
