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

// The requests that wait for each answering message, as their handlers
// remember them; the host reads a completion by its request's number.
struct Waiter {
    int32_t event_id;
    std::vector<int32_t> requests;
};

const std::vector<int32_t> &waiters_of(int32_t event_id)
{
    static const std::vector<Waiter> kWaiters = {
        {0x17534, {RIL_REQUEST_ANSWER}},
        {0x17535, {RIL_REQUEST_HANGUP, RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND,
                   RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND}},
        {0x17540, {RIL_REQUEST_DTMF_START}},
        {0x17541, {RIL_REQUEST_DTMF_STOP}},
        {0x17545, {RIL_REQUEST_GET_CURRENT_CALLS, RIL_REQUEST_CONFERENCE}},
        {0x17548, {RIL_REQUEST_IMS_GET_CONFIGRATION}},
        {0x17597, {RIL_REQUEST_IMS_SEND_SMS}},
        {0x17567, {RIL_REQUEST_GET_CLIR, RIL_REQUEST_QUERY_CALL_FORWARD_STATUS,
                   RIL_REQUEST_QUERY_CALL_WAITING, RIL_REQUEST_QUERY_FACILITY_LOCK,
                   RIL_REQUEST_QUERY_CLIP, RIL_REQUEST_QUERY_COLR, RIL_REQUEST_QUERY_COLP}},
    };
    static const std::vector<int32_t> kSetters = {
        RIL_REQUEST_SET_CLIR, RIL_REQUEST_SET_CALL_FORWARD, RIL_REQUEST_SET_CALL_WAITING,
        RIL_REQUEST_SET_FACILITY_LOCK, RIL_REQUEST_SET_COLP};
    static const std::vector<int32_t> kNone;
    for (const Waiter &w : kWaiters) {
        if (w.event_id == event_id) {
            return w.requests;
        }
    }
    // Activation, deactivation, erasure and registration confirmations.
    if (event_id >= 0x17564 && event_id <= 0x17568) {
        return kSetters;
    }
    return kNone;
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
    static zol_fuzz::Token token{4242, 0, false};
    const std::vector<int32_t> &waiters = waiters_of(event_id);
    if (waiting < waiters.size()) {
        token.request = waiters[waiting];
        token.plain = false;
        // An interrogation answered with status words instead of a forwarding
        // list reaches the forwarding query as words: the stack broke the
        // pairing, and the host (rild) would not be able to tell. Read bytes only.
        const size_t info_type_at = pos + 5;
        if (token.request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS &&
            !(size >= info_type_at + 4 && data[info_type_at] == 3 && data[info_type_at + 1] == 0 &&
              data[info_type_at + 2] == 0 && data[info_type_at + 3] == 0)) {
            token.plain = true;
        }
        zol_reqlist_entry_type entry;
        const uint32_t pending = (flags & 2) != 0 ? ZOL_EVENT_NONE : static_cast<uint32_t>(event_id);
        zol_reqlist_default_entry(&token, token.request, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, pending,
                                  nullptr, &entry);
        if (zol_reqlist_new(&entry) != 0) {
            abort();
        }
    }

    // The event queue hands the handler its own copy of the payload.
    const size_t len = size - pos;
    auto *payload = static_cast<uint8_t *>(malloc(len));
    if (len != 0) {
        memcpy(payload, data + pos, len);
    }
    zol_process_event(event_id, payload, static_cast<uint32_t>(len), ZOL_EVENT_TOKEN);
    free(payload);
    return 0;
}
