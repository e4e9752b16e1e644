// Built as a library named libipc_agent.so that the tests put first on the
// library path, so the module under test loads it instead of the real agent.
#include "fake_agent.h"

#include <mutex>

#include "ipc_agent.h"

namespace {

class Agent final : public zol_test::FakeAgent {
public:
    void set_send_result(int result) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        result_ = result;
    }

    std::vector<std::vector<uint8_t>> sent_frames() override
    {
        std::lock_guard<std::mutex> lock(mu_);
        return frames_;
    }

    void clear() override
    {
        std::lock_guard<std::mutex> lock(mu_);
        frames_.clear();
        result_ = 0;
        hook_ = nullptr;
    }

    int deliver(const std::vector<uint8_t> &frame) override
    {
        ipc_agent_read_cb_type cb;
        {
            std::lock_guard<std::mutex> lock(mu_);
            cb = read_cb_;
        }
        if (cb == nullptr) {
            return -1;
        }
        std::vector<uint8_t> copy = frame; // the callback must not rely on it afterwards
        ipc_agent_recv_type rec = {0, copy.data(), static_cast<int32_t>(copy.size())};
        return cb(&rec);
    }

    void on_next_send(void (*hook)(void *), void *arg) override
    {
        std::lock_guard<std::mutex> lock(mu_);
        hook_ = hook;
        hook_arg_ = arg;
    }

    bool opened() override
    {
        std::lock_guard<std::mutex> lock(mu_);
        return read_cb_ != nullptr;
    }

    Records records() override
    {
        std::lock_guard<std::mutex> lock(mu_);
        return records_;
    }

    int init(ipc_agent_param_type *rec)
    {
        std::lock_guard<std::mutex> lock(mu_);
        records_.init = *rec;
        return 0;
    }

    int open(ipc_agent_open_type *rec)
    {
        std::lock_guard<std::mutex> lock(mu_);
        read_cb_ = rec->read_cb;
        records_.open = *rec;
        if (rec->options != nullptr) {
            records_.options = *rec->options; // lives only during the call
        }
        return 0;
    }

    int send(ipc_agent_send_type *rec)
    {
        void (*hook)(void *);
        void *arg;
        int result;
        {
            std::lock_guard<std::mutex> lock(mu_);
            frames_.emplace_back(rec->frame, rec->frame + rec->length);
            records_.send = *rec;
            hook = hook_;
            arg = hook_arg_;
            hook_ = nullptr;
            result = result_;
        }
        if (hook != nullptr) {
            hook(arg);
        }
        return result;
    }

private:
    std::mutex mu_;
    ipc_agent_read_cb_type read_cb_ = nullptr;
    std::vector<std::vector<uint8_t>> frames_;
    int result_ = 0;
    void (*hook_)(void *) = nullptr;
    void *hook_arg_ = nullptr;
    Records records_ = {};
};

Agent &agent()
{
    static Agent *a = new Agent; // lives as long as the module that uses it
    return *a;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) int ipc_agent_init(ipc_agent_param_type *rec)
{
    return agent().init(rec);
}

__attribute__((visibility("default"))) int ipc_agent_open(ipc_agent_open_type *rec)
{
    return agent().open(rec);
}

__attribute__((visibility("default"))) int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    return agent().send(rec);
}

__attribute__((visibility("default"))) zol_test::FakeAgent *zol_fake_agent(void)
{
    return &agent();
}

} // extern "C"
