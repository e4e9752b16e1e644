// Timed callbacks: the host's timer runs them; the module keeps the list of
// pending ones so that a timer can be cancelled or looked up by id.
#include <cstdint>

#include "common/zol_sync.h"
#include "log/zol_diag.h"
#include "runtime/zol_timer_internal.h"
#include "zol/zol_memory.h"
#include "zol/zol_response.h"
#include "zol/zol_timer.h"

namespace {

zol::Mutex zol_timed_callback_list_mutex;
zol::Mutex zol_timer_id_mutex;

zol_timed_callback_type *g_timer_list ZOL_GUARDED_BY(zol_timed_callback_list_mutex) = nullptr;
uint16_t g_next_timer_id ZOL_GUARDED_BY(zol_timer_id_mutex) = 0;

// The link (list head or a node's next) that refers to the first node with
// this id, or the final null link. Never null itself.
zol_timed_callback_type **find_timed_callback_locked(uint32_t id)
    ZOL_REQUIRES(zol_timed_callback_list_mutex)
{
    zol_timed_callback_type **link = &g_timer_list;
    while (*link != nullptr && (*link)->id != id) {
        link = &(*link)->next;
    }
    return link;
}

uint32_t id_from_param(void *param)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(param));
}

} // namespace

namespace zol {

void timers_reset()
{
    {
        MutexLock lock(zol_timer_id_mutex);
        g_next_timer_id = 0;
    }
    zol_timed_callback_type *list;
    {
        MutexLock lock(zol_timed_callback_list_mutex);
        list = g_timer_list;
        g_timer_list = nullptr;
    }
    while (list != nullptr) {
        zol_timed_callback_type *next = list->next;
        zol_free(list);
        list = next;
    }
}

} // namespace zol

extern "C" {

int zol_setup_timed_callback(zol_timed_callback_func callback, const struct timeval *relative_time,
                             uint32_t *id_out)
{
    auto *node =
        static_cast<zol_timed_callback_type *>(zol_malloc(sizeof(zol_timed_callback_type)));
    if (node == nullptr) {
        return -1;
    }
    uint32_t id;
    {
        zol::MutexLock lock(zol_timer_id_mutex);
        id = g_next_timer_id++;
    }
    node->id = id;
    node->callback = callback;
    zol_add_timed_callback(node);

    if (zol_response_api != nullptr && zol_response_api->RequestTimedCallback != nullptr) {
        zol_response_api->RequestTimedCallback(zol_timed_callback_dispatch,
                                               reinterpret_cast<void *>(static_cast<uintptr_t>(id)),
                                               relative_time);
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Set timer with ID %d", static_cast<int>(id));
    if (id_out != nullptr) {
        *id_out = id;
    }
    return 0;
}

void zol_timed_callback_dispatch(void *param)
{
    zol_timed_callback_type *node = zol_find_and_remove_timed_callback(id_from_param(param));
    if (node == nullptr) {
        return; // cancelled
    }
    if (node->callback != nullptr) {
        node->callback(param);
    }
    zol_free(node);
}

int zol_cancel_timed_callback(uint32_t id)
{
    zol_timed_callback_type *node = zol_find_and_remove_timed_callback(id);
    if (node == nullptr) {
        return -1;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Cancel timer with ID %d", static_cast<int>(node->id));
    zol_free(node);
    return 0;
}

int zol_timed_callback_active(uint32_t id)
{
    zol::MutexLock lock(zol_timed_callback_list_mutex);
    return *find_timed_callback_locked(id) != nullptr ? 1 : 0;
}

zol_timed_callback_type *zol_find_and_remove_timed_callback(uint32_t id)
{
    zol::MutexLock lock(zol_timed_callback_list_mutex);
    zol_timed_callback_type **link = find_timed_callback_locked(id);
    zol_timed_callback_type *node = *link;
    if (node != nullptr) {
        *link = node->next;
        node->next = nullptr;
    }
    return node;
}

void zol_add_timed_callback(zol_timed_callback_type *node)
{
    if (!ZOL_NOT_NULL(node, "node")) {
        return;
    }
    zol::MutexLock lock(zol_timed_callback_list_mutex);
    zol_timed_callback_type **link = &g_timer_list;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = node;
    node->next = nullptr;
}

void zol_delay_timer_cb(void *param)
{
    ZOL_LOG(ZOL_LOG_TRACE, "Delay Timer expired with ID %d\n",
            static_cast<int>(id_from_param(param)));
}

int zol_get_time(int base, struct timeval *tv)
{
    if (static_cast<unsigned>(base) <= 2 && tv != nullptr) {
        return gettimeofday(tv, nullptr);
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s: Wrong parameters. Base: %d, tv: 0x%x\n", "zol_get_time", base,
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(tv)));
    return -1;
}

} // extern "C"
