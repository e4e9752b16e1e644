// Built as libipc_agent.so. The test loads it by its full path before
// RIL_Init, so the module's dlopen of the bare name finds this one.
#include "stress_agent.h"

#include <atomic>
#include <mutex>

#include "ipc_agent.h"

namespace {

std::atomic<ipc_agent_read_cb_type> g_read_cb{nullptr};
std::mutex g_sink_mu;
zol_stress_sink_fn g_sink = nullptr;
void *g_sink_ctx = nullptr;

} // namespace

extern "C" {

__attribute__((visibility("default"))) int ipc_agent_init(ipc_agent_param_type *)
{
    return 0;
}

__attribute__((visibility("default"))) int ipc_agent_open(ipc_agent_open_type *rec)
{
    g_read_cb.store(rec->read_cb);
    return 0;
}

__attribute__((visibility("default"))) int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    zol_stress_sink_fn sink;
    void *ctx;
    {
        std::lock_guard<std::mutex> lock(g_sink_mu);
        sink = g_sink;
        ctx = g_sink_ctx;
    }
    // The sink runs unlocked: it may deliver answers, and sends run on many threads.
    return sink != nullptr ? sink(ctx, rec->frame, rec->length) : 0;
}

__attribute__((visibility("default"))) bool zol_stress_agent_attach(zol_stress_sink_fn fn, void *ctx)
{
    std::lock_guard<std::mutex> lock(g_sink_mu);
    g_sink = fn;
    g_sink_ctx = ctx;
    return g_read_cb.load() != nullptr;
}

__attribute__((visibility("default"))) int zol_stress_agent_deliver(const uint8_t *frame, int32_t length)
{
    const ipc_agent_read_cb_type cb = g_read_cb.load();
    if (cb == nullptr) {
        return -1;
    }
    ipc_agent_recv_type rec = {0, const_cast<uint8_t *>(frame), length};
    return cb(&rec);
}

} // extern "C"
