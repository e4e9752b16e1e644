/* Timed callbacks through the host's timer, and the clock. */
#ifndef ZOL_TIMER_H
#define ZOL_TIMER_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*zol_timed_callback_func)(void *param);

typedef struct zol_timed_callback_s {
    uint32_t id;
    zol_timed_callback_func callback;
    struct zol_timed_callback_s *next;
} zol_timed_callback_type;

/* 0 when scheduled, -1 when no node could be allocated. */
ZOL_EXPORT int zol_setup_timed_callback(zol_timed_callback_func callback,
                                        const struct timeval *relative_time, uint32_t *id_out);
ZOL_EXPORT void zol_timed_callback_dispatch(void *param);
/* 0 when a pending timer was removed, -1 when there was none. */
ZOL_EXPORT int zol_cancel_timed_callback(uint32_t id);
ZOL_EXPORT int zol_timed_callback_active(uint32_t id);
ZOL_EXPORT void zol_add_timed_callback(zol_timed_callback_type *node);
ZOL_EXPORT zol_timed_callback_type *zol_find_and_remove_timed_callback(uint32_t id);
ZOL_EXPORT void zol_delay_timer_cb(void *param);
ZOL_EXPORT int zol_get_time(int base, struct timeval *tv);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(zol_timed_callback_type) == 12, "timer node is three words");
#endif

#endif /* ZOL_TIMER_H */
