// Bounds-checked access to stack payloads and zero-filled builders for the
// messages the module sends. Payloads are packed little-endian records; a
// payload from the stack is never trusted to be as long as its fields claim.
#ifndef ZOL_PAYLOAD_H
#define ZOL_PAYLOAD_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zol {

class PayloadView {
public:
    PayloadView(const void *data, uint32_t datalen)
        : bytes_(data != nullptr ? static_cast<const uint8_t *>(data) : nullptr,
                 data != nullptr ? datalen : 0)
    {
    }

    size_t size() const { return bytes_.size(); }
    bool has(size_t offset, size_t width) const
    {
        return offset <= bytes_.size() && width <= bytes_.size() - offset;
    }

    // Each reader answers false, leaving out untouched, when the field lies
    // (partly) beyond the payload.
    bool u8(size_t offset, uint8_t &out) const
    {
        if (!has(offset, 1)) {
            return false;
        }
        out = bytes_[offset];
        return true;
    }

    bool u32(size_t offset, uint32_t &out) const
    {
        if (!has(offset, 4)) {
            return false;
        }
        out = static_cast<uint32_t>(bytes_[offset]) |
              static_cast<uint32_t>(bytes_[offset + 1]) << 8 |
              static_cast<uint32_t>(bytes_[offset + 2]) << 16 |
              static_cast<uint32_t>(bytes_[offset + 3]) << 24;
        return true;
    }

    std::span<const uint8_t> bytes(size_t offset, size_t width) const
    {
        return has(offset, width) ? bytes_.subspan(offset, width) : std::span<const uint8_t>();
    }

private:
    std::span<const uint8_t> bytes_;
};

// A text field of a payload the module owns: the field's bytes as a C string,
// cut at the field's last byte when the sender left no terminator, so no
// reader of the text can run past the field.
inline char *terminated_text(uint8_t *field, size_t width)
{
    if (width == 0) {
        return nullptr;
    }
    if (memchr(field, 0, width) == nullptr) {
        field[width - 1] = 0;
    }
    return reinterpret_cast<char *>(field);
}

// Host request data is read in the host's own byte order, and never beyond
// the length the host gave, whatever record the request is meant to carry.

// Word i of a host array of 32-bit integers; false when the data does not hold it.
inline bool host_word(const void *data, uint32_t datalen, size_t i, int32_t &out)
{
    if (data == nullptr || datalen / sizeof(int32_t) <= i) {
        return false;
    }
    memcpy(&out, static_cast<const int32_t *>(data) + i, sizeof out);
    return true;
}

// Text i of a host array of text pointers; null when the array is shorter
// than i + 1 pointers or the text itself is null.
inline const char *host_text(const void *data, uint32_t datalen, size_t i)
{
    if (data == nullptr || datalen / sizeof(char *) <= i) {
        return nullptr;
    }
    const char *text;
    memcpy(&text, static_cast<const char *const *>(data) + i, sizeof text);
    return text;
}

// A message payload of a fixed size, zero-filled, written field by field.
template <size_t N>
class PayloadBuilder {
public:
    static constexpr size_t kSize = N;

    void u8(size_t offset, uint8_t v) { bytes_.at(offset) = v; }
    void u32(size_t offset, uint32_t v)
    {
        for (size_t i = 0; i < 4; ++i) {
            bytes_.at(offset + i) = static_cast<uint8_t>(v >> (8 * i));
        }
    }
    // Copies at most width bytes; the rest of the field stays zero.
    void put(size_t offset, size_t width, const void *src, size_t len)
    {
        const size_t n = len < width ? len : width;
        if (n != 0 && offset <= N && n <= N - offset) {
            memcpy(bytes_.data() + offset, src, n);
        }
    }

    uint8_t *data() { return bytes_.data(); }
    const uint8_t *data() const { return bytes_.data(); }
    static constexpr uint32_t size() { return static_cast<uint32_t>(N); }

private:
    std::array<uint8_t, N> bytes_{};
};

} // namespace zol

#endif // ZOL_PAYLOAD_H
