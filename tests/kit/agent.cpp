#include "agent.h"

#include <semaphore.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace zol_kit::agent {

namespace {

constexpr size_t kHeaderLen = 11;
constexpr size_t kMaxInFlight = 64;

struct Answer {
    uint16_t id = 0;
    Bytes frame;
};

// Never destroyed: the module and the reader thread use it until the process ends.
struct State {
    State() { sem_init(&wake, 0, 0); }
    std::mutex mu;
    Records records{};
    std::vector<Bytes> frames;
    bool keep = true;
    int result = 0;
    int open_result = 0;
    SendHook hook = nullptr;
    void *hook_context = nullptr;
    std::array<Answer, 8> answers;
    std::array<uint16_t, kMaxInFlight> in_flight{};
    size_t head = 0;
    size_t tail = 0;
    bool reader_started = false;
    uint8_t sink = 0;
    sem_t wake;
    std::atomic<ipc_agent_read_cb_type> module_cb{nullptr};
    std::atomic<ipc_agent_read_cb_type> route{nullptr};
};
State &s()
{
    static State *const state = new State;
    return *state;
}

int send(const ipc_agent_send_type &rec)
{
    if (rec.frame == nullptr || rec.length < static_cast<int32_t>(kHeaderLen)) {
        return -1;
    }
    // A header that does not describe its frame exactly is the module's fault.
    const uint8_t *f = rec.frame;
    if ((uint32_t{f[7]} << 24 | uint32_t{f[8]} << 16 | uint32_t{f[9]} << 8 | f[10]) !=
        static_cast<uint32_t>(rec.length) - kHeaderLen) {
        fprintf(stderr, "kit agent: a frame whose length field is not its length\n");
        abort();
    }
    const auto id = static_cast<uint16_t>(f[5] << 8 | f[6]);
    bool answered = false;
    std::unique_lock<std::mutex> lock(s().mu);
    s().records.send = rec;
    if (s().keep) {
        s().frames.emplace_back(f, f + rec.length);
    } else {
        for (int32_t i = 0; i < rec.length;
             ++i) { // every byte is read, so a short frame shows under ASan
            s().sink = static_cast<uint8_t>(s().sink + f[i]);
        }
    }
    for (const Answer &a : s().answers) {
        if (!a.frame.empty() && a.id == id && s().tail - s().head < kMaxInFlight) {
            s().in_flight[s().tail++ % kMaxInFlight] = id;
            answered = true;
            break;
        }
    }
    const SendHook hook = s().hook;
    void *const context = s().hook_context;
    const int result = s().result;
    lock.unlock();
    if (answered) {
        sem_post(&s().wake);
    }
    return hook != nullptr ? hook(context, f, rec.length) : result;
}

void reader()
{
    // Like a socket read, each answer is copied into the reader's own buffer.
    Bytes buffer(64 * 1024);
    for (;;) {
        while (sem_wait(&s().wake) != 0) {
        }
        size_t length = 0;
        {
            std::lock_guard<std::mutex> lock(s().mu);
            const uint16_t id = s().in_flight[s().head++ % kMaxInFlight];
            for (const Answer &a : s().answers) {
                if (a.id == id && !a.frame.empty()) {
                    length = std::min(a.frame.size(), buffer.size());
                    memcpy(buffer.data(), a.frame.data(), length);
                }
            }
        }
        const ipc_agent_read_cb_type route = s().route.load();
        const ipc_agent_read_cb_type cb = route != nullptr ? route : s().module_cb.load();
        if (length != 0 && cb != nullptr) {
            ipc_agent_recv_type rec = {0, buffer.data(), static_cast<int32_t>(length)};
            cb(&rec);
        }
    }
}

template <typename F>
auto locked(F &&f)
{
    std::lock_guard<std::mutex> lock(s().mu);
    return f(s());
}

} // namespace

void reset()
{
    locked([](State &a) {
        a.frames.clear();
        a.keep = true;
        a.result = 0;
        a.hook = nullptr;
        a.answers = {};
        a.route.store(nullptr);
    });
}

void set_result(int result)
{
    locked([=](State &a) { a.result = result; });
}

void set_open_result(int result)
{
    locked([=](State &a) { a.open_result = result; });
}

void keep_frames(bool keep)
{
    locked([=](State &a) { a.keep = keep; });
}

std::vector<Bytes> frames()
{
    return locked([](State &a) { return a.frames; });
}

void on_send(SendHook hook, void *context)
{
    locked([=](State &a) {
        a.hook = hook;
        a.hook_context = context;
    });
}

int deliver(const uint8_t *frame, size_t length)
{
    const ipc_agent_read_cb_type cb = s().module_cb.load();
    if (cb == nullptr) {
        return -1;
    }
    // The callback may not rely on the bytes afterwards: it gets a copy.
    Bytes copy(frame, frame + length);
    ipc_agent_recv_type rec = {0, copy.data(), static_cast<int32_t>(length)};
    return cb(&rec);
}

ipc_agent_read_cb_type module_callback()
{
    return s().module_cb.load();
}

Records records()
{
    return locked([](State &a) { return a.records; });
}

void answer(uint16_t message_id, const Bytes &frame)
{
    locked([&](State &a) {
        Answer *slot = nullptr;
        for (Answer &an : a.answers) {
            if (an.id == message_id || (slot == nullptr && an.frame.empty())) {
                slot = &an;
            }
        }
        if (slot != nullptr) {
            *slot = Answer{message_id, frame};
        }
        if (!a.reader_started) {
            a.reader_started = true;
            std::thread(reader).detach();
        }
    });
}

void route_to(ipc_agent_read_cb_type callback)
{
    s().route.store(callback);
}

} // namespace zol_kit::agent

using zol_kit::agent::s;

extern "C" {

ZOL_KIT_AGENT_API int ipc_agent_init(ipc_agent_param_type *rec)
{
    std::lock_guard<std::mutex> lock(s().mu);
    s().records.init = *rec;
    return 0;
}

ZOL_KIT_AGENT_API int ipc_agent_open(ipc_agent_open_type *rec)
{
    std::lock_guard<std::mutex> lock(s().mu);
    s().records.open = *rec;
    if (rec->options != nullptr) {
        s().records.options = *rec->options; // lives only during the call
    }
    if (s().open_result < 0) {
        return s().open_result;
    }
    s().module_cb.store(rec->read_cb);
    return 0;
}

ZOL_KIT_AGENT_API int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    return rec != nullptr ? zol_kit::agent::send(*rec) : -1;
}

} // extern "C"
