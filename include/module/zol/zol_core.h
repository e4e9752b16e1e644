/* Module entry and dispatch: RIL_Init, the core's start-up and the table that
 * routes host requests and stack events to their handlers. */
#ifndef ZOL_CORE_H
#define ZOL_CORE_H

#include "zol/zol_event.h"
#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_VERSION_TEXT "ZOL 1.0"
#define ZOL_DISPATCH_ROWS 62
#define ZOL_HASH_BUCKETS 150

typedef struct zol_dispatch_table_entry_s {
    struct zol_dispatch_table_entry_s *next;
    int32_t event_id;
    zol_handler_type handler;
    uint32_t mask;
} zol_dispatch_table_entry_type;

#define ZOL_MASK_REQUEST 5u
#define ZOL_MASK_EVENT 7u

ZOL_EXPORT const RIL_RadioFunctions *RIL_Init(const struct RIL_Env *env);
ZOL_EXPORT void zol_init(void);
ZOL_EXPORT void zol_release(void);

ZOL_EXPORT extern zol_dispatch_table_entry_type zol_dispatch_table[ZOL_DISPATCH_ROWS];
ZOL_EXPORT uint32_t zol_hash_bucket(int32_t event_id);
ZOL_EXPORT void zol_hash_table_init(void);
/* 0 when a row serves event_id (stored through entry_out unless it is null), 1 otherwise. */
ZOL_EXPORT int zol_hash_table_lookup(int32_t event_id, zol_dispatch_table_entry_type **entry_out);
ZOL_EXPORT int zol_invoke_handler(zol_dispatch_table_entry_type *row,
                                  zol_request_params_type *params_ptr);
/* ZOL_EVENT_PROCESSED when a handler ran, else ZOL_EVENT_NOT_PROCESSED. */
ZOL_EXPORT int zol_process_event(int32_t event_id, void *data, uint32_t datalen, RIL_Token t);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(zol_dispatch_table_entry_type) == 16, "dispatch row is four words");
#endif

#endif /* ZOL_CORE_H */
