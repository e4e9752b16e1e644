/* Supplementary service handlers. */
#ifndef ZOL_SUPS_H
#define ZOL_SUPS_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

ZOL_EXPORT void zol_sups_request_query(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_CLIR_request_set(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_call_forward_request_set(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_call_waiting_request_set(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_call_barring_request_set(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_COLP_request_set(zol_request_params_type *params_ptr,
                                          zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_event_activate_ss_conf(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_event_deactivate_ss_conf(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_event_erase_ss_conf(zol_request_params_type *params_ptr,
                                             zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_event_interrogate_ss_conf(zol_request_params_type *params_ptr,
                                                   zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sups_event_register_ss_conf(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr);

#ifdef __cplusplus
}
#endif

/* The CLIR mode the last CLIR interrogation reported (1 or 2); a CLIR set
 * request for mode 0 uses it. Written on the event thread, read on host
 * threads, so atomic in either language (the two types share one layout). */
#ifdef __cplusplus
#include <atomic>
extern "C" ZOL_EXPORT std::atomic<int32_t> g_clir_cmd_type;
static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t), "the CLIR mode is one word");
#else
ZOL_EXPORT extern _Atomic int32_t g_clir_cmd_type;
#endif

#endif /* ZOL_SUPS_H */
