// The link to the IMS stack: binds the IPC agent library, frames outgoing
// request messages and unframes incoming ones into the event queue.
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#include "ipc_agent.h"
#include "log/zol_diag.h"
#include "runtime/zol_owned.h"
#include "zol/zol_event.h"
#include "zol/zol_ipc.h"
#include "zol/zol_log.h"

#ifndef ZOL_IPC_AGENT_PATH
#define ZOL_IPC_AGENT_PATH "/system/lib/libipc_agent.so"
#endif
#ifndef ZOL_IPC_OPEN_DELAY_S
#define ZOL_IPC_OPEN_DELAY_S 30
#endif

namespace {

// Written only by zol_ipc_init, before any request or frame can arrive.
void *g_agent_handle = nullptr;
ipc_agent_init_func g_agent_init = nullptr;
ipc_agent_open_func g_agent_open = nullptr;
ipc_agent_send_func g_agent_send = nullptr;
ipc_agent_param_type g_agent_param = {0, 0};
int32_t g_channel_id = 0;

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t get_be32(const uint8_t *p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

template <typename F>
bool bind(F &out, const char *symbol)
{
    out = reinterpret_cast<F>(dlsym(g_agent_handle, symbol));
    if (out == nullptr) {
        printf("fail to export %s\n", symbol);
        return false;
    }
    return true;
}

} // namespace

extern "C" {

void zol_ipc_init(void)
{
    g_agent_handle = dlopen(ZOL_IPC_AGENT_PATH, RTLD_LAZY);
    if (g_agent_handle == nullptr) {
        puts("fail to open libipc_agent.so");
        return; // channel id stays 0: every send fails
    }
    if (!bind(g_agent_init, "ipc_agent_init") || !bind(g_agent_open, "ipc_agent_open") ||
        !bind(g_agent_send, "ipc_agent_message_send_block_comm")) {
        dlclose(g_agent_handle);
        g_agent_handle = nullptr;
        g_agent_init = nullptr;
        g_agent_open = nullptr;
        g_agent_send = nullptr;
        return;
    }
    puts("export symbol successfully");

    g_agent_param = {1, 2};
    g_agent_init(&g_agent_param);

    g_channel_id = 1;
    ipc_agent_open_options_type options;
    memset(&options, 0, sizeof options);
    options.mode = 1;
    options.flags = 0;
    snprintf(options.name, sizeof options.name, "%d", 1);
    ipc_agent_open_type open_rec;
    memset(&open_rec, 0, sizeof open_rec);
    open_rec.read_cb = zol_ipc_read_event_cb;
    open_rec.options = &options;
    open_rec.channel_id = &g_channel_id;

    // The stack needs time to come up after boot before it accepts the channel.
    sleep(ZOL_IPC_OPEN_DELAY_S);

    if (g_agent_open(&open_rec) >= 0) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Open ipc agent success!\n");
    } else {
        ZOL_LOG(ZOL_LOG_ERROR, "%s", "Failed to open ipc agent!\n");
    }
}

int zol_ipc_send_request(const zol_request_params_type *params_ptr)
{
    ZOL_LOG_POSITION(ZOL_LOG_TRACE);
    if (!::zol::check(params_ptr != nullptr, "params_ptr!= ((void *)0)")) {
        return 1;
    }
    const zol_request_params_type &p = *params_ptr;
    const int32_t token_id = zol_log_get_token_id(p.t);
    ZOL_LOG(ZOL_LOG_TRACE, "params_ptr->t = %d, event_id = %d, datalen = %d, ", token_id,
            p.event_id, static_cast<int>(p.datalen));

    int result = 1;
    // A payload length without a payload would send garbage; such a record is refused.
    const uint32_t datalen = p.data != nullptr ? p.datalen : 0;
    if (g_channel_id >= 1 && g_agent_send != nullptr && (p.data != nullptr || p.datalen == 0)) {
        const size_t frame_len = ZOL_IPC_HEADER_LEN + static_cast<size_t>(datalen);
        // The send record holds the frame length as a signed 32-bit word; a longer
        // frame cannot be described to the agent, and on a 32-bit target the sum
        // above would wrap around to a few bytes. Such a frame fails like a
        // failed allocation.
        const zol::Owned<uint8_t> owner =
            datalen <= static_cast<uint32_t>(INT32_MAX - ZOL_IPC_HEADER_LEN)
                ? zol::allocate<uint8_t>(frame_len)
                : nullptr;
        uint8_t *frame = owner.get();
        if (frame == nullptr) {
            ZOL_LOG_POSITION(ZOL_LOG_TRACE);
        } else {
            frame[0] = 0;
            put_be32(frame + 1, static_cast<uint32_t>(token_id));
            frame[5] = static_cast<uint8_t>(static_cast<uint32_t>(p.event_id) >> 8);
            frame[6] = static_cast<uint8_t>(p.event_id);
            put_be32(frame + 7, datalen);
            if (datalen != 0) {
                memcpy(frame + ZOL_IPC_HEADER_LEN, p.data, datalen);
            }
            ZOL_LOG(ZOL_LOG_TRACE, "%s - %s() - L%d - send_data_size: %d.", __FILE__, __func__,
                    __LINE__, static_cast<int>(frame_len));
            ipc_agent_send_type send_rec;
            memset(&send_rec, 0, sizeof send_rec);
            send_rec.frame = frame;
            send_rec.length = static_cast<int32_t>(frame_len);
            send_rec.timeout = -1;
            send_rec.priority = 0;
            send_rec.channel_id = g_channel_id;
            result = g_agent_send(&send_rec);
        }
    }
    ZOL_LOG_POSITION(ZOL_LOG_TRACE);
    return result;
}

int zol_ipc_read_event_cb(void *record)
{
    if (record == nullptr) {
        return 1;
    }
    const auto *rec = static_cast<const ipc_agent_recv_type *>(record);
    if (rec->data == nullptr || rec->count <= 10) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s", "zol_ipc_read_event_cb read_data_size < 11\n");
        return 1;
    }
    const uint8_t *bytes = rec->data;
    const int32_t token_id = static_cast<int32_t>(get_be32(bytes + 1));
    const uint32_t message_id = (static_cast<uint32_t>(bytes[5]) << 8) | bytes[6];
    const uint32_t datalen = get_be32(bytes + 7);
    ZOL_LOG(ZOL_LOG_TRACE, "zol_ipc_read_event_cb, token_id=%d, event_id=%d, datalen=%d.\n",
            token_id, static_cast<int>(message_id), static_cast<int>(datalen));

    // Never trust the length field beyond what actually arrived.
    const uint32_t received = static_cast<uint32_t>(rec->count) - ZOL_IPC_HEADER_LEN;
    if (datalen > received) {
        ZOL_LOG(ZOL_LOG_ERROR, "zol_ipc_read_event_cb frame refused: length %u, received %u\n",
                datalen, received);
        return 1;
    }
    zol_event_queue(1, message_id, const_cast<uint8_t *>(bytes + ZOL_IPC_HEADER_LEN), datalen,
                    ZOL_EVENT_TOKEN);
    return 0;
}

} // extern "C"
