// What the IPC agent hands the read callback, of any count and any content:
// frames with any header and any length field, records without bytes, with a
// negative count, or no record at all. The module's own event thread then
// handles whatever the callback queued, with up to three requests waiting
// for answers. The input waits for the thread to finish: a frame with an id
// no handler has goes last, and the thread's log line for it ends the input,
// so every input is handled alone and in order.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "fuzz_host.h"
#include "ipc_agent.h"

namespace {

constexpr uint16_t kMarkerId = 0x7FFF;
constexpr int32_t kMarkerEvent = ZOL_STACK_EVENT_BASE + kMarkerId;
constexpr size_t kHeader = 11;
constexpr size_t kMaxWaiters = 3; // two bits of the input
constexpr size_t kMaxFrames = 64;

std::mutex g_mutex;
std::condition_variable g_done;
bool g_marker_seen = false;
char g_marker_line[96];

void observe(const char *line)
{
    if (strcmp(line, g_marker_line) == 0) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_marker_seen = true;
        g_done.notify_all();
    }
}

void bring_up()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    snprintf(g_marker_line, sizeof g_marker_line, "De-queued event %s (%d)\n",
             zol_log_lookup_event_name(kMarkerEvent), kMarkerEvent);
    zol_fuzz::set_log_observer(observe);
    // The whole start-up, event thread included.
    if (RIL_Init(zol_fuzz::host_env()) == nullptr) {
        zol_fuzz::fault("no radio functions");
    }
}

uint32_t be32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// One call of the read callback.
struct Delivery {
    enum Kind : uint8_t { bytes, no_data, negative_count, no_record } kind;
    std::vector<uint8_t> frame;
};

// Whether the callback must take the frame: complete header, and a length
// field that does not claim more than arrived.
bool acceptable(const Delivery &d)
{
    return d.kind == Delivery::bytes && d.frame.size() >= kHeader &&
           be32(d.frame.data() + 7) <= d.frame.size() - kHeader;
}

int deliver(const Delivery &d)
{
    if (d.kind == Delivery::no_record) {
        return zol_ipc_read_event_cb(nullptr);
    }
    ipc_agent_recv_type record{};
    // A block of exactly the bytes received, so a read past them is caught.
    uint8_t *copy = nullptr;
    if (d.kind != Delivery::no_data) {
        copy = static_cast<uint8_t *>(malloc(d.frame.empty() ? 1 : d.frame.size()));
        if (!d.frame.empty()) {
            memcpy(copy, d.frame.data(), d.frame.size());
        }
        record.data = copy;
    }
    record.count = static_cast<int32_t>(d.frame.size());
    if (d.kind == Delivery::negative_count) {
        record.count = -record.count - 1;
    }
    const int result = zol_ipc_read_event_cb(&record);
    // The agent reuses its buffer as soon as the callback returns.
    if (copy != nullptr) {
        memset(copy, 0xA5, d.frame.size());
        free(copy);
    }
    return result;
}

void wait_for_marker()
{
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!g_done.wait_for(lock, std::chrono::seconds(30), [] { return g_marker_seen; })) {
        zol_fuzz::fault("the event thread did not handle the queued frames");
    }
    g_marker_seen = false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bring_up();
    size_t pos = 0;
    auto u8 = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

    // Byte 0: bits 0-1 the number of waiting requests, bit 2 makes every send
    // fail; then one byte per waiting request, an index into every request
    // that waits for a stack message.
    const uint8_t head = u8();
    zol_fuzz::agent_set_send_result((head & 4) != 0 ? -1 : 0);
    const size_t waiter_count = head & 3;
    const auto &all = zol_fuzz::all_waiters();
    zol_reqlist_init();
    static zol_fuzz::Token tokens[kMaxWaiters];
    int32_t waits_for[kMaxWaiters] = {};
    for (size_t i = 0; i < waiter_count; ++i) {
        const zol_fuzz::Waiter &w = all[u8() % all.size()];
        tokens[i] = zol_fuzz::new_token(static_cast<int32_t>(100 + i), w.request);
        waits_for[i] = w.event_id;
    }

    // Then deliveries: a 16-bit little-endian word, bits 0-13 the count of
    // bytes that follow, bits 14-15 the kind (bytes, no bytes, negative count,
    // no record).
    std::vector<Delivery> deliveries;
    while (pos + 2 <= size && deliveries.size() < kMaxFrames) {
        const uint16_t word = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        const size_t n = std::min<size_t>(word & 0x3FFF, size - pos);
        Delivery d{static_cast<Delivery::Kind>(word >> 14), {data + pos, data + pos + n}};
        pos += n;
        // The end marker's id is kept for the marker itself.
        if (d.frame.size() >= 7 && (d.frame[5] << 8 | d.frame[6]) == kMarkerId) {
            d.frame[6] = 0xFE;
        }
        deliveries.push_back(std::move(d));
    }

    // The k-th interrogation confirmation taken answers the k-th request that
    // waits for one; the host reads a forwarding query's answer as a list
    // only when the confirmation carries one.
    std::vector<const Delivery *> interrogations;
    for (const Delivery &d : deliveries) {
        if (acceptable(d) && ZOL_STACK_EVENT_BASE + (d.frame[5] << 8 | d.frame[6]) == 0x17567) {
            interrogations.push_back(&d);
        }
    }
    size_t next_interrogation = 0;
    for (size_t i = 0; i < waiter_count; ++i) {
        if (waits_for[i] == 0x17567) {
            const Delivery *d = next_interrogation < interrogations.size()
                                    ? interrogations[next_interrogation++]
                                    : nullptr;
            tokens[i].plain = d != nullptr &&
                              !zol_fuzz::host_can_read(tokens[i].request, 0x17567,
                                                       d->frame.data() + kHeader,
                                                       be32(d->frame.data() + 7));
        }
        zol_fuzz::add_waiting(tokens[i], tokens[i].request, static_cast<uint32_t>(waits_for[i]));
    }

    for (const Delivery &d : deliveries) {
        const int result = deliver(d);
        if ((result == 0) != acceptable(d)) {
            fprintf(stderr, "read callback answered %d for a frame of %zu bytes\n", result,
                    d.frame.size());
            zol_fuzz::fault(result == 0 ? "frame taken that had to be refused"
                                        : "frame refused that had to be taken");
        }
    }
    uint8_t marker[kHeader] = {0, 0, 0, 0xFF, 0xFF, kMarkerId >> 8, kMarkerId & 0xFF, 0, 0, 0, 0};
    ipc_agent_recv_type marker_record{0, marker, sizeof marker};
    if (zol_ipc_read_event_cb(&marker_record) != 0) {
        zol_fuzz::fault("end marker refused");
    }
    wait_for_marker();

    for (size_t i = 0; i < waiter_count; ++i) {
        zol_fuzz::check_answered_once(tokens[i]);
    }
    return 0;
}
