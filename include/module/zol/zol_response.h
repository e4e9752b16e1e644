/* Everything the module says to the host: request completions and unsolicited
 * responses, through the host's callback table. */
#ifndef ZOL_RESPONSE_H
#define ZOL_RESPONSE_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    RIL_Token t;
    int32_t event_id;
    int32_t ril_errno;
    void *response;
    uint32_t response_len;
    const char *log_str;
} zol_request_resp_params_type;

typedef struct {
    int32_t event_id;
    void *data;
    uint32_t datalen;
    const char *log_str;
} zol_unsol_resp_params_type;

/* The host's callback table, stored by RIL_Init before anything else runs. */
ZOL_EXPORT extern const struct RIL_Env *zol_response_api;

ZOL_EXPORT void zol_default_request_resp_params(RIL_Token t, int32_t event_id, int32_t ril_errno,
                                                zol_request_resp_params_type *param_ptr);
ZOL_EXPORT void zol_send_request_response(const zol_request_resp_params_type *param_ptr);
ZOL_EXPORT void zol_default_unsol_resp_params(int32_t event_id,
                                              zol_unsol_resp_params_type *param_ptr);
ZOL_EXPORT void zol_send_unsol_response(const zol_unsol_resp_params_type *param_ptr);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(zol_request_resp_params_type) == 24, "completion record is six words");
ZOL_STATIC_ASSERT(sizeof(zol_unsol_resp_params_type) == 16, "unsolicited record is four words");
#endif

#endif /* ZOL_RESPONSE_H */
