// Payload records the stack sends: packed, little-endian, unused bytes zero.
#ifndef ZOL_IMSD_RECORDS_H
#define ZOL_IMSD_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "model.h"

namespace zol::imsd {

class RecordWriter {
public:
    void u8(uint8_t v) { bytes_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    // A NUL-terminated text at the start of a zero-filled block of `width` bytes;
    // longer text is cut so that the terminator always fits.
    void text(std::string_view s, size_t width);
    void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }

    size_t size() const { return bytes_.size(); }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

inline constexpr size_t kCallEntryLen = 205;

// One call as the current call list reports it.
void write_call_entry(RecordWriter &w, const Call &call);

// Payload of eTKM_CALL_CUR_CALL_IND: a count byte, then one entry per call in table order.
std::vector<uint8_t> encode_call_list(const CallTable &calls);

} // namespace zol::imsd

#endif
