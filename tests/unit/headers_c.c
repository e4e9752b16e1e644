/* The public headers must compile as C. */
#include "ipc_agent.h"
#include "reference_zol.h"
#include "ril.h"
#include "layout_table.h"

int zol_c_headers_compile(void);

int zol_c_headers_compile(void)
{
    RIL_CallIms call;
    zol_reqlist_entry_type entry;
    call.callType = 0;
    entry.state = ZOL_REQ_FREE;
    return call.callType + (int)entry.state - 1;
}

/* Hosts written in C must see the records as the module does. */
#define ZOL_C_SIZE(type, ilp32, lp64) sizeof(type),
#define ZOL_C_FIELD(type, member, ilp32, lp64) offsetof(type, member),
const size_t zol_c_layout[] = {ZOL_LAYOUT_TABLE(ZOL_C_SIZE, ZOL_C_FIELD)};
const size_t zol_c_layout_rows = sizeof(zol_c_layout) / sizeof(zol_c_layout[0]);
