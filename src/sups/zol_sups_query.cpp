// Supplementary service queries: the interrogation request for the seven
// query requests, and the interrogation confirmation that builds the host's
// answer (a status word, a status pair or a call forwarding list).
#include <cstring>

#include "log/zol_diag.h"
#include "flow/zol_flow.h"
#include "sups/zol_sups_internal.h"

namespace zol::sups {

namespace {

constexpr const char *kConfName = "zol_sups_event_interrogate_ss_conf";
constexpr const char *kReplySuccess = "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n";
constexpr const char *kReplyFailure =
    "Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n";

// A forwarding number as a text: the entry's characters and a terminator.
constexpr size_t kNumberTextSize = ForwardingFeatureLayout::kNumberWidth + 1;

void answer_failure(const zol_reqlist_entry_type &request)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s", kReplyFailure);
    complete_request(request.t, request.request, RIL_E_GENERIC_FAILURE);
}

// A confirmation finds its request by operation alone: with queries of several
// services outstanding it may complete one that asked for another kind of
// answer. The host reads the data in its own request's shape (a status pair as
// forwarding record pointers), so data of the wrong shape is never handed over.
bool answers_with_list(const zol_reqlist_entry_type &request)
{
    return request.request == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS ||
           request.request == RIL_REQUEST_SET_CALL_FORWARD;
}

void answer_mismatch(const zol_reqlist_entry_type &request, uint32_t info_type)
{
    ZOL_LOG(ZOL_LOG_ERROR, "%s: information type %d does not answer request %d\n", kConfName,
            static_cast<int>(info_type), static_cast<int>(request.request));
    answer_failure(request);
}

// Whether the payload carries every field its information type is read for.
// A list that claims more entries than arrived is refused whole: a partial
// list would tell the host that forwarding is off where it may be on.
bool carries_its_fields(const PayloadView &conf, uint32_t info_type)
{
    using L = SsConfLayout;
    if (info_type == kInfoStatus) {
        return conf.has(0, L::kStatusEnd);
    }
    if (info_type != kInfoForwardingList) {
        return true;
    }
    uint32_t present = 0;
    uint8_t count = 0;
    if (!conf.u32(L::kListPresent, present) || !conf.u8(L::kListLength, count)) {
        return false;
    }
    return present == 0 || conf.has(L::kListEntries, size_t{count} * ForwardingFeatureLayout::kSize);
}

void answer_forwarding_list(const zol_reqlist_entry_type &request, const PayloadView &conf,
                            Allocator alloc)
{
    using L = ForwardingFeatureLayout;
    uint32_t present = 0;
    uint8_t count = 0;
    conf.u32(SsConfLayout::kListPresent, present);
    conf.u8(SsConfLayout::kListLength, count);
    ZOL_LOG(ZOL_LOG_TRACE, "%s b_present=%d forwarding_feature_list_length=%d", kConfName,
            static_cast<int>(present), count);
    if (present == 0 || count == 0) {
        complete_request(request.t, request.request, RIL_E_SUCCESS);
        handler_exit(kConfName);
        return;
    }
    if (!answers_with_list(request)) {
        answer_mismatch(request, kInfoForwardingList);
        return;
    }

    // Records, their number texts and the pointer array live until the host
    // has taken the answer. A failed allocation still answers the request
    // (code 2): its entry has been claimed, and nobody else would answer it.
    auto *records = static_cast<RIL_CallForwardInfo *>(alloc(sizeof(RIL_CallForwardInfo) * count));
    auto *numbers = records != nullptr ? static_cast<char *>(alloc(kNumberTextSize * count)) : nullptr;
    if (records == nullptr || numbers == nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Malloc failed in_data_ptr\n");
        if (records != nullptr) {
            zol_free(records);
        }
        answer_failure(request);
        return;
    }
    auto **pointers = static_cast<RIL_CallForwardInfo **>(alloc(sizeof(RIL_CallForwardInfo *) * count));
    if (pointers == nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Malloc failed in_data_pptr\n");
        zol_free(numbers);
        zol_free(records);
        answer_failure(request);
        return;
    }

    for (size_t i = 0; i < count; ++i) {
        const size_t entry = SsConfLayout::kListEntries + i * L::kSize;
        uint32_t code_present = 0, code = 0, status_present = 0, active = 0;
        uint32_t time_present = 0, service_present = 0, service_type = 0;
        uint8_t number_len = 0, no_reply_time = 0;
        conf.u32(entry + L::kSsCodePresent, code_present);
        conf.u32(entry + L::kSsCode, code);
        conf.u32(entry + L::kStatusPresent, status_present);
        conf.u32(entry + L::kSsActive, active);
        conf.u8(entry + L::kNumberLen, number_len);
        conf.u32(entry + L::kNoReplyTimePresent, time_present);
        conf.u8(entry + L::kNoReplyTime, no_reply_time);
        conf.u32(entry + L::kBasicServicePresent, service_present);
        conf.u32(entry + L::kBasicServiceType, service_type);

        RIL_CallForwardInfo &record = records[i];
        record = RIL_CallForwardInfo{};
        if (code_present != 0) {
            ZOL_LOG(ZOL_LOG_TRACE, "%s e_ss_code = %d", kConfName, static_cast<int>(code));
            const int32_t reason = forwarding_reason_of_code(code);
            record.reason = reason >= 0 ? reason : 0;
        }
        if (status_present != 0) {
            record.status = active != 0 ? 1 : 0;
        }
        ZOL_LOG(ZOL_LOG_TRACE, "reason=%d, status=%d", record.reason, record.status);

        // A length beyond the number field is cut at the field.
        const auto digits = conf.bytes(entry + L::kNumber,
                                       number_len < L::kNumberWidth ? number_len : L::kNumberWidth);
        char *number = numbers + i * kNumberTextSize;
        if (!digits.empty()) {
            memcpy(number, digits.data(), digits.size());
        }
        number[digits.size()] = '\0';
        record.number = number;
        ZOL_LOG(ZOL_LOG_TRACE, "in_data_ptr[%d].number=%s", static_cast<int>(i), number);

        if (time_present != 0) {
            record.timeSeconds = no_reply_time;
        }
        if (service_present != 0 && service_type == 1) {
            record.serviceClass = 1;
        }
        pointers[i] = &record;
    }

    complete_request(request.t, request.request, RIL_E_SUCCESS, pointers,
                     static_cast<uint32_t>(sizeof(RIL_CallForwardInfo *) * count));
    zol_free(pointers);
    zol_free(numbers);
    zol_free(records);
    handler_exit(kConfName);
}

void answer_status(const zol_reqlist_entry_type &request, const PayloadView &conf)
{
    using L = SsConfLayout;
    ZOL_LOG(ZOL_LOG_TRACE, "%s", "zol_sups_event_interrogate_ss_conf receive eTKM_SUPS_SS_STATUS_INFO\n");
    uint32_t code = 0, present = 0, active = 0;
    conf.u32(L::kStatusSsCode, code);
    conf.u32(L::kStatusPresent, present);
    conf.u32(L::kStatusActive, active);
    ZOL_LOG(ZOL_LOG_TRACE, "e_ss_code=%d", static_cast<int>(code));

    // At most two words: kept on the stack, so building it cannot fail.
    int32_t answer[2] = {0, 0};
    uint32_t answer_len = 0;
    if ((code >= 9 && code <= kCodeClip) || code == kCodeColp || code == kCodeColr) {
        ZOL_LOG(ZOL_LOG_TRACE, "e_ss_code=%d, b_present=%d, b_ss_active=%d", static_cast<int>(code),
                static_cast<int>(present), static_cast<int>(active));
        answer[0] = present != 0 && active != 0 ? 1 : 0;
        answer_len = sizeof(int32_t);
    } else if (code == kCodeClir) {
        if (present != 0) {
            answer[0] = active != 0 ? 1 : 2;
            answer[1] = 4;
            set_clir_mode(answer[0]);
        } else {
            answer[1] = 2;
        }
        answer_len = sizeof answer;
    } else if (code == kCodeCallWaiting) {
        if (present != 0) {
            answer[0] = active != 0 ? 1 : 0;
            answer[1] = 1;
        }
        answer_len = sizeof answer;
    } else {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "not support");
    }
    if (answer_len != 0 && answers_with_list(request)) {
        answer_mismatch(request, kInfoStatus);
        return;
    }
    complete_request(request.t, request.request, RIL_E_SUCCESS, answer_len != 0 ? answer : nullptr,
                     answer_len);
    handler_exit(kConfName);
}

} // namespace

