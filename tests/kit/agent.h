// The IPC agent in the stack's place: libipc_agent.so, linked into the program so
// that the module's dlopen finds it loaded. It keeps the frames the module sends,
// answers each send with a chosen result or through a hook, and hands frames to
// the module from the caller's thread or, prepared per message id, its own.
#ifndef ZOL_KIT_AGENT_H
#define ZOL_KIT_AGENT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ipc_agent.h"

#define ZOL_KIT_AGENT_API __attribute__((visibility("default")))

namespace zol_kit::agent {

using Bytes = std::vector<uint8_t>;

// Back to the start: sends succeed, frames are kept, no hook, no prepared answers.
ZOL_KIT_AGENT_API void reset();
// The result of every send from now on, and of the next ipc_agent_open.
ZOL_KIT_AGENT_API void set_result(int result);
ZOL_KIT_AGENT_API void set_open_result(int result);
// Whether sent frames are kept for frames(); off for long runs.
ZOL_KIT_AGENT_API void keep_frames(bool keep);
ZOL_KIT_AGENT_API std::vector<Bytes> frames();

// Runs inside each send, on the sending thread, after the frame has been
// kept; its result is the send's. May call deliver, and may set another hook.
using SendHook = int (*)(void *context, const uint8_t *frame, int32_t length);
ZOL_KIT_AGENT_API void on_send(SendHook hook, void *context);

// Hands bytes to the module's read callback as the agent's reader thread
// would; its result, or -1 before the module opened the channel.
ZOL_KIT_AGENT_API int deliver(const uint8_t *frame, size_t length);
inline int deliver(const Bytes &frame)
{
    return deliver(frame.data(), frame.size());
}
ZOL_KIT_AGENT_API ipc_agent_read_cb_type module_callback();

// Copies of the records the module handed over, as they were during the call.
struct Records {
    ipc_agent_param_type init;
    ipc_agent_open_type open;
    ipc_agent_open_options_type options;
    ipc_agent_send_type send;
};
ZOL_KIT_AGENT_API Records records();

// A send of this message id is answered with this whole frame, from the
// agent's reader thread and without allocating; an empty frame sends none.
// Set while nothing is in flight.
ZOL_KIT_AGENT_API void answer(uint16_t message_id, const Bytes &frame);
// Where prepared answers go: the module's read callback (null) or another.
ZOL_KIT_AGENT_API void route_to(ipc_agent_read_cb_type callback);

} // namespace zol_kit::agent

#endif // ZOL_KIT_AGENT_H
