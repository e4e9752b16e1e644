/* The event queue and the module's single event thread. */
#ifndef ZOL_EVENT_H
#define ZOL_EVENT_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What processing one event came to. */
#define ZOL_EVENT_PROCESSED 0
#define ZOL_EVENT_NOT_PROCESSED 4

typedef struct zol_event_s {
    struct zol_event_s *next;
    struct zol_event_s *prev;
    int32_t event_id;
    void *data;
    uint32_t datalen;
    RIL_Token t;
    int32_t free_data;
} zol_event_type;

ZOL_EXPORT void zol_event_init(void);
ZOL_EXPORT void zol_event_start(void);
ZOL_EXPORT void zol_event_queue(int32_t free_data, uint32_t wire_event_id, void *data,
                                uint32_t datalen, RIL_Token t);
ZOL_EXPORT void *zol_event_main(void *unused);

#ifdef __cplusplus
}
#endif

#if UINTPTR_MAX == 0xFFFFFFFFu
ZOL_STATIC_ASSERT(sizeof(zol_event_type) == 28, "event record is seven words");
#endif

#endif /* ZOL_EVENT_H */
