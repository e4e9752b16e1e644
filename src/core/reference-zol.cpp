// Module entry, the radio functions the host calls, and the dispatch table
// that routes host requests and stack events to their handlers.
#include <cstring>

#include "common/zol_messages.h"
#include "common/zol_sync.h"
#include "event/zol_event_internal.h"
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "runtime/zol_timer_internal.h"
#include "zol/zol_cm.h"
#include "zol/zol_core.h"
#include "zol/zol_event.h"
#include "zol/zol_ipc.h"
#include "zol/zol_log.h"
#include "zol/zol_reqlist.h"
#include "zol/zol_response.h"
#include "zol/zol_sms.h"
#include "zol/zol_sups.h"
#include "zol/zol_timer.h"

namespace {

zol::Mutex zol_state_mutex;

// Built once by zol_init, read without a lock afterwards.
zol_dispatch_table_entry_type *g_hash_table[ZOL_HASH_BUCKETS];

constexpr int32_t kMaxRequestNumber = 65535;

RIL_RadioState on_current_state()
{
    return RADIO_STATE_UNAVAILABLE;
}

bool uses_on_off_argument(int request)
{
    return request == RIL_REQUEST_RADIO_POWER || request == RIL_REQUEST_SET_MUTE ||
           request == RIL_REQUEST_SCREEN_STATE;
}

void on_request(int request, void *data, size_t datalen, RIL_Token t)
{
    zol::check(t != ZOL_EVENT_TOKEN, "t != (void *) 0xFFFF");

    zol_request_params_type params = {request, data, static_cast<uint32_t>(datalen), t};
    const char *name = zol_log_lookup_event_name(request);
    const int32_t token_id = zol_log_get_token_id(t);
    ZOL_LOG(ZOL_LOG_TRACE, "UI --- %s (%d) ---> [token id %d, data len %d]\n", name, request,
            token_id, static_cast<int>(datalen));

    char flow[300];
    // The on/off word is read only when the host handed over all of it.
    if (uses_on_off_argument(request) && data != nullptr && datalen >= sizeof(int32_t)) {
        int32_t on;
        memcpy(&on, data, sizeof on);
        zol_format_log_msg(flow, sizeof flow, "%s - %s, Token %d", name, on != 0 ? "On" : "Off",
                           token_id);
    } else {
        zol_format_log_msg(flow, sizeof flow, "%s - Token %d", name, token_id);
    }
    zol_log_call_flow_packet(ZOL_PARTY_HOST, ZOL_PARTY_MODULE, 0, flow);

    // Stack event ids all lie above 65535: the host can never reach their handlers.
    zol_dispatch_table_entry_type *row = nullptr;
    if (request > kMaxRequestNumber || zol_hash_table_lookup(request, &row) != 0) {
        zol::complete_request(t, request, RIL_E_REQUEST_NOT_SUPPORTED);
        return;
    }
    zol_invoke_handler(row, &params);
}

int on_supports(int request)
{
    const bool found = zol_hash_table_lookup(request, nullptr) == 0;
    const char *name = zol_log_lookup_event_name(request);
    const char *verdict = found ? "Supported" : "Not Supported";
    ZOL_LOG(ZOL_LOG_TRACE, "onSupports() ->: %s (%d), %s\n", name, request, verdict);
    char flow[80];
    zol_format_log_msg(flow, sizeof flow, "onSupports() -` %s %s", name, verdict);
    zol_log_call_flow_packet(ZOL_PARTY_HOST, ZOL_PARTY_HOST, 0, flow);
    return found ? 1 : 0;
}

void on_cancel(RIL_Token t)
{
    (void)t;
    ZOL_LOG(ZOL_LOG_TRACE, "onCancel()\n");
    zol_log_call_flow_packet(ZOL_PARTY_HOST, ZOL_PARTY_HOST, 0, "onCancel()");
}

const char *get_version()
{
    ZOL_LOG(ZOL_LOG_TRACE, "getVersion() -> %s\n", ZOL_VERSION_TEXT);
    zol_log_call_flow_packet(ZOL_PARTY_HOST, ZOL_PARTY_HOST, 0, "getVersion() - ZOL 2.0");
    return ZOL_VERSION_TEXT;
}

constexpr RIL_RadioFunctions kRadioFunctions = {
    RIL_VERSION, on_request, on_current_state, on_supports, on_cancel, get_version,
};

} // namespace

