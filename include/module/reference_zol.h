/* Everything libreference-zol.so exports. */
#ifndef REFERENCE_ZOL_H
#define REFERENCE_ZOL_H

#include "ril.h"
#include "zol/zol_types.h"
#include "zol/zol_core.h"
#include "zol/zol_memory.h"
#include "zol/zol_response.h"
#include "zol/zol_timer.h"
#include "zol/zol_log.h"
#include "zol/zol_event.h"
#include "zol/zol_reqlist.h"
#include "zol/zol_ipc.h"
#include "zol/zol_cm.h"
#include "zol/zol_sms.h"
#include "zol/zol_sups.h"

#endif /* REFERENCE_ZOL_H */
