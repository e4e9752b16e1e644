// Supplementary service set requests: COLP, CLIR, call waiting, call
// forwarding and call barring, each one SS request whose operation decides
// the confirmation it waits for.
#include <cstring>

#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "sups/zol_sups_internal.h"
#include "zol/zol_sups.h"

namespace zol::sups {

namespace {

using L = SsRequestLayout;

// Settings 0 and 1 of COLP and call waiting.
uint32_t op_of_setting(int32_t setting)
{
    return setting == 0 ? kOpDeactivate : setting == 1 ? kOpActivate : kOpNone;
}

// CLIR mode 0 means the mode the last interrogation reported.
uint32_t op_of_clir_mode(int32_t mode)
{
    if (mode == 0) {
        mode = clir_mode();
    }
    return mode == 1 ? kOpActivate : mode == 2 ? kOpDeactivate : kOpNone;
}

uint32_t op_of_forwarding_status(int32_t status)
{
    constexpr uint32_t kOps[] = {kOpDeactivate, kOpActivate, kOpInterrogate, kOpRegister, kOpErase};
    return status >= 0 && status < 5 ? kOps[status] : kOpNone;
}

// Service classes 1 and 16 are the two the stack knows as basic services.
void put_service_class(SsRequest &payload, int32_t service_class)
{
    if (service_class == 1 || service_class == 16) {
        payload.u32(L::kBasicServicePresent, 1);
        payload.u32(L::kBasicServiceType, service_class == 1 ? 1 : 2);
        payload.u8(L::kServiceClass, static_cast<uint8_t>(service_class));
    }
}

// COLP, CLIR and call waiting: one host word selects the operation on a
// fixed service. A word that selects no operation is refused: no entry is
// made and nothing is sent, so no confirmation could be mistaken for its answer.
void set_service(Here here, zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr,
                 uint32_t (*op_of)(int32_t), uint32_t code, const char *fail_line)
{
    // Data shorter than its first word counts as none.
    Handler h(here, params_ptr, ret_ptr, {.min_len = sizeof(int32_t)});
    if (!h) {
        return;
    }
    int32_t setting = 0;
    host_word(h.request(), 0, setting);
    const uint32_t op = op_of(setting);
    if (op == kOpNone) {
        return h.refuse("setting selects no operation");
    }
    SsRequest payload;
    payload.u32(L::kCmdType, op);
    payload.u32(L::kSsCode, code);
    h.send_pending(msg::SS_REQUEST, payload, confirmation_of(op), fail_line);
}

} // namespace

} // namespace zol::sups

using namespace zol;
using namespace zol::sups;

