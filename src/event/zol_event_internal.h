// How the event thread hands an event on. The thread sits below the dispatch
// table, so the core connects the two when it starts up.
#ifndef ZOL_EVENT_INTERNAL_H
#define ZOL_EVENT_INTERNAL_H

#include <cstdint>

#include "ril.h"

namespace zol {

// Processes one stack event; 0 when a handler ran. Until one is set, events
// are taken off the queue unprocessed.
using EventProcessor = int (*)(int32_t event_id, void *data, uint32_t datalen, RIL_Token t);
void set_event_processor(EventProcessor processor);

} // namespace zol

#endif // ZOL_EVENT_INTERNAL_H
