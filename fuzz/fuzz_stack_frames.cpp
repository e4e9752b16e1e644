// Frames from the IMS stack, as the event thread handles them once the read
// callback has queued them: the input chooses the message (one the dispatch
// table knows, or any other id), the request waiting for an answer, whether
// the agent's sends succeed, and the payload, in a block of exactly its length.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zol_fuzz::bring_up_module();
    static const std::vector<int32_t> events = [] {
        std::vector<int32_t> out;
        for (const auto &row : zol_dispatch_table) {
            if (row.mask == ZOL_MASK_EVENT) {
                out.push_back(row.event_id);
            }
        }
        return out;
    }();
    // Byte 0: a known message, or (past the table) a message id in the next
    // two bytes. Then which of the requests that wait for it waits (none past
    // the list), then flags: bit 0 fails every send, bit 1 makes the request
    // wait for another message. The rest is the payload.
    size_t pos = 1;
    if (size < 3 || (data[0] >= events.size() && size < 5)) {
        return 0;
    }
    const int32_t event_id = data[0] < events.size() ? events[data[0]] : ZOL_STACK_EVENT_BASE + (data[1] << 8 | data[2]);
    pos += data[0] < events.size() ? 0 : 2;
    const uint8_t waiting = data[pos++];
    const uint8_t flags = data[pos++];

    zol_reqlist_init();
    zol_kit::agent::set_result((flags & 1) != 0 ? -1 : 0);
    static zol_fuzz::Token token;
    token = zol_fuzz::Token{4242};
    const std::vector<int32_t> waiters = zol_fuzz::waiters_of(event_id);
    const bool waits = waiting < waiters.size();
    if (waits) {
        token.request = waiters[waiting];
        token.plain = !zol_fuzz::host_can_read(token.request, event_id, data + pos, size - pos);
        zol_fuzz::add_waiting(token, (flags & 2) != 0 ? ZOL_EVENT_NONE : static_cast<uint32_t>(event_id));
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
