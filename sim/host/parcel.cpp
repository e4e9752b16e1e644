#include "parcel.h"

#include <cstring>

namespace zol_host {
namespace {

void append_utf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The next code point of a UTF-8 text, or U+FFFD for a byte that does not
// start a well-formed sequence (that byte alone is consumed).
uint32_t next_code_point(const std::string &s, size_t &i)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
    const uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    size_t len = 0;
    uint32_t cp = 0;
    uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07u, min = 0x10000;
    }
    if (len == 0 || i + len > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += len;
    return cp;
}

} // namespace

void ParcelReader::fail(std::string why)
{
    if (problem_.empty()) {
        problem_ = std::move(why) + " at byte " + std::to_string(offset_);
    }
}

int32_t ParcelReader::i32()
{
    if (!ok()) {
        return 0;
    }
    if (remaining() < 4) {
        fail("an int32 runs past the end (" + std::to_string(remaining()) + " bytes left)");
        return 0;
    }
    int32_t v;
    memcpy(&v, bytes_.data() + offset_, 4); // little-endian on every target we build for
    offset_ += 4;
    return v;
}

OptText ParcelReader::text()
{
    const int32_t units = i32();
    if (!ok()) {
        return std::nullopt;
    }
    if (units == -1) {
        return std::nullopt;
    }
    if (units < -1) {
        fail("text length " + std::to_string(units));
        return std::nullopt;
    }
    // Units, the NUL, padding: computed wide, so no length can wrap around.
    const uint64_t size = ((static_cast<uint64_t>(units) + 1) * 2 + 3) & ~uint64_t{3};
    if (size > remaining()) {
        fail("a text of " + std::to_string(units) + " units runs past the end");
        return std::nullopt;
    }
    const uint8_t *p = bytes_.data() + offset_;
    const auto unit = [&](size_t k) {
        return static_cast<uint16_t>(p[2 * k] | (p[2 * k + 1] << 8));
    };
    std::string out;
    const auto n = static_cast<size_t>(units);
    for (size_t k = 0; k < n; ++k) {
        uint32_t cp = unit(k);
        if (cp == 0) {
            // The module takes C texts: a NUL inside would cut them short.
            fail("a NUL inside a text");
            return std::nullopt;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            const uint32_t low = k + 1 < n ? unit(k + 1) : 0;
            if (low < 0xDC00 || low > 0xDFFF) {
                fail("an unpaired UTF-16 surrogate");
                return std::nullopt;
            }
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            ++k;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            fail("an unpaired UTF-16 surrogate");
            return std::nullopt;
        }
        append_utf8(out, cp);
    }
    offset_ += static_cast<size_t>(size);
    return out;
}

int32_t ParcelReader::count(size_t min_item_bytes, const char *what)
{
    const int32_t n = i32();
    if (!ok()) {
        return 0;
    }
    if (n < 0) {
        // -1 is how a null array goes; none of our requests has one.
        fail(std::string("count of ") + what + " " + std::to_string(n));
        return 0;
    }
    if (static_cast<uint64_t>(n) * min_item_bytes > remaining()) {
        fail(std::to_string(n) + " " + what + " cannot fit in " + std::to_string(remaining()) +
             " bytes");
        return 0;
    }
    return n;
}

std::vector<int32_t> ParcelReader::ints()
{
    const int32_t n = count(4, "ints");
    std::vector<int32_t> out;
    out.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n && ok(); ++i) {
        out.push_back(i32());
    }
    return ok() ? out : std::vector<int32_t>{};
}

std::vector<OptText> ParcelReader::texts()
{
    const int32_t n = count(4, "texts"); // a null text is one word
    std::vector<OptText> out;
    out.reserve(static_cast<size_t>(n));
    for (int32_t i = 0; i < n && ok(); ++i) {
        out.push_back(text());
    }
    return ok() ? out : std::vector<OptText>{};
}

bool ParcelReader::finish()
{
    if (ok() && remaining() != 0) {
        fail(std::to_string(remaining()) + " bytes left over");
    }
    return ok();
}

void ParcelWriter::i32(int32_t value)
{
    uint8_t b[4];
    memcpy(b, &value, 4);
    bytes_.insert(bytes_.end(), b, b + 4);
}

void ParcelWriter::text(const OptText &value)
{
    if (!value) {
        i32(-1);
        return;
    }
    std::vector<uint16_t> units;
    for (size_t i = 0; i < value->size();) {
        const uint32_t cp = next_code_point(*value, i);
        if (cp >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
    }
    i32(static_cast<int32_t>(units.size()));
    units.push_back(0);
    for (const uint16_t u : units) {
        bytes_.push_back(static_cast<uint8_t>(u & 0xFF));
        bytes_.push_back(static_cast<uint8_t>(u >> 8));
    }
    while (bytes_.size() % 4 != 0) {
        bytes_.push_back(0);
    }
}

void ParcelWriter::ints(std::span<const int32_t> values)
{
    i32(static_cast<int32_t>(values.size()));
    for (const int32_t v : values) {
        i32(v);
    }
}

void ParcelWriter::texts(std::span<const OptText> values)
{
    i32(static_cast<int32_t>(values.size()));
    for (const OptText &v : values) {
        text(v);
    }
}

} // namespace zol_host