extern "C" {

#define ZOL_REQUEST_ROW(number, handler) {nullptr, number, handler, ZOL_MASK_REQUEST},
#define ZOL_EVENT_ROW(name, wire, handler)                                                         \
    {nullptr, ZOL_STACK_EVENT_BASE + (wire), handler, ZOL_MASK_EVENT},
zol_dispatch_table_entry_type zol_dispatch_table[ZOL_DISPATCH_ROWS] = {
    ZOL_DISPATCH_LIST(ZOL_REQUEST_ROW, ZOL_EVENT_ROW, ZOL_EVENT_ROW)};
#undef ZOL_REQUEST_ROW
#undef ZOL_EVENT_ROW

const RIL_RadioFunctions *RIL_Init(const struct RIL_Env *env)
{
    ZOL_LOG(ZOL_LOG_TRACE, "ZOL, running RIL_Init()\n");
    zol_response_api = env;
    zol_event_init();
    zol_ipc_init();
    zol_init();
    zol_event_start();
    return &kRadioFunctions;
}

void zol_init(void)
{
    zol::timers_reset();
    zol::set_event_processor(zol_process_event);
    static const struct timeval kOneSecond = {1, 0};
    zol_setup_timed_callback(zol_delay_timer_cb, &kOneSecond, nullptr);
    zol::MutexLock lock(zol_state_mutex);
    zol_hash_table_init();
    zol_reqlist_init();
}

void zol_release(void)
{
    ZOL_LOG(ZOL_LOG_TRACE, "zol_release()\n");
}

uint32_t zol_hash_bucket(int32_t event_id)
{
    const uint32_t id = static_cast<uint32_t>(event_id);
    const uint32_t x = id ^ (id >> 16);
    const uint32_t h = (x * 0x9E37u) & 0xFFFFu;
    return (h * ZOL_HASH_BUCKETS) >> 16;
}

void zol_hash_table_init(void)
{
    // Start from scratch so that a repeated call cannot link a row into its own chain.
    for (auto &bucket : g_hash_table) {
        bucket = nullptr;
    }
    for (auto &row : zol_dispatch_table) {
        row.next = nullptr;
    }
    for (auto &row : zol_dispatch_table) {
        zol_dispatch_table_entry_type **link = &g_hash_table[zol_hash_bucket(row.event_id)];
        while (*link != nullptr) {
            link = &(*link)->next;
        }
        *link = &row;
    }
}

int zol_hash_table_lookup(int32_t event_id, zol_dispatch_table_entry_type **entry_out)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s - %s() - L%d - id: %d ", __FILE__, __func__, __LINE__, event_id);
    for (zol_dispatch_table_entry_type *row = g_hash_table[zol_hash_bucket(event_id)];
         row != nullptr; row = row->next) {
        if (row->event_id == event_id) {
            if (entry_out != nullptr) {
                *entry_out = row;
            }
            return 0;
        }
    }
    return 1;
}

int zol_invoke_handler(zol_dispatch_table_entry_type *row, zol_request_params_type *params_ptr)
{
    ZOL_NOT_NULL(params_ptr, "params_ptr");
    {
        // Waits for an initialisation in progress; handlers themselves run unlocked.
        zol::MutexLock barrier(zol_state_mutex);
    }
    if (row == nullptr || row->handler == nullptr) {
        return 0;
    }
    zol_request_return_type ret = {};
    row->handler(params_ptr, &ret);
    return 0;
}

int zol_process_event(int32_t event_id, void *data, uint32_t datalen, RIL_Token t)
{
    const char *name = zol_log_lookup_event_name(event_id);
    char flow[100] = {};
    zol_format_log_msg(flow, sizeof flow, "%s(%d)", name, event_id);
    zol_log_call_flow_packet(ZOL_PARTY_MODULE, ZOL_PARTY_MODULE, 0, flow);
    ZOL_LOG(ZOL_LOG_TRACE, "RIL <--- %s --- IMS\n", flow);

    if (static_cast<uint32_t>(event_id) <= ZOL_STACK_EVENT_BASE) {
        return ZOL_EVENT_NOT_PROCESSED;
    }
    ZOL_LOG_POSITION(ZOL_LOG_TRACE);
    zol_dispatch_table_entry_type *row = nullptr;
    if (zol_hash_table_lookup(event_id, &row) != 0) {
        return ZOL_EVENT_NOT_PROCESSED;
    }
    if (!ZOL_NOT_NULL(row, "entry_ptr")) {
        return ZOL_EVENT_NOT_PROCESSED;
    }
    zol_request_params_type params = {event_id, data, datalen, t};
    const int result = zol_invoke_handler(row, &params);
    ZOL_LOG(ZOL_LOG_DETAIL, "Exit zol_process_event() : %s, err_no %d\n", name, result);
    return result;
}

} // extern "C"

static_assert(sizeof(zol_dispatch_table) / sizeof(zol_dispatch_table[0]) == ZOL_DISPATCH_ROWS);
