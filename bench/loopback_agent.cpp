#include "loopback_agent.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <semaphore.h>
#include <thread>
#include <vector>

#define AGENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kHeaderLen = 11;
constexpr size_t kMaxFrame = 64 * 1024;
constexpr size_t kMaxInFlight = 64;
constexpr size_t kMaxAnswers = 8;

class Loopback {
public:
    Loopback() { sem_init(&wake_, 0, 0); }

    void set_answer(uint16_t id, const uint8_t *frame, size_t length)
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (Answer &a : answers_) {
            if (a.used && a.id == id) {
                a.frame.assign(frame, frame + length);
                return;
            }
        }
        for (Answer &a : answers_) {
            if (!a.used) {
                a = Answer{true, id, std::vector<uint8_t>(frame, frame + length)};
                return;
            }
        }
    }

    void route_to(ipc_agent_read_cb_type cb) { route_.store(cb); }
    ipc_agent_read_cb_type module_callback() const { return module_cb_.load(); }
    uint64_t sent() const { return sent_.load(); }
    uint64_t answered() const { return answered_.load(); }

    int open(const ipc_agent_open_type &rec)
    {
        module_cb_.store(rec.read_cb);
        std::lock_guard<std::mutex> lock(mu_);
        if (!reader_started_) {
            reader_started_ = true;
            std::thread(&Loopback::reader, this).detach();
        }
        return 0;
    }

    // Like the socket agent, the frame is the sender's again once this returns.
    int send(const ipc_agent_send_type &rec)
    {
        if (rec.frame == nullptr || rec.length < static_cast<int32_t>(kHeaderLen)) {
            return -1;
        }
        const uint16_t id = static_cast<uint16_t>((rec.frame[5] << 8) | rec.frame[6]);
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (tail_ - head_ == kMaxInFlight) {
                return -1;
            }
            in_flight_[tail_++ % kMaxInFlight] = id;
        }
        sent_.fetch_add(1);
        sem_post(&wake_);
        return 0;
    }

private:
    struct Answer {
        bool used = false;
        uint16_t id = 0;
        std::vector<uint8_t> frame;
    };

    void reader()
    {
        // Like a socket read, each answer is copied into the reader's own buffer.
        std::vector<uint8_t> buffer(kMaxFrame);
        for (;;) {
            while (sem_wait(&wake_) != 0) {
            }
            size_t length = 0;
            {
                std::lock_guard<std::mutex> lock(mu_);
                const uint16_t id = in_flight_[head_++ % kMaxInFlight];
                for (const Answer &a : answers_) {
                    if (a.used && a.id == id) {
                        length = std::min(a.frame.size(), buffer.size());
                        memcpy(buffer.data(), a.frame.data(), length);
                        break;
                    }
                }
            }
            ipc_agent_read_cb_type cb = route_.load();
            if (cb == nullptr) {
                cb = module_cb_.load();
            }
            if (length == 0 || cb == nullptr) {
                continue;
            }
            ipc_agent_recv_type rec = {0, buffer.data(), static_cast<int32_t>(length)};
            cb(&rec);
            answered_.fetch_add(1);
        }
    }

    std::mutex mu_;
    sem_t wake_;
    std::array<uint16_t, kMaxInFlight> in_flight_{};
    size_t head_ = 0;
    size_t tail_ = 0;
    std::array<Answer, kMaxAnswers> answers_;
    bool reader_started_ = false;
    std::atomic<ipc_agent_read_cb_type> module_cb_{nullptr};
    std::atomic<ipc_agent_read_cb_type> route_{nullptr};
    std::atomic<uint64_t> sent_{0};
    std::atomic<uint64_t> answered_{0};
};

// Never destroyed: the reader thread runs until the process ends.
Loopback &loopback()
{
    static Loopback *const instance = new Loopback();
    return *instance;
}

} // namespace

AGENT_EXPORT int ipc_agent_init(ipc_agent_param_type *)
{
    return 0;
}

AGENT_EXPORT int ipc_agent_open(ipc_agent_open_type *rec)
{
    return rec != nullptr ? loopback().open(*rec) : -1;
}

AGENT_EXPORT int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    return rec != nullptr ? loopback().send(*rec) : -1;
}

extern "C" {

void zol_loopback_set_answer(uint16_t message_id, const uint8_t *frame, size_t length)
{
    loopback().set_answer(message_id, frame, length);
}

void zol_loopback_route_to(ipc_agent_read_cb_type callback)
{
    loopback().route_to(callback);
}

ipc_agent_read_cb_type zol_loopback_module_callback(void)
{
    return loopback().module_callback();
}

uint64_t zol_loopback_sent(void)
{
    return loopback().sent();
}

uint64_t zol_loopback_answered(void)
{
    return loopback().answered();
}

} // extern "C"
