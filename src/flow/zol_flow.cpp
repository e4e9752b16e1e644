#include "flow/zol_flow.h"

#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "runtime/zol_reqlist_internal.h"
#include "zol/zol_ipc.h"
#include "zol/zol_log.h"

namespace zol {

bool send_message(uint16_t message_id, const void *payload, uint32_t payload_len, RIL_Token t)
{
    zol_request_params_type msg = {message_id, const_cast<void *>(payload),
                                   payload != nullptr ? payload_len : 0, t};
    return zol_ipc_send_request(&msg) == 0;
}

Handler::Handler(Here here, zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr,
                 const Shape &shape)
    : name_(here.name), line_(here.line), params_(params_ptr), exit_(shape.exit)
{
    const bool have_params = params_ptr != nullptr;
    if (shape.checked) {
        ZOL_NOT_NULL(params_ptr, "params_ptr");
        if (have_params && shape.data != nullptr && shape.data_first) {
            check(params_ptr->data != nullptr, shape.data);
        }
        ZOL_NOT_NULL(ret_ptr, "ret_ptr");
        if (have_params && shape.data != nullptr && !shape.data_first) {
            check(params_ptr->data != nullptr, shape.data);
        }
    }
    if (shape.entry == Entry::line) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", name_);
    }
    if (!have_params) {
        if (shape.request) {
            exit_ = Exit::none;
        }
        return;
    }
    if (shape.request) {
        own(params_ptr->t, params_ptr->event_id);
    }
    go_on_ = true;
    if (shape.min_len != 0 &&
        (params_ptr->data == nullptr || params_ptr->datalen < shape.min_len)) {
        if (shape.entry == Entry::own) {
            ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", name_);
        }
        go_on_ = false;
        exit_ = shape.short_exit_error ? Exit::exit_error : Exit::none;
    }
}

Handler::~Handler()
{
    if (owns_ && !answered_) {
        complete_request(owner_t_, owner_request_, RIL_E_GENERIC_FAILURE);
    }
    switch (exit_) {
    case Exit::line:
        ZOL_LOG(ZOL_LOG_TRACE, "%s() exit", name_);
        break;
    case Exit::spaced:
        ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", name_);
        break;
    case Exit::not_found:
        ZOL_LOG(ZOL_LOG_TRACE, " %s(),exit error", name_);
        break;
    case Exit::error:
        ZOL_LOG(ZOL_LOG_TRACE, " %s(), error", name_);
        break;
    case Exit::exit_error:
        // Call control's refusals have always named their source so.
        ZOL_LOG(ZOL_LOG_TRACE, "%s - %s() - L%d exit error", "zol_cm", name_, line_);
        break;
    case Exit::none:
        break;
    }
}

void Handler::own(RIL_Token t, int32_t request)
{
    owns_ = true;
    answered_ = false;
    owner_t_ = t;
    owner_request_ = request;
}

void Handler::complete(int32_t code, void *response, uint32_t response_len)
{
    answered_ = true;
    complete_request(owner_t_, owner_request_, code, response, response_len);
}

void Handler::refuse(const char *why)
{
    ZOL_LOG(ZOL_LOG_ERROR, "%s(): %s, request %d refused\n", name_, why, params_->event_id);
}

void Handler::end(Exit exit, int line)
{
    exit_ = exit;
    line_ = line != 0 ? line : line_;
}

int Handler::send_immediate(uint16_t message_id, Outgoing payload, const char *fail_line,
                            const char *success_line)
{
    const bool sent = send_message(message_id, payload.data, payload.size, params_->t);
    ZOL_LOG(ZOL_LOG_TRACE, "%s", sent ? success_line : fail_line);
    const int code = sent ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE;
    complete(code);
    return code;
}

bool Handler::remember(uint32_t pending_event_id, const char *log_prefix)
{
    answered_ = true;
    token_id_ = zol_log_get_token_id(params_->t);
    zol_reqlist_entry_type entry;
    zol_reqlist_default_entry(params_->t, params_->event_id, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                              pending_event_id, nullptr, &entry);
    if (zol_reqlist_new(&entry) != ZOL_REQLIST_OK) {
        ZOL_LOG(ZOL_LOG_ERROR, "%sFail to add entry to ReqList for envent: %d.\n", log_prefix,
                params_->event_id);
        exit_ = Exit::none;
        return false;
    }
    req_id_ = entry.req_id;
    return true;
}

bool Handler::send(uint16_t message_id, Outgoing payload, const char *fail_line, int32_t fail_code)
{
    // The frame carries the token id read while the token was still this request's.
    int32_t token_id = token_id_;
    if (send_message(message_id, payload.data, payload.size, &token_id)) {
        return true;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", fail_line);
    // A confirmation meant for an older request may have taken this one
    // meanwhile; then it has been answered already, and its token may now
    // stand for another request, whose entry is not this handler's to take.
    if (reqlist_claim_entry(params_->t, req_id_, token_id_)) {
        complete_request(params_->t, params_->event_id, fail_code);
    }
    return false;
}

bool Handler::send_pending(uint16_t message_id, Outgoing payload, uint32_t pending_event_id,
                           const char *fail_line)
{
    return remember(pending_event_id) && send(message_id, payload, fail_line);
}

bool Handler::claim(int32_t event_id)
{
    zol_reqlist_entry_type entry;
    if (!reqlist_claim_by_event(static_cast<uint32_t>(event_id), entry)) {
        return false;
    }
    take(entry);
    return true;
}

void Handler::take(const zol_reqlist_entry_type &request)
{
    claimed_ = request;
    own(request.t, request.request);
}

} // namespace zol
