// Claims on pending requests, for the module's own handlers. A request can be
// answered from two threads (the event thread when the stack confirms, the
// host's thread when its send failed); whoever claims it first answers it,
// and nobody else can.
#ifndef ZOL_REQLIST_INTERNAL_H
#define ZOL_REQLIST_INTERNAL_H

#include "zol/zol_reqlist.h"

namespace zol {

// Claims the oldest unclaimed request waiting for event_id and copies it out.
bool reqlist_claim_by_event(uint32_t event_id, zol_reqlist_entry_type &out);

// Claims the entry added for token t under req_id; false when it is gone or
// claimed already. The token is compared, never read: its request may be
// over and the token the host's again, so token_id is what the log shows.
bool reqlist_claim_entry(RIL_Token t, uint16_t req_id, int32_t token_id);

} // namespace zol

#endif // ZOL_REQLIST_INTERNAL_H
