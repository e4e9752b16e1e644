/* The link to the IMS stack through the IPC agent library. */
#ifndef ZOL_IPC_H
#define ZOL_IPC_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_IPC_HEADER_LEN 11

ZOL_EXPORT void zol_ipc_init(void);
ZOL_EXPORT int zol_ipc_send_request(const zol_request_params_type *params_ptr);
ZOL_EXPORT int zol_ipc_read_event_cb(void *record);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_IPC_H */
