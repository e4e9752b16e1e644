// Every stack message the dispatch table serves, handed to its handler with
// any payload bytes and any length, with up to three requests waiting for an
// answer. Every waiting request is answered at most once, oldest first, one
// per message.
#include <algorithm>

#include "harness.h"

constexpr size_t kMaxWaiters = 3; // two bits of the input

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zol_fuzz::bring_up_module();
    size_t pos = 0;
    auto u8 = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

    // Byte 0: the message, an index into the table's events. Byte 1: bits 0-1
    // the number of waiting requests, bit 2 hands the handler a null payload
    // (with the length), bit 3 delivers the message twice, bit 4 fails sends.
    // Then one byte per waiting request: the request among those that wait
    // for the message, bit 7 making it wait for another message. The rest
    // is the payload.
    static const std::vector<int32_t> events = [] { // the dispatch table's, in its order
        std::vector<int32_t> v;
        for (const auto &row : zol_dispatch_table) {
            if (row.mask == ZOL_MASK_EVENT) {
                v.push_back(row.event_id);
            }
        }
        return v;
    }();
    const int32_t event_id = events[u8() % events.size()];
    const uint8_t flags = u8();
    const size_t waiter_count = flags & 3;
    const bool null_payload = (flags & 4) != 0;
    const int deliveries = (flags & 8) != 0 ? 2 : 1;
    zol_kit::agent::set_result((flags & 0x10) != 0 ? -1 : 0);
    const uint8_t choices[kMaxWaiters] = {u8(), u8(), u8()};
    pos = std::min(pos, 2 + waiter_count);
    const uint8_t *bytes = data + pos;
    const size_t len = size - pos;

    zol_reqlist_init();
    const std::vector<int32_t> candidates = zol_fuzz::waiters_of(event_id);
    static zol_fuzz::Token tokens[kMaxWaiters];
    bool waits_here[kMaxWaiters] = {};
    const size_t added = candidates.empty() ? 0 : waiter_count;
    for (size_t i = 0; i < added; ++i) {
        const int32_t request = candidates[(choices[i] & 0x7F) % candidates.size()];
        waits_here[i] = (choices[i] & 0x80) == 0;
        tokens[i] = zol_fuzz::Token{static_cast<int32_t>(200 + i), request,
                                    null_payload ||
                                        !zol_fuzz::host_can_read(request, event_id, bytes, len)};
        zol_fuzz::add_waiting(tokens[i],
                              waits_here[i] ? static_cast<uint32_t>(event_id) : ZOL_EVENT_NONE);
    }

    for (int i = 0; i < deliveries; ++i) {
        // The handler gets a copy of exactly the payload's length, as from the queue.
        uint8_t *payload =
            null_payload ? nullptr : static_cast<uint8_t *>(malloc(std::max<size_t>(len, 1)));
        std::copy(bytes, bytes + (payload != nullptr ? len : 0), payload);
        zol_process_event(event_id, payload, static_cast<uint32_t>(len), ZOL_EVENT_TOKEN);
        free(payload);
    }

    // Each message answers the oldest request waiting for it, and only that one.
    int answered_here = 0;
    for (size_t i = 0; i < added; ++i) {
        zol_fuzz::check_answered_once(tokens[i]);
        const bool expected = waits_here[i] && answered_here < deliveries;
        if ((tokens[i].completions == 1) != expected) {
            zol_fuzz::fault(waits_here[i]
                                ? "waiting requests not answered oldest first, one per message"
                                : "request waiting for another message answered");
        }
        answered_here += expected ? 1 : 0;
    }
    return 0;
}
