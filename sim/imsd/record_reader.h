// Reads fields of a received payload at fixed offsets, little-endian. Reads past
// the end give zero, so decoders check the total length once up front.
#ifndef ZOL_IMSD_RECORD_READER_H
#define ZOL_IMSD_RECORD_READER_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zol::imsd {

class RecordReader {
public:
    explicit RecordReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint8_t u8(size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
    uint32_t u32(size_t at) const
    {
        return uint32_t{u8(at)} | uint32_t{u8(at + 1)} << 8 | uint32_t{u8(at + 2)} << 16 |
               uint32_t{u8(at + 3)} << 24;
    }
    // At most `n` bytes from `at`, up to the first NUL.
    std::string chars(size_t at, size_t n) const
    {
        std::string s;
        for (size_t i = 0; i < n && u8(at + i) != 0; ++i) {
            s.push_back(static_cast<char>(u8(at + i)));
        }
        return s;
    }

private:
    std::span<const uint8_t> bytes_;
};

} // namespace zol::imsd

#endif
