#include "payloads.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>

namespace zol_kit {

Bytes words(std::initializer_list<int32_t> values)
{
    Bytes b(values.size() * sizeof(int32_t));
    memcpy(b.data(), values.begin(), b.size());
    return b;
}

Bytes dial(const char *address, int kind, int call_type)
{
    return bytes_of(RIL_Dial{const_cast<char *>(address), kind, nullptr, call_type});
}

Bytes forwarding(int status, int reason, int cls, int toa, const char *number, int secs,
                 const char *interval)
{
    return bytes_of(RIL_CallForwardInfo{status, reason, cls, toa, const_cast<char *>(number), secs,
                                        const_cast<char *>(interval)});
}

Bytes ims_sms(const char *smsc, const char *pdu, int tech)
{
    static std::deque<std::array<const char *, 2>> pairs;
    RIL_IMS_SMS_Message m{static_cast<RIL_RadioTechnologyFamily>(tech), 0, 77, {}};
    m.message.gsmMessage = const_cast<char **>(pairs.emplace_back(std::array{smsc, pdu}).data());
    return bytes_of(m);
}

Bytes text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

Bytes texts(std::initializer_list<const char *> list)
{
    Bytes b(list.size() * sizeof(char *));
    memcpy(b.data(), list.begin(), b.size());
    return b;
}

Bytes le32(uint32_t v)
{
    Bytes b(4);
    return put32(b, 0, v);
}

Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes image(size_t size, const std::vector<At> &fields)
{
    Bytes b(size, 0);
    for (const At &f : fields) {
        std::copy(f.bytes.begin(), f.bytes.end(),
                  b.begin() + static_cast<std::ptrdiff_t>(f.offset));
    }
    return b;
}

Bytes &put32(Bytes &b, size_t offset, uint32_t v)
{
    for (size_t i = 0; i < 4; ++i) {
        b.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
    }
    return b;
}

Bytes &put_text(Bytes &b, size_t offset, std::string_view s)
{
    std::copy(s.begin(), s.end(), b.begin() + static_cast<std::ptrdiff_t>(offset));
    return b;
}

Bytes frame(uint16_t message, const Bytes &payload, int32_t token)
{
    return imsd::encode_frame(imsd::Frame{token, message, payload});
}

Sent read_frame(const Bytes &bytes)
{
    imsd::Frame f;
    std::string error;
    if (!imsd::decode_frame(bytes, f, error)) {
        fprintf(stderr, "kit: the module sent no frame: %s\n", error.c_str());
        abort();
    }
    return {f.message, f.token, std::move(f.payload)};
}

Bytes call_list(const std::vector<imsd::Call> &calls, int claimed)
{
    imsd::RecordWriter w;
    w.u8(static_cast<uint8_t>(claimed >= 0 ? claimed : static_cast<int>(calls.size())));
    for (const imsd::Call &c : calls) {
        imsd::write_call_entry(w, c);
    }
    return w.take();
}

imsd::Call call(uint8_t id, const char *number, uint32_t state, uint32_t type)
{
    imsd::Call c;
    c.id = id;
    c.number = number;
    c.state = static_cast<imsd::CallState>(state);
    c.type = static_cast<imsd::CallType>(type);
    return c;
}

} // namespace zol_kit
