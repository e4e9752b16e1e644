/* The public headers must compile as C. */
#include "ipc_agent.h"
#include "reference_zol.h"
#include "ril.h"

int zol_c_headers_compile(void);

int zol_c_headers_compile(void)
{
    RIL_CallIms call;
    zol_reqlist_entry_type entry;
    call.callType = 0;
    entry.state = ZOL_REQ_FREE;
    return call.callType + (int)entry.state - 1;
}
