// The agent library of the stress test: a libipc_agent.so that hands every
// frame the module sends to a sink in the test, and delivers the test's
// frames to the module's read callback as the agent's reader thread would.
#ifndef ZOL_STRESS_AGENT_H
#define ZOL_STRESS_AGENT_H

#include <cstdint>

extern "C" {

// Decides the result of one send; runs on the sending thread, inside the send.
typedef int (*zol_stress_sink_fn)(void *ctx, const uint8_t *frame, int32_t length);

// Routes sends to fn (null: sends succeed and go nowhere). True once the
// module has opened the channel.
typedef bool (*zol_stress_attach_fn)(zol_stress_sink_fn fn, void *ctx);

// Hands one frame to the module's read callback; its result, or -1 before the open.
typedef int (*zol_stress_deliver_fn)(const uint8_t *frame, int32_t length);

} // extern "C"

#endif // ZOL_STRESS_AGENT_H
