// One family of stack messages, chosen when the target is built
// (ZOL_FUZZ_FAMILY names a list below), handed to its handlers with any
// payload bytes and any length, with up to three requests waiting for an
// answer. The host checks that every waiting request is answered at most
// once, oldest first, one per message, and for the messages that set state
// the host can ask for, that it is told what the stack said.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_host.h"

#ifndef ZOL_FUZZ_FAMILY
#error "ZOL_FUZZ_FAMILY must name a family of stack messages"
#endif

namespace families {
inline constexpr int32_t call_list[] = {0x17545};
inline constexpr int32_t invitation[] = {0x17532};
// End, connected, conference and SRVCC first, then every other progress indication.
inline constexpr int32_t progress[] = {0x17535, 0x17534, 0x17543, 0x17544, 0x17533,
                                       0x17536, 0x17537, 0x17538, 0x17539, 0x1753A,
                                       0x1753B, 0x1753C, 0x1753F, 0x17542, 0x17547};
inline constexpr int32_t modify[] = {0x1753E, 0x1753D};
inline constexpr int32_t dtmf[] = {0x17540, 0x17541};
inline constexpr int32_t config[] = {0x17548};
inline constexpr int32_t run_status[] = {0x17546};
inline constexpr int32_t sms[] = {0x17596, 0x17597};
inline constexpr int32_t ss[] = {0x17567, 0x17564, 0x17565, 0x17566, 0x17568};
} // namespace families

namespace {

constexpr auto &kEvents = families::ZOL_FUZZ_FAMILY;
constexpr size_t kMaxWaiters = 3; // two bits of the input
constexpr int32_t kEndInd = 0x17535;
constexpr int32_t kRunStatusInd = 0x17546;

uint32_t le32(const uint8_t *p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Asks what a host request answers from the module's own state: its first word.
int32_t ask(int32_t request)
{
    static zol_fuzz::Token probe;
    probe = zol_fuzz::new_token(77, request, true);
    zol_dispatch_table_entry_type *row = nullptr;
    if (zol_hash_table_lookup(request, &row) != 0) {
        zol_fuzz::fault("no handler for a host request");
    }
    zol_request_params_type params = {request, nullptr, 0, &probe};
    zol_invoke_handler(row, &params);
    if (probe.completions != 1 || probe.error != RIL_E_SUCCESS || probe.len < sizeof(int32_t)) {
        zol_fuzz::fault("request answered from the module's state not answered with a word");
    }
    int32_t word;
    memcpy(&word, probe.head, sizeof word);
    return word;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zol_fuzz::bring_up_module();
    size_t pos = 0;
    auto u8 = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

    // Byte 0: the message of the family. Byte 1: bits 0-1 the number of
    // waiting requests, bit 2 hands the handler a null payload (with the
    // length), bit 3 delivers the message twice, bit 4 makes every send fail.
    // Then one byte per waiting request: the request among those that wait
    // for the message, bit 7 making it wait for another message. The rest
    // is the payload.
    const int32_t event_id = kEvents[u8() % std::size(kEvents)];
    const uint8_t flags = u8();
    const size_t waiter_count = flags & 3;
    const bool null_payload = (flags & 4) != 0;
    const int deliveries = (flags & 8) != 0 ? 2 : 1;
    zol_fuzz::agent_set_send_result((flags & 0x10) != 0 ? -1 : 0);

    zol_reqlist_init();
    const std::vector<int32_t> candidates = zol_fuzz::waiters_of(event_id);
    static zol_fuzz::Token tokens[kMaxWaiters];
    bool waits_here[kMaxWaiters] = {};
    size_t added = 0;
    uint8_t choices[kMaxWaiters] = {};
    for (size_t i = 0; i < waiter_count; ++i) {
        choices[i] = u8();
    }
    const uint8_t *payload_bytes = data + pos;
    const size_t len = size - pos;
    for (size_t i = 0; i < waiter_count && !candidates.empty(); ++i) {
        const int32_t request = candidates[(choices[i] & 0x7F) % candidates.size()];
        waits_here[added] = (choices[i] & 0x80) == 0;
        tokens[added] = zol_fuzz::new_token(static_cast<int32_t>(200 + added), request);
        tokens[added].plain =
            null_payload || !zol_fuzz::host_can_read(request, event_id, payload_bytes, len);
        zol_fuzz::add_waiting(tokens[added], request,
                              waits_here[added] ? static_cast<uint32_t>(event_id) : ZOL_EVENT_NONE);
        ++added;
    }

    const int32_t cause_before = event_id == kEndInd ? ask(RIL_REQUEST_LAST_CALL_FAIL_CAUSE) : 0;
    for (int i = 0; i < deliveries; ++i) {
        // The handler gets a copy of exactly the payload's length, as from the queue.
        uint8_t *payload = nullptr;
        if (!null_payload) {
            payload = static_cast<uint8_t *>(malloc(len != 0 ? len : 1));
            if (len != 0) {
                memcpy(payload, payload_bytes, len);
            }
        }
        zol_process_event(event_id, payload, static_cast<uint32_t>(len), ZOL_EVENT_TOKEN);
        free(payload);
    }

    // Each message answers the oldest request waiting for it, and only that one.
    size_t answered_here = 0;
    for (size_t i = 0; i < added; ++i) {
        zol_fuzz::check_answered_once(tokens[i]);
        if (!waits_here[i]) {
            if (tokens[i].completions != 0) {
                zol_fuzz::fault("request waiting for another message answered");
            }
            continue;
        }
        const bool expected = answered_here < static_cast<size_t>(deliveries);
        if ((tokens[i].completions == 1) != expected) {
            zol_fuzz::fault("waiting requests not answered oldest first, one per message");
        }
        answered_here += expected ? 1 : 0;
    }

    // The state the stack reported is what the host hears next.
    const bool readable = !null_payload;
    if (event_id == kEndInd) {
        const int32_t cause = ask(RIL_REQUEST_LAST_CALL_FAIL_CAUSE);
        const int32_t expected =
            readable && len >= 5 ? static_cast<int32_t>(le32(payload_bytes + 1)) : cause_before;
        if (cause != expected) {
            zol_fuzz::fault("last call fail cause is not the one the stack reported");
        }
    } else if (event_id == kRunStatusInd && readable && len >= 4) {
        const auto reported = static_cast<int32_t>(le32(payload_bytes));
        // The stack's -1 is the module's "not known yet", which the host hears as 0.
        if (ask(RIL_REQUEST_IMS_REGISTRATION_STATE) != (reported == -1 ? 0 : reported)) {
            zol_fuzz::fault("registration state is not the run status the stack reported");
        }
    }
    return 0;
}
