#include "agent.h"

#include <semaphore.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

namespace agent = zol_kit::agent;

constexpr size_t kHeaderLen = 11;
constexpr size_t kMaxInFlight = 64;
constexpr size_t kMaxAnswers = 8;

struct Answer {
    uint16_t id = 0;
    std::vector<uint8_t> frame;
};

class Agent {
public:
    Agent() { sem_init(&wake_, 0, 0); }

    void reset()
    {
        std::lock_guard<std::mutex> lock(mu_);
        frames_.clear();
        keep_ = true;
        result_ = 0;
        hook_ = nullptr;
        answers_ = {};
        route_.store(nullptr);
    }

    int send(const ipc_agent_send_type &rec)
    {
        if (rec.frame == nullptr || rec.length < static_cast<int32_t>(kHeaderLen)) {
            return -1;
        }
        // A header that does not describe its frame exactly is the module's fault.
        if ((uint32_t{rec.frame[7]} << 24 | uint32_t{rec.frame[8]} << 16 | uint32_t{rec.frame[9]} << 8 |
             rec.frame[10]) != static_cast<uint32_t>(rec.length) - kHeaderLen) {
            fprintf(stderr, "kit agent: a frame whose length field is not its length\n");
            abort();
        }
        sent_.fetch_add(1);
        const auto id = static_cast<uint16_t>(rec.frame[5] << 8 | rec.frame[6]);
        agent::SendHook hook;
        void *context;
        int result;
        bool answered = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            records_.send = rec;
            if (keep_) {
                frames_.emplace_back(rec.frame, rec.frame + rec.length);
            } else {
                uint8_t sum = 0; // every byte is read, so a short frame shows under ASan
                for (int32_t i = 0; i < rec.length; ++i) {
                    sum = static_cast<uint8_t>(sum + rec.frame[i]);
                }
                sink_ = sink_ + sum;
            }
            for (const Answer &a : answers_) {
                if (!a.frame.empty() && a.id == id && tail_ - head_ < kMaxInFlight) {
                    in_flight_[tail_++ % kMaxInFlight] = id;
                    answered = true;
                    break;
                }
            }
            hook = hook_;
            context = hook_context_;
            result = result_;
        }
        if (answered) {
            sem_post(&wake_);
        }
        return hook != nullptr ? hook(context, rec.frame, rec.length) : result;
    }

    int deliver(const uint8_t *frame, size_t length)
    {
        const ipc_agent_read_cb_type cb = module_cb_.load();
        if (cb == nullptr) {
            return -1;
        }
        // The callback may not rely on the bytes afterwards: it gets a copy.
        std::vector<uint8_t> copy(frame, frame + length);
        ipc_agent_recv_type rec = {0, copy.data(), static_cast<int32_t>(length)};
        return cb(&rec);
    }

    void answer(uint16_t id, const std::vector<uint8_t> &frame)
    {
        std::lock_guard<std::mutex> lock(mu_);
        Answer *slot = nullptr;
        for (Answer &a : answers_) {
            if (a.id == id || (slot == nullptr && a.frame.empty())) {
                slot = &a;
            }
        }
        if (slot != nullptr) {
            *slot = Answer{id, frame};
        }
        if (!reader_started_) {
            reader_started_ = true;
            std::thread(&Agent::reader, this).detach();
        }
    }

    void reader()
    {
        // Like a socket read, each answer is copied into the reader's own buffer.
        std::vector<uint8_t> buffer(64 * 1024);
        for (;;) {
            while (sem_wait(&wake_) != 0) {
            }
            size_t length = 0;
            {
                std::lock_guard<std::mutex> lock(mu_);
                const uint16_t id = in_flight_[head_++ % kMaxInFlight];
                for (const Answer &a : answers_) {
                    if (a.id == id && !a.frame.empty()) {
                        length = std::min(a.frame.size(), buffer.size());
                        memcpy(buffer.data(), a.frame.data(), length);
                    }
                }
            }
            ipc_agent_read_cb_type cb = route_.load();
            cb = cb != nullptr ? cb : module_cb_.load();
            if (length != 0 && cb != nullptr) {
                ipc_agent_recv_type rec = {0, buffer.data(), static_cast<int32_t>(length)};
                cb(&rec);
                answered_.fetch_add(1);
            }
        }
    }

    std::mutex mu_;
    agent::Records records_{};
    std::vector<std::vector<uint8_t>> frames_;
    bool keep_ = true;
    int result_ = 0;
    int open_result_ = 0;
    agent::SendHook hook_ = nullptr;
    void *hook_context_ = nullptr;
    std::array<Answer, kMaxAnswers> answers_;
    std::array<uint16_t, kMaxInFlight> in_flight_{};
    size_t head_ = 0;
    size_t tail_ = 0;
    bool reader_started_ = false;
    uint8_t sink_ = 0;
    sem_t wake_;
    std::atomic<ipc_agent_read_cb_type> module_cb_{nullptr};
    std::atomic<ipc_agent_read_cb_type> route_{nullptr};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> answered_{0};
};

// Never destroyed: the module and the reader thread use it until the process ends.
Agent &the()
{
    static Agent *const a = new Agent;
    return *a;
}

} // namespace

namespace zol_kit::agent {

void reset()
{
    the().reset();
}

void set_result(int result)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().result_ = result;
}

void set_open_result(int result)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().open_result_ = result;
}

void keep_frames(bool keep)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().keep_ = keep;
}

std::vector<Bytes> frames()
{
    std::lock_guard<std::mutex> lock(the().mu_);
    return the().frames_;
}

void on_send(SendHook hook, void *context)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().hook_ = hook;
    the().hook_context_ = context;
}

int deliver(const uint8_t *frame, size_t length)
{
    return the().deliver(frame, length);
}

ipc_agent_read_cb_type module_callback()
{
    return the().module_cb_.load();
}

Records records()
{
    std::lock_guard<std::mutex> lock(the().mu_);
    return the().records_;
}

void answer(uint16_t message_id, const Bytes &frame)
{
    the().answer(message_id, frame);
}

void route_to(ipc_agent_read_cb_type callback)
{
    the().route_.store(callback);
}

uint64_t sent()
{
    return the().sent_.load();
}

uint64_t answered()
{
    return the().answered_.load();
}

} // namespace zol_kit::agent

extern "C" {

ZOL_KIT_AGENT_API int ipc_agent_init(ipc_agent_param_type *rec)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().records_.init = *rec;
    return 0;
}

ZOL_KIT_AGENT_API int ipc_agent_open(ipc_agent_open_type *rec)
{
    std::lock_guard<std::mutex> lock(the().mu_);
    the().records_.open = *rec;
    if (rec->options != nullptr) {
        the().records_.options = *rec->options; // lives only during the call
    }
    if (the().open_result_ < 0) {
        return the().open_result_;
    }
    the().module_cb_.store(rec->read_cb);
    return 0;
}

ZOL_KIT_AGENT_API int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    return rec != nullptr ? the().send(*rec) : -1;
}

} // extern "C"
