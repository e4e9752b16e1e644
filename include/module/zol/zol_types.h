/* Records and numbers shared by every part of the module. */
#ifndef ZOL_TYPES_H
#define ZOL_TYPES_H

#include <stdint.h>
#include "ril.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_EXPORT __attribute__((visibility("default")))

/* Stack message M is event 0x10000 + M; 0xFFFFF is "no event". */
#define ZOL_STACK_EVENT_BASE 0x10000
#define ZOL_EVENT_NONE 0xFFFFF
/* The token every stack event carries. */
#define ZOL_EVENT_TOKEN ((RIL_Token)(uintptr_t)0xFFFF)

/* Input of every handler, and the description of an outgoing stack message. */
typedef struct {
    int32_t event_id;
    void *data;
    uint32_t datalen;
    RIL_Token t;
} zol_request_params_type;

/* Handed to every handler; nobody reads or writes it. */
typedef struct {
    int32_t unused;
} zol_request_return_type;

typedef void (*zol_handler_type)(zol_request_params_type *params_ptr,
                                 zol_request_return_type *ret_ptr);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(zol_request_params_type) == 16, "request parameters are four words");
#endif

#endif /* ZOL_TYPES_H */