void answer_interrogation(const zol_reqlist_entry_type &request, const PayloadView &conf,
                          Allocator alloc)
{
    uint32_t success = 0, info_type = 0;
    // A confirmation too short to say it succeeded is a failure.
    const bool readable = conf.u32(SsConfLayout::kSuccess, success);
    conf.u32(SsConfLayout::kInfoType, info_type);
    ZOL_LOG(ZOL_LOG_TRACE, "%s e_info_type:%d, b_success:%d", kConfName, static_cast<int>(info_type),
            static_cast<int>(success));
    if (!readable || success == 0) {
        answer_failure(request);
        return;
    }
    if (!carries_its_fields(conf, info_type)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s: information type %d does not fit in %d bytes\n", kConfName,
                static_cast<int>(info_type), static_cast<int>(conf.size()));
        answer_failure(request);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", kReplySuccess);
    if (info_type == kInfoForwardingList) {
        answer_forwarding_list(request, conf, alloc);
    } else if (info_type == kInfoStatus) {
        answer_status(request, conf);
    } else {
        complete_request(request.t, request.request, RIL_E_SUCCESS);
        handler_exit(kConfName);
    }
}

} // namespace zol::sups

using namespace zol;
using namespace zol::sups;

extern "C" {

void zol_sups_request_query(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    if (!handler_prologue(__func__, params_ptr, ret_ptr, false)) {
        return;
    }
    const zol_request_params_type &request = *params_ptr;

    // The facility and the forwarding reason are read before the request is
    // remembered, so that one without them is answered at once and no entry
    // is made for it.
    const char *facility = nullptr;
    int32_t reason = 0;
    if (request.event_id == RIL_REQUEST_QUERY_FACILITY_LOCK) {
        ZOL_NOT_NULL(request.data, "params_ptr->data");
        facility = host_text(request, 0);
        if (facility == nullptr) {
            refuse(request, __func__, "no facility");
            return;
        }
    } else if (request.event_id == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS) {
        ZOL_NOT_NULL(request.data, "in_data_ptr");
        if (request.data == nullptr ||
            request.datalen < offsetof(RIL_CallForwardInfo, reason) + sizeof(int32_t)) {
            refuse(request, __func__, "no forwarding reason");
            return;
        }
        memcpy(&reason, static_cast<const uint8_t *>(request.data) + offsetof(RIL_CallForwardInfo, reason),
               sizeof reason);
    }

    const Remembered remembered = add_pending(request, kOpInterrogate);
    if (!remembered) {
        return;
    }
    SsRequest payload;
    payload.u32(SsRequestLayout::kCmdType, kOpInterrogate);
    uint32_t code = kCodeNone;
    switch (request.event_id) {
    case RIL_REQUEST_QUERY_FACILITY_LOCK:
        code = code_of_facility(facility, kQueryFacilities);
        break;
    case RIL_REQUEST_QUERY_CALL_FORWARD_STATUS:
        ZOL_LOG(ZOL_LOG_TRACE, " RIL_REQUEST_QUERY_CALL_FORWARD_STATUS  reason=%d ", reason);
        // A query names a service even for a reason the host does not define.
        code = code_of_forwarding_reason(reason);
        if (code == kCodeNone) {
            code = kCodeForwardingUnconditional;
        }
        break;
    case RIL_REQUEST_QUERY_CALL_WAITING:
        code = kCodeCallWaiting;
        break;
    case RIL_REQUEST_GET_CLIR:
        code = kCodeClir;
        break;
    case RIL_REQUEST_QUERY_CLIP:
        code = kCodeClip;
        break;
    case RIL_REQUEST_QUERY_COLR:
        code = kCodeColr;
        break;
    case RIL_REQUEST_QUERY_COLP:
        code = kCodeColp;
        break;
    default:
        ZOL_LOG(ZOL_LOG_ERROR, "Unknown event id: %d.\n", request.event_id);
        break;
    }
    payload.u32(SsRequestLayout::kSsCode, code);
    send_or_fail(request, remembered, payload, "Reply to RIL --> INTERROGATE SS fail,\n");
    ZOL_LOG(ZOL_LOG_TRACE, " %s() exit", __func__);
}

void zol_sups_event_interrogate_ss_conf(zol_request_params_type *params_ptr,
                                        zol_request_return_type *ret_ptr)
{
    const bool have_params = ZOL_NOT_NULL(params_ptr, "params_ptr");
    ZOL_NOT_NULL(ret_ptr, "ret_ptr");
    const bool have_conf = have_params && ZOL_NOT_NULL(params_ptr->data, "sups_interrogate_ind_ptr");
    ZOL_LOG(ZOL_LOG_TRACE, "%s() entry", __func__);
    zol_reqlist_entry_type waiting;
    if (!have_params || !find_waiting_request(ev::SUPS_INTERROGATE_SS_CONF, waiting)) {
        handler_exit(__func__);
        return;
    }
    // A null payload reads as an empty one: the waiting request is answered with a failure.
    answer_interrogation(waiting, PayloadView(have_conf ? params_ptr->data : nullptr, params_ptr->datalen),
                         zol_malloc);
}

} // extern "C"
