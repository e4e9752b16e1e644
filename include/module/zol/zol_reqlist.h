/* The pending request list: host requests waiting for an answer from the stack. */
#ifndef ZOL_REQLIST_H
#define ZOL_REQLIST_H

#include "zol/zol_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZOL_REQLIST_MAX 50

typedef enum {
    ZOL_REQ_FREE = 1,
    ZOL_REQ_AWAITING_CALLBACK = 2,
    ZOL_REQ_AWAITING_MORE_AMSS_EVENTS = 4,
    ZOL_REQ_COMPLETED_SUCCESS = 8,
    ZOL_REQ_COMPLETED_FAILURE = 16
} zol_req_state_e_type;

#define ZOL_REQ_ANY_STATE 31u

/* Result of every list operation that can fail. */
typedef enum {
    ZOL_REQLIST_OK = 0,
    ZOL_REQLIST_NOT_FOUND = 1,
    /* The list refused the change: an add whose token is pending already, or a
     * change to ZOL_REQ_AWAITING_MORE_AMSS_EVENTS of an entry that waits for no event. */
    ZOL_REQLIST_REFUSED = 2,
    ZOL_REQLIST_NOT_FINAL = 12,
    ZOL_REQLIST_FULL = 15
} zol_reqlist_result_e_type;

typedef struct {
    uint16_t req_id;
    RIL_Token t;
    int32_t request;
    uint32_t valid_sub_id;
    uint32_t sub_id;
    zol_req_state_e_type state;
    uint32_t pending_event_id;
    uint32_t sub_info;
} zol_reqlist_entry_type;

ZOL_EXPORT const char *zol_reqlist_lookup_state_name(uint32_t state);
ZOL_EXPORT void zol_reqlist_init(void);
ZOL_EXPORT void zol_reqlist_default_entry(RIL_Token t, int32_t request, zol_req_state_e_type state,
                                          uint32_t pending_event_id, const uint32_t *sub_ptr,
                                          zol_reqlist_entry_type *req_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_new(zol_reqlist_entry_type *req_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_free(RIL_Token t);
ZOL_EXPORT void zol_reqlist_free_all(void);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_update_state(RIL_Token t,
                                                              zol_req_state_e_type state);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_update_pending_event_id(RIL_Token t,
                                                                         uint32_t event_id);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_update_sub_id(RIL_Token t, uint32_t sub_id);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_update_sub_info(RIL_Token t,
                                                                 const uint32_t *sub_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query(RIL_Token t,
                                                       zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query_by_request(int32_t request,
                                                                  zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query_by_req_id(uint32_t req_id,
                                                                 zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query_by_event(uint32_t event_id,
                                                                zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type
zol_reqlist_query_by_event_all_states(uint32_t event_id, zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query_by_event_and_sub_id(
    uint32_t event_id, uint32_t sub_id, zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type zol_reqlist_query_by_event_and_sub_id_all_states(
    uint32_t event_id, uint32_t sub_id, zol_reqlist_entry_type *info_ptr);
ZOL_EXPORT zol_reqlist_result_e_type
zol_reqlist_complete_all_amss_events(RIL_Token t, zol_req_state_e_type state, int *result_ptr);
ZOL_EXPORT void zol_reqlist_print_all(void);

#ifdef __cplusplus
}
#endif

#endif /* ZOL_REQLIST_H */