extern "C" {

void zol_sups_COLP_request_set(zol_request_params_type *params_ptr,
                               zol_request_return_type *ret_ptr)
{
    set_service(ZOL_HERE, params_ptr, ret_ptr, op_of_setting, kCodeColp,
                "Reply to RIL --> SUPS COLP Request fail,\n");
}

void zol_sups_CLIR_request_set(zol_request_params_type *params_ptr,
                               zol_request_return_type *ret_ptr)
{
    set_service(ZOL_HERE, params_ptr, ret_ptr, op_of_clir_mode, kCodeClir,
                "Reply to RIL --> SUPS CLIR Request fail,\n");
}

void zol_sups_call_waiting_request_set(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    set_service(ZOL_HERE, params_ptr, ret_ptr, op_of_setting, kCodeCallWaiting,
                "Reply to RIL --> SUPS call waiting Request fail,\n");
}

void zol_sups_call_forward_request_set(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    // Data shorter than the forwarding record counts as none.
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.min_len = sizeof(RIL_CallForwardInfo)});
    if (!h) {
        return;
    }
    RIL_CallForwardInfo info;
    memcpy(&info, h.request().data, sizeof info);
    const uint32_t op = op_of_forwarding_status(info.status);
    if (op == kOpNone) { // as for the other settings: no entry, nothing sent
        return h.refuse("forwarding status selects no operation");
    }

    // The number is checked before the request is remembered. One that does
    // not fit the 41-character field is refused: cut short, it would forward
    // calls to somebody else.
    char number[L::kNumberWidth + 1] = {};
    size_t number_len = 0;
    if (info.number != nullptr) {
        const char *prefix = info.toa == 145 ? "+86" : "";
        const size_t prefix_len = strlen(prefix);
        const size_t digits = strnlen(info.number, L::kNumberWidth + 1);
        if (prefix_len + digits > L::kNumberWidth) {
            return h.refuse("forwarding number longer than 41 characters");
        }
        memcpy(number, prefix, prefix_len);
        memcpy(number + prefix_len, info.number, digits);
        number_len = prefix_len + digits;
    }

    if (!h.remember(confirmation_of(op))) {
        return;
    }
    SsRequest payload;
    payload.u32(L::kCmdType, op);
    payload.u32(L::kSsCode, code_of_forwarding_reason(info.reason));
    if (info.reason == 2) {
        payload.u32(L::kNoReplyTimePresent, 1);
        payload.u8(L::kNoReplyTime, static_cast<uint8_t>(info.timeSeconds));
    }
    if (info.number != nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", number);
        payload.u32(L::kNumberPresent, 1);
        payload.u8(L::kNumberLen, static_cast<uint8_t>(number_len));
        payload.put(L::kNumber, L::kNumberWidth, number, number_len);
    }
    put_service_class(payload, info.serviceClass);
    if (info.timeInterval != nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "time_interval is %s", info.timeInterval);
        payload.u32(L::kTimeIntervalPresent, 1);
        payload.put(L::kTimeInterval, L::kTimeIntervalWidth, info.timeInterval,
                    strnlen(info.timeInterval, L::kTimeIntervalWidth));
    }
    h.send(msg::SS_REQUEST, payload, "Reply to RIL --> SUPS call forward Request fail,\n");
}

void zol_sups_call_barring_request_set(zol_request_params_type *params_ptr,
                                       zol_request_return_type *ret_ptr)
{
    // Texts 0 to 5 are the record; data shorter than that counts as none.
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.min_len = 6 * sizeof(char *)});
    if (!h) {
        return;
    }
    const char *facility = host_text(h.request(), 0);
    const char *lock = host_text(h.request(), 1);
    const char *service_class = host_text(h.request(), 3);
    const char *password = host_text(h.request(), 5);
    // Without a facility or a lock setting there is neither a service nor an
    // operation to ask for. A missing class or password reads as none given.
    if (facility == nullptr || lock == nullptr) {
        return h.refuse("no facility or lock setting");
    }
    const uint32_t op = strchr(lock, '0') != nullptr   ? kOpDeactivate
                        : strchr(lock, '1') != nullptr ? kOpActivate
                                                       : kOpNone;
    if (op == kOpNone) { // neither '0' nor '1': no operation to ask for
        return h.refuse("lock setting selects no operation");
    }

    SsRequest payload;
    const uint32_t code = code_of_facility(facility, kSetFacilities);
    payload.u32(L::kSsCode, code);
    if (service_class != nullptr) {
        put_service_class(payload, strcmp(service_class, "1") == 0    ? 1
                                   : strcmp(service_class, "16") == 0 ? 16
                                                                      : 0);
    }
    if (password != nullptr && strcmp(password, "0") != 0) {
        payload.u32(L::kPasswordPresent, 1);
        payload.put(L::kPassword, L::kPasswordWidth, password,
                    strnlen(password, L::kPasswordWidth));
    }
    payload.u32(L::kCmdType, op);
    ZOL_LOG(ZOL_LOG_TRACE, "e_ss_code=%d, e_cmd_type=%d", static_cast<int>(code),
            static_cast<int>(op));
    h.send_pending(msg::SS_REQUEST, payload, confirmation_of(op),
                   "Reply to RIL --> SUPS call barring Request fail,\n");
}

} // extern "C"
