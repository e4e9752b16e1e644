// Frames from the IMS stack, as the event thread handles them once the read
// callback has queued them: the input chooses the message (one the dispatch
// table knows, or any other id), the request waiting for an answer, whether
// the agent's sends succeed, and the payload, handed over in a block of
// exactly its length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_host.h"

namespace {

std::vector<int32_t> known_events()
{
    std::vector<int32_t> out;
    for (const auto &row : zol_dispatch_table) {
        if (row.mask == ZOL_MASK_EVENT) {
            out.push_back(row.event_id);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zol_fuzz::bring_up_module();
    static const std::vector<int32_t> events = known_events();
    if (size < 3) {
        return 0;
    }
    // Byte 0: a known message, or (past the table) a message id in the next two bytes.
    size_t pos = 0;
    int32_t event_id;
    const uint8_t choice = data[pos++];
    if (choice < events.size()) {
        event_id = events[choice];
    } else {
        if (size < pos + 2) {
            return 0;
        }
        event_id = ZOL_STACK_EVENT_BASE + (data[pos] << 8 | data[pos + 1]);
        pos += 2;
    }
    if (size < pos + 2) {
        return 0;
    }
    // Next: which of the requests that wait for this message waits (none past
    // the list), then flags: bit 0 makes every send fail, bit 1 makes the
    // request wait for another message.
    const uint8_t waiting = data[pos++];
    const uint8_t flags = data[pos++];

    zol_reqlist_init();
    zol_fuzz::agent_set_send_result((flags & 1) != 0 ? -1 : 0);
    static zol_fuzz::Token token = zol_fuzz::new_token(4242, 0);
    token.completions = 0;
    const std::vector<int32_t> waiters = zol_fuzz::waiters_of(event_id);
    const bool waits = waiting < waiters.size();
    if (waits) {
        token.request = waiters[waiting];
        token.plain = !zol_fuzz::host_can_read(token.request, event_id, data + pos, size - pos);
        const uint32_t pending = (flags & 2) != 0 ? ZOL_EVENT_NONE : static_cast<uint32_t>(event_id);
        zol_fuzz::add_waiting(token, token.request, pending);
    }

    // The event queue hands the handler its own copy of the payload.
    const size_t len = size - pos;
    auto *payload = static_cast<uint8_t *>(malloc(len));
    if (len != 0) {
        memcpy(payload, data + pos, len);
    }
    zol_process_event(event_id, payload, static_cast<uint32_t>(len), ZOL_EVENT_TOKEN);
    free(payload);
    if (waits) {
        zol_fuzz::check_answered_once(token);
    }
    return 0;
}
