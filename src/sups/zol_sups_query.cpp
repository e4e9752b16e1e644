// Supplementary service queries: the interrogation request for the seven
// query requests, and the interrogation confirmation that builds the host's
// answer (a status word, a status pair or a call forwarding list).
#include <cstring>

#include "flow/zol_flow.h"
#include "log/zol_diag.h"
#include "runtime/zol_owned.h"
#include "sups/zol_sups_internal.h"
#include "zol/zol_sups.h"

namespace zol::sups {

namespace {

constexpr const char *kReplySuccess = "Reply to RIL --> zol_send_request_response RIL_E_SUCCESS\n";
constexpr const char *kReplyFailure =
    "Reply to RIL --> zol_send_request_response RIL_E_GENERIC_FAILURE\n";

// A forwarding number as a text: the entry's characters and a terminator.
constexpr size_t kNumberTextSize = ForwardingFeatureLayout::kNumberWidth + 1;

// The claimed request's answer is a failure: the handler's guard gives it,
// and no exit line follows.
void answer_failure(Handler &h)
{
    ZOL_LOG(ZOL_LOG_TRACE, "%s", kReplyFailure);
    h.end(Exit::none);
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

void answer_mismatch(Handler &h, uint32_t info_type)
{
    ZOL_LOG(ZOL_LOG_ERROR, "%s: information type %d does not answer request %d\n", h.name(),
            static_cast<int>(info_type), static_cast<int>(h.claimed().request));
    answer_failure(h);
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
    return present == 0 ||
           conf.has(L::kListEntries, size_t{count} * ForwardingFeatureLayout::kSize);
}

void answer_forwarding_list(Handler &h, const PayloadView &conf, Allocator alloc)
{
    using L = ForwardingFeatureLayout;
    uint32_t present = 0;
    uint8_t count = 0;
    conf.u32(SsConfLayout::kListPresent, present);
    conf.u8(SsConfLayout::kListLength, count);
    ZOL_LOG(ZOL_LOG_TRACE, "%s b_present=%d forwarding_feature_list_length=%d", h.name(),
            static_cast<int>(present), count);
    if (present == 0 || count == 0) {
        h.complete(RIL_E_SUCCESS);
        return;
    }
    if (!answers_with_list(h.claimed())) {
        answer_mismatch(h, kInfoForwardingList);
        return;
    }

    // Records, their number texts and the pointer array live until the host
    // has taken the answer. A failed allocation still answers the request
    // (code 2): its entry has been claimed, and nobody else would answer it.
    const Owned<RIL_CallForwardInfo> records = allocate<RIL_CallForwardInfo>(count, alloc);
    const Owned<char> numbers = records ? allocate<char>(kNumberTextSize * count, alloc) : nullptr;
    if (!records || !numbers) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Malloc failed in_data_ptr\n");
        answer_failure(h);
        return;
    }
    const Owned<RIL_CallForwardInfo *> pointers = allocate<RIL_CallForwardInfo *>(count, alloc);
    if (!pointers) {
        ZOL_LOG(ZOL_LOG_TRACE, "%s", "Malloc failed in_data_pptr\n");
        answer_failure(h);
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

        RIL_CallForwardInfo &record = records.get()[i];
        record = RIL_CallForwardInfo{};
        if (code_present != 0) {
            ZOL_LOG(ZOL_LOG_TRACE, "%s e_ss_code = %d", h.name(), static_cast<int>(code));
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
        char *number = numbers.get() + i * kNumberTextSize;
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
        pointers.get()[i] = &record;
    }
    h.complete(RIL_E_SUCCESS, pointers.get(),
               static_cast<uint32_t>(sizeof(RIL_CallForwardInfo *) * count));
}

void answer_status(Handler &h, const PayloadView &conf)
{
    using L = SsConfLayout;
    ZOL_LOG(ZOL_LOG_TRACE, "%s",
            "zol_sups_event_interrogate_ss_conf receive eTKM_SUPS_SS_STATUS_INFO\n");
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
    if (answer_len != 0 && answers_with_list(h.claimed())) {
        answer_mismatch(h, kInfoStatus);
        return;
    }
    h.complete(RIL_E_SUCCESS, answer_len != 0 ? answer : nullptr, answer_len);
}

} // namespace

void answer_interrogation(Handler &h, const PayloadView &conf, Allocator alloc)
{
    uint32_t success = 0, info_type = 0;
    // A confirmation too short to say it succeeded is a failure.
    const bool readable = conf.u32(SsConfLayout::kSuccess, success);
    conf.u32(SsConfLayout::kInfoType, info_type);
    ZOL_LOG(ZOL_LOG_TRACE, "%s e_info_type:%d, b_success:%d", h.name(), static_cast<int>(info_type),
            static_cast<int>(success));
    if (!readable || success == 0) {
        answer_failure(h);
        return;
    }
    if (!carries_its_fields(conf, info_type)) {
        ZOL_LOG(ZOL_LOG_ERROR, "%s: information type %d does not fit in %d bytes\n", h.name(),
                static_cast<int>(info_type), static_cast<int>(conf.size()));
        answer_failure(h);
        return;
    }
    ZOL_LOG(ZOL_LOG_TRACE, "%s", kReplySuccess);
    if (info_type == kInfoForwardingList) {
        answer_forwarding_list(h, conf, alloc);
    } else if (info_type == kInfoStatus) {
        answer_status(h, conf);
    } else {
        h.complete(RIL_E_SUCCESS);
    }
}

} // namespace zol::sups

using namespace zol;
using namespace zol::sups;

extern "C" {

void zol_sups_request_query(zol_request_params_type *params_ptr, zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr, {.entry = Entry::none, .exit = Exit::spaced});
    if (!h) {
        return;
    }
    const zol_request_params_type &request = h.request();

    // The facility and the forwarding reason are read before the request is
    // remembered, so that one without them is answered at once and no entry
    // is made for it.
    const char *facility = nullptr;
    int32_t reason = 0;
    if (request.event_id == RIL_REQUEST_QUERY_FACILITY_LOCK) {
        ZOL_NOT_NULL(request.data, "params_ptr->data");
        facility = host_text(request, 0);
        if (facility == nullptr) {
            h.refuse("no facility");
            return h.end(Exit::none);
        }
    } else if (request.event_id == RIL_REQUEST_QUERY_CALL_FORWARD_STATUS) {
        ZOL_NOT_NULL(request.data, "in_data_ptr");
        if (request.data == nullptr ||
            request.datalen < offsetof(RIL_CallForwardInfo, reason) + sizeof(int32_t)) {
            h.refuse("no forwarding reason");
            return h.end(Exit::none);
        }
        memcpy(&reason,
               static_cast<const uint8_t *>(request.data) + offsetof(RIL_CallForwardInfo, reason),
               sizeof reason);
    }

    if (!h.remember(confirmation_of(kOpInterrogate))) {
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
    h.send(msg::SS_REQUEST, payload, "Reply to RIL --> INTERROGATE SS fail,\n");
}

void zol_sups_event_interrogate_ss_conf(zol_request_params_type *params_ptr,
                                        zol_request_return_type *ret_ptr)
{
    Handler h(ZOL_HERE, params_ptr, ret_ptr,
              {.request = false, .data = "sups_interrogate_ind_ptr != ((void *)0)"});
    if (!h || !h.claim(ev::SUPS_INTERROGATE_SS_CONF)) {
        return;
    }
    // A null payload reads as an empty one: the waiting request is answered with a failure.
    answer_interrogation(h, h.payload(), zol_malloc);
}

} // extern "C"
