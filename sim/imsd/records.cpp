#include "records.h"

#include <cassert>

namespace zol::imsd {

void RecordWriter::u16(uint16_t v)
{
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
}

void RecordWriter::u32(uint32_t v)
{
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
}

void RecordWriter::text(std::string_view s, size_t width)
{
    if (width == 0) {
        return;
    }
    const size_t n = s.size() < width - 1 ? s.size() : width - 1;
    bytes_.insert(bytes_.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    zeros(width - n);
}

void write_call_entry(RecordWriter &w, const Call &call)
{
    [[maybe_unused]] const size_t start = w.size();
    w.u8(call.id);
    w.text(call.number, kMaxNumberLen + 1);
    w.u32(static_cast<uint32_t>(call.dir));
    w.u32(static_cast<uint32_t>(call.type));
    w.u32(static_cast<uint32_t>(call.state));
    w.u32(call.attr);
    w.u8(call.mpty);
    w.text(call.text, kMaxTextLen + 1);
    w.u32(call.video_dir);
    assert(w.size() - start == kCallEntryLen);
}

std::vector<uint8_t> encode_call_list(const CallTable &calls)
{
    RecordWriter w;
    // Ids are 1..255, so the count always fits its byte.
    w.u8(static_cast<uint8_t>(calls.size()));
    for (const Call &call : calls) {
        write_call_entry(w, call);
    }
    return w.take();
}

} // namespace zol::imsd
