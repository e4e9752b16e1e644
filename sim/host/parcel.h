// Android parcels as the classic rild socket carries them: little-endian
// int32 words and String16 texts (int32 length in UTF-16 units, -1 for null,
// the units, a 16-bit NUL, padding to 4 bytes). The reader never reads past
// its bytes, whatever a length or count claims; the first fault stops it.
#ifndef ZOL_HOST_PARCEL_H
#define ZOL_HOST_PARCEL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zol_host {

using OptText = std::optional<std::string>;

class ParcelReader {
public:
    explicit ParcelReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    // 0 (or nothing) once the parcel has failed; check ok() afterwards.
    int32_t i32();
    // Null texts come back as nullopt; a fault also gives nullopt and clears ok().
    OptText text();
    // A count, then that many ints or texts. A count that cannot fit in what is
    // left fails before anything is allocated.
    std::vector<int32_t> ints();
    std::vector<OptText> texts();

    bool ok() const { return problem_.empty(); }
    const std::string &problem() const { return problem_; }
    size_t remaining() const { return bytes_.size() - offset_; }
    // A parcel that fits its shape must have nothing left over.
    bool finish();

private:
    void fail(std::string why);
    int32_t count(size_t min_item_bytes, const char *what);

    std::span<const uint8_t> bytes_;
    size_t offset_ = 0;
    std::string problem_;
};

class ParcelWriter {
public:
    void i32(int32_t value);
    // Bytes that are not UTF-8 are written as U+FFFD: a text from the module
    // may hold anything.
    void text(const OptText &value);
    void ints(std::span<const int32_t> values);
    void texts(std::span<const OptText> values);

    const std::vector<uint8_t> &bytes() const { return bytes_; }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

} // namespace zol_host

#endif
