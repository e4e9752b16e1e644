// An in-process libipc_agent.so for the benchmarks: a request frame sent by
// the module is answered at once, from the agent's own reader thread, with a
// frame prepared beforehand for that message id.
#ifndef ZOL_BENCH_LOOPBACK_AGENT_H
#define ZOL_BENCH_LOOPBACK_AGENT_H

#include <cstddef>
#include <cstdint>

#include "ipc_agent.h"

#define ZOL_LOOPBACK_EXPORT __attribute__((visibility("default")))

extern "C" {

// The whole frame (header and payload) that answers each message with this id;
// an empty answer makes the message go unanswered. Set while nothing is in flight.
ZOL_LOOPBACK_EXPORT void zol_loopback_set_answer(uint16_t message_id, const uint8_t *frame,
                                                 size_t length);

// Where answers go: the read callback the module registered at open (null),
// or another one.
ZOL_LOOPBACK_EXPORT void zol_loopback_route_to(ipc_agent_read_cb_type callback);

// The callback the module registered; null until it opened the agent.
ZOL_LOOPBACK_EXPORT ipc_agent_read_cb_type zol_loopback_module_callback(void);

// Frames sent and answers delivered so far.
ZOL_LOOPBACK_EXPORT uint64_t zol_loopback_sent(void);
ZOL_LOOPBACK_EXPORT uint64_t zol_loopback_answered(void);

} // extern "C"

#endif
