/* Module entry, dispatch, responses to the host, memory and timed callbacks. */
#ifndef ZOL_CORE_H
#define ZOL_CORE_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_VERSION_TEXT "ZOL 1.0"
#define ZOL_DISPATCH_ROWS 62
#define ZOL_HASH_BUCKETS 150

ZOL_EXPORT extern const struct RIL_Env *zol_response_api;

ZOL_EXPORT const RIL_RadioFunctions *RIL_Init(const struct RIL_Env *env);
ZOL_EXPORT void zol_init(void);
ZOL_EXPORT void zol_release(void);
ZOL_EXPORT void *zol_malloc(size_t size);
ZOL_EXPORT void zol_free(void *mem_ptr);

/* Dispatch. */
ZOL_EXPORT extern zol_dispatch_table_entry_type zol_dispatch_table[ZOL_DISPATCH_ROWS];
ZOL_EXPORT uint32_t zol_hash_bucket(int32_t event_id);
ZOL_EXPORT void zol_hash_table_init(void);
ZOL_EXPORT int zol_hash_table_lookup(int32_t event_id, zol_dispatch_table_entry_type **entry_out);
ZOL_EXPORT int zol_invoke_handler(zol_dispatch_table_entry_type *row,
                                  zol_request_params_type *params_ptr);
ZOL_EXPORT int zol_process_event(int32_t event_id, void *data, uint32_t datalen, RIL_Token t);

/* Responses to the host. */
ZOL_EXPORT void zol_default_request_resp_params(RIL_Token t, int32_t event_id, int32_t ril_errno,
                                                zol_request_resp_params_type *param_ptr);
ZOL_EXPORT void zol_send_request_response(const zol_request_resp_params_type *param_ptr);
ZOL_EXPORT void zol_default_unsol_resp_params(int32_t event_id,
                                              zol_unsol_resp_params_type *param_ptr);
ZOL_EXPORT void zol_send_unsol_response(const zol_unsol_resp_params_type *param_ptr);

/* Timed callbacks through the host's timer. */
typedef void (*zol_timed_callback_func)(void *param);

typedef struct zol_timed_callback_s {
    uint32_t id;
    zol_timed_callback_func callback;
    struct zol_timed_callback_s *next;
} zol_timed_callback_type;

ZOL_EXPORT int zol_setup_timed_callback(zol_timed_callback_func callback,
                                        const struct timeval *relative_time, uint32_t *id_out);
ZOL_EXPORT void zol_timed_callback_dispatch(void *param);
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

#endif /* ZOL_CORE_H */
