#include "sip/rp.h"

#include "text.h"

namespace zol::imsd::sip {

namespace {

constexpr size_t kMaxRpAddress = 11; // type octet and ten octets of digits
constexpr size_t kMaxTpAddressDigits = 20;
constexpr uint8_t kUserDataIei = 0x41;
constexpr size_t kAlphaMaxChars = 11; // 20 semi-octets of packed septets

// Reads octets and length-prefixed fields; every read fails once the bytes run out.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> b) : bytes_(b) {}
    bool octet(uint8_t &v)
    {
        if (at_ >= bytes_.size()) {
            return false;
        }
        v = bytes_[at_++];
        return true;
    }
    bool take(size_t n, Bytes &out)
    {
        if (bytes_.size() - at_ < n) {
            return false;
        }
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + n));
        at_ += n;
        return true;
    }
    bool skip(size_t n)
    {
        Bytes ignored;
        return take(n, ignored);
    }
    size_t left() const { return bytes_.size() - at_; }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

void put_field(Bytes &out, const Bytes &value)
{
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

// A TPDU address field; the semi-octets it announces must all be there.
bool read_tp_address(Reader &r, Bytes &field)
{
    uint8_t digits = 0;
    uint8_t type = 0;
    Bytes rest;
    if (!r.octet(digits) || !r.octet(type) || digits > kMaxTpAddressDigits ||
        !r.take((digits + 1u) / 2, rest)) {
        return false;
    }
    field = {digits, type};
    field.insert(field.end(), rest.begin(), rest.end());
    return true;
}

// The digits of a numeric address field, '+' first for an international one;
// empty for an alphanumeric one.
std::string address_digits(const Bytes &field)
{
    const uint8_t type = field[1];
    if ((type & 0x70) == 0x50) {
        return {};
    }
    std::string out = (type & 0x70) == 0x10 ? "+" : "";
    for (size_t i = 0; i < field[0]; ++i) {
        const unsigned d = (field[2 + i / 2] >> (i % 2 == 0 ? 0 : 4)) & 0x0F;
        if (d > 9) {
            return {};
        }
        out.push_back(static_cast<char>('0' + d));
    }
    return out;
}

} // namespace

Bytes encode_rp(const RpMessage &m)
{
    Bytes out = {static_cast<uint8_t>(m.type), m.ref};
    switch (m.type) {
    case RpType::data_from_ms:
    case RpType::data_to_ms:
        put_field(out, m.originator);
        put_field(out, m.destination);
        put_field(out, m.user_data);
        break;
    case RpType::error_from_ms:
    case RpType::error_to_ms:
        out.push_back(1);
        out.push_back(m.cause & 0x7F);
        [[fallthrough]];
    case RpType::ack_from_ms:
    case RpType::ack_to_ms:
        if (!m.user_data.empty()) {
            out.push_back(kUserDataIei);
            put_field(out, m.user_data);
        }
        break;
    case RpType::smma:
        break;
    }
    return out;
}

std::optional<RpMessage> decode_rp(std::span<const uint8_t> bytes, std::string &why)
{
    Reader r(bytes);
    RpMessage m;
    uint8_t mti = 0;
    if (!r.octet(mti) || !r.octet(m.ref)) {
        why = "shorter than a message type and reference";
        return std::nullopt;
    }
    if ((mti & 0x07) > static_cast<uint8_t>(RpType::smma)) {
        why = strf("message type %u unknown", mti & 0x07u);
        return std::nullopt;
    }
    m.type = static_cast<RpType>(mti & 0x07);
    uint8_t len = 0;
    switch (m.type) {
    case RpType::data_from_ms:
    case RpType::data_to_ms:
        for (Bytes *address : {&m.originator, &m.destination}) {
            if (!r.octet(len) || len > kMaxRpAddress || !r.take(len, *address)) {
                why = "an address is cut short or too long";
                return std::nullopt;
            }
        }
        if (!r.octet(len) || len == 0 || !r.take(len, m.user_data)) {
            why = "user data missing or cut short";
            return std::nullopt;
        }
        break;
    case RpType::error_from_ms:
    case RpType::error_to_ms:
        // The cause, with an optional diagnostic octet.
        if (!r.octet(len) || len < 1 || len > 2 || !r.octet(m.cause) || !r.skip(len - 1u)) {
            why = "cause missing or malformed";
            return std::nullopt;
        }
        m.cause &= 0x7F;
        [[fallthrough]];
    case RpType::ack_from_ms:
    case RpType::ack_to_ms:
        if (r.left() > 0) {
            uint8_t iei = 0;
            if (!r.octet(iei) || iei != kUserDataIei || !r.octet(len) ||
                !r.take(len, m.user_data)) {
                why = "trailing octets are no user data";
                return std::nullopt;
            }
        }
        break;
    case RpType::smma:
        break;
    }
    if (r.left() != 0) {
        why = strf("%zu octets after the message", r.left());
        return std::nullopt;
    }
    return m;
}

