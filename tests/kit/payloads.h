// Bytes for and from the module: the host's records, literal byte images, and
// frames and payloads from the stack stand-in's own encoders (imsd::encode_...),
// so that a layout is written once on each side of the link.
#ifndef ZOL_KIT_PAYLOADS_H
#define ZOL_KIT_PAYLOADS_H

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "call_records.h"
#include "frame.h"
#include "records.h"
#include "reg_records.h"
#include "ril.h"
#include "sms_records.h"
#include "sups_records.h"

namespace zol_kit {

namespace imsd = zol::imsd;
using Bytes = std::vector<uint8_t>;

// The bytes of a host record or array, as the host hands them over.
template <typename T>
Bytes bytes_of(const T &record)
{
    Bytes b(sizeof record);
    memcpy(b.data(), &record, sizeof record);
    return b;
}
Bytes words(std::initializer_list<int32_t> values);
// Host request records; the texts they point to must outlive the bytes, except
// the pair of an SMS (SMSC, PDU), which lives as long as the program.
Bytes dial(const char *address, int kind = 0, int call_type = 0);
Bytes forwarding(int status, int reason, int cls = 0, int toa = 129, const char *number = nullptr,
                 int secs = 0, const char *interval = nullptr);
Bytes ims_sms(const char *smsc, const char *pdu, int tech = RADIO_TECH_3GPP);
Bytes text(std::string_view s);
// An array of text pointers, as the host hands such requests over.
Bytes texts(std::initializer_list<const char *> list);
Bytes le32(uint32_t v);
Bytes cat(Bytes a, const Bytes &b);

// A literal byte image: `size` zero bytes with these bytes at these offsets.
struct At {
    size_t offset;
    Bytes bytes;
};
Bytes image(size_t size, const std::vector<At> &fields);
Bytes &put32(Bytes &b, size_t offset, uint32_t v);
Bytes &put_text(Bytes &b, size_t offset, std::string_view s);

// A frame with its big-endian header, and a frame the module sent, read back.
Bytes frame(uint16_t message, const Bytes &payload, int32_t token = 0);
struct Sent {
    uint16_t message;
    int32_t token;
    Bytes payload;
    bool operator==(const Sent &) const = default;
};
// Fails the process on bytes that are no frame: the agent has checked them.
Sent read_frame(const Bytes &frame);

// The stack's call list with these calls (their fields as given, enum or not),
// claiming `claimed` calls when that is not negative.
Bytes call_list(const std::vector<imsd::Call> &calls, int claimed = -1);
imsd::Call call(uint8_t id, const char *number, uint32_t state = 4, uint32_t type = 1);

} // namespace zol_kit

#endif // ZOL_KIT_PAYLOADS_H
