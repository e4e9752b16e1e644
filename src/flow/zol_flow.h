// The frame every handler is built on: check the arguments, remember the
// request when its answer comes later, send one message to the stack, and
// complete the host request exactly once.
#ifndef ZOL_FLOW_H
#define ZOL_FLOW_H

#include <cstddef>
#include <cstdint>

#include "common/zol_payload.h"
#include "zol/zol_reqlist.h"
#include "zol/zol_types.h"

namespace zol {

// Sends one message to the stack under token t; true when sent.
bool send_message(uint16_t message_id, const void *payload, uint32_t payload_len, RIL_Token t);

// The host's data of a request, read as an array of words or of text pointers.
inline bool host_word(const zol_request_params_type &request, size_t i, int32_t &out)
{
    return host_word(request.data, request.datalen, i, out);
}
inline const char *host_text(const zol_request_params_type &request, size_t i)
{
    return host_text(request.data, request.datalen, i);
}

// A message's payload as a handler hands it over: none, some bytes, or a builder's.
struct Outgoing {
    const void *data = nullptr;
    uint32_t size = 0;
    Outgoing() = default;
    Outgoing(const void *bytes, uint32_t count) : data(bytes), size(count) {}
    template <size_t N>
    Outgoing(const PayloadBuilder<N> &payload) : data(payload.data()), size(payload.size())
    {
    }
};

// The line a handler's entry check writes: "%s() entry", none, or the
// handler's own (then the check writes the plain one only when it refuses).
enum class Entry : uint8_t { line, none, own };

// The line a handler ends with.
enum class Exit : uint8_t {
    line,   // "%s() exit"
    spaced, // " %s() exit"
    none,
    not_found,  // " %s(),exit error": no request waits for the confirmation
    error,      // " %s(), error"
    exit_error, // "zol_cm - %s() - L%d exit error": a request refused for its data
};

// What sets one handler apart from the others at its entry and exit.
struct Shape {
    bool request = true; // answers a host request (else a stack event or nothing)
    bool checked = true; // params_ptr and ret_ptr are reported when null
    Entry entry = Entry::line;
    Exit exit = Exit::line;
    const char *data = nullptr;    // condition reported for a null data pointer
    bool data_first = false;       // reported before ret_ptr (else after it)
    uint32_t min_len = 0;          // shorter request data (or none) is refused,
    bool short_exit_error = false; // ending with the exit error line (else with none)
};

// A handler's name and a line of it, for its trace lines.
struct Here {
    const char *name;
    int line;
};
#define ZOL_HERE (::zol::Here{__func__, __LINE__})

// The entry check on construction, and a scope guard: unless the handler
// answered its request or handed it on, the guard answers it with
// RIL_E_GENERIC_FAILURE, then writes the exit line. A host request's handler
// owns its request from the start and ends silently without its record
// (there is no token to answer); a stack event's handler owns the request it
// claims and always ends with its exit line.
class Handler {
public:
    Handler(Here here, zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr,
            const Shape &shape);
    ~Handler();
    Handler(const Handler &) = delete;
    Handler &operator=(const Handler &) = delete;

    // False without a record, or when the entry check refused the request data.
    explicit operator bool() const { return go_on_; }
    const zol_request_params_type &request() const { return *params_; }
    const char *name() const { return name_; }
    // The record's data; empty without a record.
    PayloadView payload() const
    {
        return params_ != nullptr ? PayloadView(params_->data, params_->datalen)
                                  : PayloadView(nullptr, 0);
    }

    // Answers the owned request now.
    void complete(int32_t code, void *response = nullptr, uint32_t response_len = 0);
    // Logs why the request is refused; the guard answers it.
    void refuse(const char *why);
    // Ends with this line instead; an exit error names this line of the handler.
    void end(Exit exit, int line = 0);

    // Immediate pattern: send, log the success or failure line, complete
    // with 0 or 2. Returns the code the host received.
    int send_immediate(uint16_t message_id, Outgoing payload, const char *fail_line,
                       const char *success_line);
    // Pending pattern, first step: remember the request as waiting for
    // pending_event_id, before its message goes out (the answer may arrive
    // while the send is still returning). False when the list refused it:
    // the list has answered the host, and the handler ends without a line.
    bool remember(uint32_t pending_event_id, const char *log_prefix = "");
    // Second step: send the message. When that fails, logs fail_line and
    // answers fail_code, unless a confirmation has taken the request
    // meanwhile. True when sent.
    bool send(uint16_t message_id, Outgoing payload, const char *fail_line,
              int32_t fail_code = RIL_E_GENERIC_FAILURE);
    // Both steps, for handlers that log nothing between them.
    bool send_pending(uint16_t message_id, Outgoing payload, uint32_t pending_event_id,
                      const char *fail_line);

    // Confirmation side: claims the oldest request waiting for event_id (no
    // other thread can complete it then), or takes one claimed already.
    bool claim(int32_t event_id);
    void take(const zol_reqlist_entry_type &request);
    const zol_reqlist_entry_type &claimed() const { return claimed_; }

private:
    void own(RIL_Token t, int32_t request);

    const char *name_;
    int line_;
    zol_request_params_type *params_;
    Exit exit_;
    bool go_on_ = false;
    bool owns_ = false;
    bool answered_ = false;
    RIL_Token owner_t_ = nullptr;
    int32_t owner_request_ = 0;
    zol_reqlist_entry_type claimed_{};
    // The entry remember() added, and the token id read before it went in:
    // from then on the request may be completed and its token handed to the
    // next request, so neither the token nor the entry is taken by token alone.
    uint16_t req_id_ = 0;
    int32_t token_id_ = 0;
};

} // namespace zol

#endif // ZOL_FLOW_H