Bytes rp_address(std::string_view number)
{
    std::string error;
    const auto field = encode_sms_address(number, error);
    // The relay layer counts octets, where a TPDU address counts digits.
    if (!field || field->size() - 1 > kMaxRpAddress) {
        return {};
    }
    return Bytes(field->begin() + 1, field->end());
}

std::optional<Submit> parse_submit(std::span<const uint8_t> tpdu, std::string &why)
{
    Reader r(tpdu);
    Submit s;
    uint8_t udl = 0;
    if (!r.octet(s.first) || (s.first & 0x03) != 0x01) {
        why = "not an SMS-SUBMIT";
        return std::nullopt;
    }
    if (!r.octet(s.ref) || !read_tp_address(r, s.destination) || !r.octet(s.pid) ||
        !r.octet(s.dcs)) {
        why = "SMS-SUBMIT cut short before its validity period";
        return std::nullopt;
    }
    // Validity period: none, relative (one octet), or absolute/enhanced (seven).
    const uint8_t vpf = (s.first >> 3) & 0x03;
    if (!r.skip(vpf == 0 ? 0 : vpf == 2 ? 1 : 7) || !r.octet(udl)) {
        why = "SMS-SUBMIT cut short before its user data";
        return std::nullopt;
    }
    Bytes ud;
    if (r.left() != user_data_octets(s.dcs, udl) || !r.take(r.left(), ud)) {
        why = strf("user data of %zu octets does not match its length %u", r.left(), unsigned{udl});
        return std::nullopt;
    }
    s.user_data = {udl};
    s.user_data.insert(s.user_data.end(), ud.begin(), ud.end());
    s.number = address_digits(s.destination);
    if (s.number.empty() || s.number == "+") {
        why = "the destination is not a number";
        return std::nullopt;
    }
    return s;
}

Bytes deliver_for(const Submit &submit, std::span<const uint8_t> originator, const SmsTime &now)
{
    // No more messages waiting; the header and reply path flags carry over, and
    // the recipient learns that a status report goes back to the sender.
    uint8_t first = 0x04 | (submit.first & 0xC0);
    if (submit.wants_report()) {
        first |= 0x20;
    }
    Bytes out;
    out.reserve(1 + originator.size() + 2 + 7 + submit.user_data.size());
    out.push_back(first);
    out.insert(out.end(), originator.begin(), originator.end());
    out.push_back(submit.pid);
    out.push_back(submit.dcs);
    const Bytes stamp = encode_time_stamp(now);
    out.insert(out.end(), stamp.begin(), stamp.end());
    out.insert(out.end(), submit.user_data.begin(), submit.user_data.end());
    return out;
}

Bytes status_report_for(const Submit &submit, const SmsTime &received, const SmsTime &delivered)
{
    // SMS-STATUS-REPORT for an SMS-SUBMIT, no more messages waiting.
    Bytes out;
    out.reserve(2 + submit.destination.size() + 2 * 7 + 1);
    out.push_back(0x06);
    out.push_back(submit.ref);
    out.insert(out.end(), submit.destination.begin(), submit.destination.end());
    for (const SmsTime &t : {received, delivered}) {
        const Bytes stamp = encode_time_stamp(t);
        out.insert(out.end(), stamp.begin(), stamp.end());
    }
    out.push_back(0x00); // received by the recipient
    return out;
}

Bytes tp_address_for(std::string_view identity)
{
    std::string error;
    if (auto numeric = encode_sms_address(identity, error)) {
        return std::move(*numeric);
    }
    std::vector<uint8_t> septets;
    for (char ch : identity.substr(0, kAlphaMaxChars)) {
        const auto one = gsm7_septets(std::string_view(&ch, 1));
        septets.push_back(one && one->size() == 1 ? one->front() : '?');
    }
    const Bytes packed = gsm7_pack(septets);
    Bytes out = {static_cast<uint8_t>((septets.size() * 7 + 3) / 4), 0xD0};
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

std::optional<uint32_t> mt_tpdu_type(std::span<const uint8_t> tpdu)
{
    if (tpdu.empty()) {
        return std::nullopt;
    }
    switch (tpdu[0] & 0x03) {
    case 0:
        return 0;
    case 2:
        return 2;
    default:
        return std::nullopt;
    }
}

} // namespace zol::imsd::sip
