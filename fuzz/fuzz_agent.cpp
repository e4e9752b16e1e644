// A fake IPC agent for the fuzz targets: accepts the channel, reads every
// byte of each frame the module sends and answers with a result the fuzz
// input chose.
#include <cstdint>
#include <cstring>

#include "ipc_agent.h"

namespace {

int g_send_result = 0;
volatile uint32_t g_sink = 0;

} // namespace

extern "C" {

__attribute__((visibility("default"))) void zol_fuzz_agent_set_send_result(int result)
{
    g_send_result = result;
}

__attribute__((visibility("default"))) int ipc_agent_init(ipc_agent_param_type *param)
{
    return param != nullptr ? 0 : -1;
}

__attribute__((visibility("default"))) int ipc_agent_open(ipc_agent_open_type *open)
{
    if (open == nullptr || open->channel_id == nullptr) {
        return -1;
    }
    *open->channel_id = 1;
    return 0;
}

__attribute__((visibility("default"))) int ipc_agent_message_send_block_comm(ipc_agent_send_type *send)
{
    if (send == nullptr || send->frame == nullptr || send->length < 11) {
        return -1;
    }
    // The header's length field must describe exactly the bytes that follow.
    const uint8_t *f = send->frame;
    const uint32_t claimed = (uint32_t{f[7]} << 24) | (uint32_t{f[8]} << 16) | (uint32_t{f[9]} << 8) | f[10];
    if (claimed != static_cast<uint32_t>(send->length) - 11) {
        __builtin_trap();
    }
    uint32_t sum = 0;
    for (int32_t i = 0; i < send->length; ++i) {
        sum += f[i];
    }
    g_sink = g_sink + sum;
    return g_send_result;
}

} // extern "C"
