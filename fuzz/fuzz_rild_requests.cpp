// zol-rild's side of the classic rild socket: the client's byte stream cut
// into frames, each request's parcel read and planned for the module or
// answered by the baseband profile. Nothing may read past what arrived.
//
// Input: a byte with the size of the pieces the stream arrives in (0: all at
// once), then the client's bytes (frames: big-endian length, request number,
// serial, parcel); fuzz/corpus/fuzz_rild_requests holds the starting inputs.
#include <cstddef>
#include <cstdint>
#include <span>

#include "baseband_profile.h"
#include "framework_adaptation.h"
#include "rild_wire.h"

using namespace zol_host;

namespace {

// Touches every byte the module would be handed, so that ASan sees any
// record or text that was built wrong.
void walk(const RequestData &d)
{
    volatile uint8_t sink = 0;
    const auto *p = static_cast<const uint8_t *>(d.data());
    for (size_t i = 0; p != nullptr && i < d.length(); ++i) {
        sink = static_cast<uint8_t>(sink + p[i]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const size_t piece = data[0] == 0 ? size : data[0];
    std::span<const uint8_t> stream(data + 1, size - 1);
    BasebandProfile profile;
    FrameReader reader;
    const Supports everything = [](int) { return true; };
    while (!stream.empty()) {
        const size_t n = std::min(piece, stream.size());
        for (const FrameReader::Event &e : reader.feed(stream.first(n))) {
            const auto h = read_request_header(e.body);
            if (!h) {
                continue;
            }
            const Plan plan = plan_request(h->request, h->payload, everything);
            for (const ModuleStep &s : plan.steps) {
                walk(s.data);
            }
            if (plan.route == Plan::Other) {
                (void)profile.answer(h->request, h->payload);
            }
        }
        stream = stream.subspan(n);
    }
    (void)reader.unfinished();
    return 0;
}
