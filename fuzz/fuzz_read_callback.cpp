// What the IPC agent hands the read callback, of any count and any content:
// frames with any header and any length field, records without bytes, with a
// negative count, or no record at all. The module's own event thread then
// handles whatever the callback queued, with up to three requests waiting
// for answers. A frame with an id no handler has goes last, and the thread's
// log line for it ends the input, so every input is handled alone and in order.
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "harness.h"

namespace {

constexpr uint16_t kMarkerId = 0x7FFF;
constexpr size_t kHeader = 11;
constexpr size_t kMaxWaiters = 3; // two bits of the input
constexpr size_t kMaxFrames = 64;

std::mutex g_mutex;
std::condition_variable g_done;
bool g_marker_seen = false;
char g_marker_line[96];

void observe(const struct __android_logger_data *, const char *line)
{
    if (line != nullptr && strcmp(line, g_marker_line) == 0) {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_marker_seen = true;
        g_done.notify_all();
    }
}

uint32_t be32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

struct Delivery {
    enum Kind : uint8_t { bytes, no_data, negative_count, no_record } kind;
    std::vector<uint8_t> frame;
    // Whether the callback must take it: a whole header, and a length field
    // that does not claim more than arrived.
    bool acceptable() const
    {
        return kind == bytes && frame.size() >= kHeader &&
               be32(frame.data() + 7) <= frame.size() - kHeader;
    }
    uint16_t id() const { return static_cast<uint16_t>(frame[5] << 8 | frame[6]); }
};

int deliver(const Delivery &d)
{
    if (d.kind == Delivery::no_record) {
        return zol_ipc_read_event_cb(nullptr);
    }
    // A block of exactly the bytes received, so a read past them is caught.
    uint8_t *copy =
        d.kind == Delivery::no_data ? nullptr : static_cast<uint8_t *>(malloc(d.frame.size() + 1));
    if (copy != nullptr && !d.frame.empty()) {
        memcpy(copy, d.frame.data(), d.frame.size());
    }
    const auto count = static_cast<int32_t>(d.frame.size());
    ipc_agent_recv_type record{0, copy, d.kind == Delivery::negative_count ? -count - 1 : count};
    const int result = zol_ipc_read_event_cb(&record);
    if (copy != nullptr) { // the agent reuses its buffer as soon as the callback returns
        memset(copy, 0xA5, d.frame.size());
        free(copy);
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    [[maybe_unused]] static const bool started = [] {
        const int32_t marker = ZOL_STACK_EVENT_BASE + kMarkerId;
        snprintf(g_marker_line, sizeof g_marker_line, "De-queued event %s (%d)\n",
                 zol_log_lookup_event_name(marker), marker);
        zol_fuzz::set_up_host(observe);
        // The whole start-up, event thread included.
        return zol_kit::start_module(RIL_Init) != nullptr;
    }();
    size_t pos = 0;
    auto u8 = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };

    // Byte 0: bits 0-1 the number of waiting requests, bit 2 fails every
    // send; then one byte per waiting request, an index into every request
    // that waits for a stack message.
    const uint8_t head = u8();
    zol_kit::agent::set_result((head & 4) != 0 ? -1 : 0);
    const size_t waiter_count = head & 3;
    const auto &all = zol_fuzz::all_waiters();
    zol_reqlist_init();
    static zol_fuzz::Token tokens[kMaxWaiters];
    for (size_t i = 0; i < waiter_count; ++i) {
        const zol_fuzz::Waiter &w = all[u8() % all.size()];
        // A forwarding query's answer is a list only when the stack sent one:
        // read as bytes here, as a list by fuzz_stack_event, which knows the payload.
        tokens[i] = zol_fuzz::Token{static_cast<int32_t>(100 + i), w.request,
                                    w.request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS};
        zol_fuzz::add_waiting(tokens[i], static_cast<uint32_t>(w.event_id));
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
        if (d.frame.size() >= 7 && d.id() == kMarkerId) {
            d.frame[6] = 0xFE; // the end marker's id is kept for the marker itself
        }
        deliveries.push_back(std::move(d));
    }

    deliveries.push_back(
        {Delivery::bytes, {0, 0, 0, 0xFF, 0xFF, kMarkerId >> 8, kMarkerId & 0xFF, 0, 0, 0, 0}});
    for (const Delivery &d : deliveries) {
        const int result = deliver(d);
        if ((result == 0) != d.acceptable()) {
            fprintf(stderr, "read callback answered %d for a frame of %zu bytes\n", result,
                    d.frame.size());
            zol_fuzz::fault(result == 0 ? "frame taken that had to be refused"
                                        : "frame refused that had to be taken");
        }
    }
    std::unique_lock<std::mutex> lock(g_mutex);
    if (!g_done.wait_for(lock, std::chrono::seconds(30), [] { return g_marker_seen; })) {
        zol_fuzz::fault("the event thread did not handle the queued frames");
    }
    g_marker_seen = false;
    lock.unlock();
    for (size_t i = 0; i < waiter_count; ++i) {
        zol_fuzz::check_answered_once(tokens[i]);
    }
    return 0;
}
