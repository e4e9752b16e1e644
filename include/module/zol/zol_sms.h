/* SMS over IMS handlers. */
#ifndef ZOL_SMS_H
#define ZOL_SMS_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

ZOL_EXPORT void zol_sms_request_send_sms(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sms_request_sms_acknowledge(zol_request_params_type *params_ptr,
                                                zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sms_event_mt_msg_ind(zol_request_params_type *params_ptr,
                                         zol_request_return_type *ret_ptr);
ZOL_EXPORT void zol_sms_event_send_msg_status_ind(zol_request_params_type *params_ptr,
                                                  zol_request_return_type *ret_ptr);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_SMS_H */
