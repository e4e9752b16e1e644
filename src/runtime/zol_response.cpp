// Everything the module says to the host: request completions and unsolicited
// responses.
#include "log/zol_diag.h"
#include "runtime/zol_reply.h"
#include "zol/zol_log.h"
#include "zol/zol_reqlist.h"
#include "zol/zol_response.h"

extern "C" {

const struct RIL_Env *zol_response_api = nullptr;

void zol_default_request_resp_params(RIL_Token t, int32_t event_id, int32_t ril_errno,
                                     zol_request_resp_params_type *param_ptr)
{
    if (!ZOL_NOT_NULL(param_ptr, "param_ptr")) {
        return;
    }
    *param_ptr = {t, event_id, ril_errno, nullptr, 0, nullptr};
}

void zol_send_request_response(const zol_request_resp_params_type *param_ptr)
{
    if (!ZOL_NOT_NULL(param_ptr, "param_ptr")) {
        return;
    }
    const zol_request_resp_params_type &p = *param_ptr;
    // Forget the request before the host hears its answer, so it is completed once.
    zol_reqlist_free(p.t);

    const char *name = zol_log_lookup_event_name(p.event_id);
    const char *err_name = zol_log_lookup_errno_name(p.ril_errno);
    const int32_t token_id = zol_log_get_token_id(p.t);
    char flow[300];
    if (p.log_str != nullptr) {
        zol_format_log_msg(flow, sizeof flow, "%s - %s, RID %d, %s", name, p.log_str, token_id,
                           err_name);
    } else {
        zol_format_log_msg(flow, sizeof flow, "%s - Token %d, %s", name, token_id, err_name);
    }
    zol_log_call_flow_packet(ZOL_PARTY_MODULE, ZOL_PARTY_HOST, 0, flow);
    ZOL_LOG(ZOL_LOG_TRACE, "UI <--- %s (%d) Complete --- Token %d, %s, Len %d %s]\n", name,
            p.event_id, token_id, err_name, static_cast<int>(p.response_len),
            p.log_str != nullptr ? p.log_str : "");

    if (zol_response_api != nullptr && zol_response_api->OnRequestComplete != nullptr) {
        zol_response_api->OnRequestComplete(p.t, static_cast<RIL_Errno>(p.ril_errno), p.response,
                                            p.response_len);
    }
}

void zol_default_unsol_resp_params(int32_t event_id, zol_unsol_resp_params_type *param_ptr)
{
    if (!ZOL_NOT_NULL(param_ptr, "param_ptr")) {
        return;
    }
    *param_ptr = {event_id, nullptr, 0, nullptr};
}

void zol_send_unsol_response(const zol_unsol_resp_params_type *param_ptr)
{
    if (!::zol::check(param_ptr != nullptr, "param_ptr!= ((void *)0)")) {
        return;
    }
    const zol_unsol_resp_params_type &p = *param_ptr;
    const char *name = zol_log_lookup_event_name(p.event_id);
    char flow[300];
    if (p.log_str != nullptr) {
        zol_format_log_msg(flow, sizeof flow, "%s, %s", name, p.log_str);
    } else {
        zol_format_log_msg(flow, sizeof flow, "%s", name);
    }
    zol_log_call_flow_packet(ZOL_PARTY_MODULE, ZOL_PARTY_HOST, 1, flow);
    ZOL_LOG(ZOL_LOG_TRACE, "UI <--- %s (%d) --- Len %d, %s]\n", name, p.event_id,
            static_cast<int>(p.datalen), p.log_str != nullptr ? p.log_str : "");

    if (zol_response_api != nullptr && zol_response_api->OnUnsolicitedResponse != nullptr) {
        zol_response_api->OnUnsolicitedResponse(p.event_id, p.data, p.datalen);
    }
}

} // extern "C"

namespace zol {

void complete_request(RIL_Token t, int32_t request, int32_t ril_errno, void *response,
                      uint32_t response_len)
{
    zol_request_resp_params_type resp;
    zol_default_request_resp_params(t, request, ril_errno, &resp);
    resp.response = response;
    resp.response_len = response_len;
    zol_send_request_response(&resp);
}

void send_unsol(int32_t unsol, void *data, uint32_t datalen)
{
    zol_unsol_resp_params_type rec;
    zol_default_unsol_resp_params(unsol, &rec);
    rec.data = data;
    rec.datalen = datalen;
    zol_send_unsol_response(&rec);
}

} // namespace zol
