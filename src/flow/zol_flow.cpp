#include "flow/zol_flow.h"

#include "log/zol_diag.h"
#include "runtime/zol_reqlist_internal.h"

namespace zol {

bool handler_prologue(const char *handler, zol_request_params_type *params_ptr,
                      zol_request_return_type *ret_ptr, bool log_entry)
{
    const bool have_params = ZOL_NOT_NULL(params_ptr, "params_ptr");
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    if (log_entry) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", handler);
    }
    return have_params;
}

int send_message(uint16_t message_id, const void *payload, uint32_t payload_len, RIL_Token t)
{
    zol_request_params_type msg = {message_id, const_cast<void *>(payload),
                                   payload != nullptr ? payload_len : 0, t};
    return zol_ipc_send_request(&msg);
}

int send_immediate(const zol_request_params_type &request, uint16_t message_id,
                   const void *payload, uint32_t payload_len, const char *fail_line,
                   const char *success_line)
{
    const bool sent = send_message(message_id, payload, payload_len, request.t) == 0;
    ZOL_LOG(ZOL_LOG_TRACE, "%s", sent ? success_line : fail_line);
    const int code = sent ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE;
    complete_request(request.t, request.event_id, code);
    return code;
}

Remembered remember_request(const zol_request_params_type &request, uint32_t pending_event_id)
{
    const int32_t token_id = zol_log_get_token_id(request.t);
    zol_reqlist_entry_type entry;
    zol_reqlist_default_entry(request.t, request.event_id, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                              pending_event_id, nullptr, &entry);
    if (zol_reqlist_new(&entry) != 0) {
        ZOL_LOG(ZOL_LOG_ERROR, "Fail to add entry to ReqList for envent: %d.\n", request.event_id);
        return {};
    }
    return {true, entry.req_id, token_id};
}

bool send_remembered(const zol_request_params_type &request, const Remembered &remembered,
                     uint16_t message_id, const void *payload, uint32_t payload_len,
                     const char *fail_line, int32_t fail_code)
{
    // The token may belong to the next request already: the frame carries
    // the id read while it was still this one's.
    int32_t token_id = remembered.token_id;
    if (send_message(message_id, payload, payload_len, &token_id) == 0) {
        return true;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", fail_line);
    // A confirmation meant for an older request may have taken this one
    // meanwhile; then it has been answered already, and its token may now
    // stand for another request, whose entry is not this handler's to take.
    if (reqlist_claim_entry(request.t, remembered.req_id, remembered.token_id)) {
        complete_request(request.t, request.event_id, fail_code);
    }
    return false;
}

bool send_pending(const zol_request_params_type &request, uint16_t message_id,
                  const void *payload, uint32_t payload_len, uint32_t pending_event_id,
                  const char *fail_line)
{
    // The entry goes in before the message goes out: the answer may arrive on
    // the event thread while the send is still returning.
    const Remembered remembered = remember_request(request, pending_event_id);
    return remembered &&
           send_remembered(request, remembered, message_id, payload, payload_len, fail_line);
}

bool find_waiting_request(int32_t event_id, zol_reqlist_entry_type &entry)
{
    return reqlist_claim_by_event(static_cast<uint32_t>(event_id), entry);
}

void handler_exit(const char *handler)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s() exit", handler);
}

} // namespace zol
