// The common request/confirmation flow every handler follows: check the
// arguments, remember the request when its answer comes later, send one
// message to the stack, and complete the host request exactly once.
#ifndef ZOL_FLOW_H
#define ZOL_FLOW_H

#include "common/zol_payload.h"
#include "reference_zol.h"
#include "runtime/zol_reply.h"

namespace zol {

// Argument checks and the "%s() entry" line. False when params_ptr is null:
// the handler cannot go on without its record.
bool handler_prologue(const char *handler, zol_request_params_type *params_ptr,
                      zol_request_return_type *ret_ptr, bool log_entry = true);

// Sends one message to the stack under token t; 0 when sent.
int send_message(uint16_t message_id, const void *payload, uint32_t payload_len, RIL_Token t);

// Immediate pattern: send, log the success or failure reply line, complete
// the request with 0 or 2. Returns the code the host received.
int send_immediate(const zol_request_params_type &request, uint16_t message_id,
                   const void *payload, uint32_t payload_len, const char *fail_line,
                   const char *success_line);

// A request remembered in the pending list: the entry added for it and its
// token id, read before the entry went in. From then on a confirmation may
// complete the request at any moment and the host may hand its token to the
// next request, so the handler neither reads the token again nor takes an
// entry by the token alone.
struct Remembered {
    bool added = false;
    uint16_t req_id = 0;
    int32_t token_id = 0;
    explicit operator bool() const { return added; }
};

// Pending pattern, first step: remember the request as waiting for
// pending_event_id. False when the list refused it; the list has answered the
// host then.
Remembered remember_request(const zol_request_params_type &request, uint32_t pending_event_id);

// Pending pattern, second step: send the remembered request's message. When
// the send fails, logs fail_line and answers fail_code, unless a confirmation
// has taken the request meanwhile. True when sent.
bool send_remembered(const zol_request_params_type &request, const Remembered &remembered,
                     uint16_t message_id, const void *payload, uint32_t payload_len,
                     const char *fail_line, int32_t fail_code = RIL_E_GENERIC_FAILURE);

// Both steps, for handlers that log nothing between them. True when the
// request now waits for the stack; otherwise the host has its answer.
bool send_pending(const zol_request_params_type &request, uint16_t message_id,
                  const void *payload, uint32_t payload_len, uint32_t pending_event_id,
                  const char *fail_line);

// Confirmation side: takes the oldest request waiting for this event (a copy
// of it) for the caller to complete; no other thread can complete it then.
bool find_waiting_request(int32_t event_id, zol_reqlist_entry_type &entry);

// The host's data of a request, read as an array of words or of text pointers.
inline bool host_word(const zol_request_params_type &request, size_t i, int32_t &out)
{
    return host_word(request.data, request.datalen, i, out);
}
inline const char *host_text(const zol_request_params_type &request, size_t i)
{
    return host_text(request.data, request.datalen, i);
}

// Logs a handler's exit: "%s() exit".
void handler_exit(const char *handler);

} // namespace zol

#endif // ZOL_FLOW_H
