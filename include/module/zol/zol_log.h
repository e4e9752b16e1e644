/* Diagnostics: the radio log, assertion reports, the call-flow hook and names. */
#ifndef ZOL_LOG_H
#define ZOL_LOG_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_LOG_TAG "IMS-ref-zol"
#define ZOL_LOG_BUF_SIZE 512

/* Levels: 0 errors, 1 assertion reports, 2 trace, 3 detail, 4 start-up wait. */
#define ZOL_LOG_ERROR 0
#define ZOL_LOG_ASSERT 1
#define ZOL_LOG_TRACE 2
#define ZOL_LOG_DETAIL 3
#define ZOL_LOG_STARTUP 4

/* The call-flow hook's parties. */
#define ZOL_PARTY_MODULE 2
#define ZOL_PARTY_HOST 3

typedef struct {
    int32_t id;
    const char *name;
} zol_log_name_entry_type;

#define ZOL_REQUEST_NAME_ROWS 112
#define ZOL_UNSOL_NAME_ROWS 39

ZOL_EXPORT extern const zol_log_name_entry_type zol_log_request_names[ZOL_REQUEST_NAME_ROWS];
ZOL_EXPORT extern const zol_log_name_entry_type zol_log_unsol_names[ZOL_UNSOL_NAME_ROWS];

ZOL_EXPORT void zol_format_log_msg(char *buf_ptr, int32_t buf_size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
ZOL_EXPORT void zol_log_msg_to_adb(uint32_t level, const char *text);
ZOL_EXPORT void zol_log_assert_failed(const char *cond_text);
ZOL_EXPORT int zol_log_call_flow_packet(int from, int to, int unsol, const char *text);
ZOL_EXPORT int32_t zol_log_get_token_id(RIL_Token t);
ZOL_EXPORT const char *zol_log_lookup_errno_name(int32_t code);
ZOL_EXPORT const char *zol_log_lookup_event_name(int32_t id);
ZOL_EXPORT int32_t zol_log_lookup_ril_event_index(int32_t id, const zol_log_name_entry_type *table,
                                                  int32_t lo, int32_t hi);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_LOG_H */
