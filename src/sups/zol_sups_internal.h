// Supplementary services: the records exchanged with the stack, the mappings
// between the host's arguments and the stack's service codes, and the steps
// the query and set handlers share.
#ifndef ZOL_SUPS_INTERNAL_H
#define ZOL_SUPS_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "common/zol_messages.h"
#include "common/zol_payload.h"
#include "flow/zol_flow.h"

namespace zol::sups {

// SS operations; each is confirmed by a stack message of its own.
constexpr uint32_t kOpNone = 0;
constexpr uint32_t kOpRegister = 1;
constexpr uint32_t kOpErase = 2;
constexpr uint32_t kOpActivate = 3;
constexpr uint32_t kOpDeactivate = 4;
constexpr uint32_t kOpInterrogate = 5;

// The confirmation a request of this operation waits for, as its pending
// event id; 0 for no operation.
constexpr uint32_t confirmation_of(uint32_t op)
{
    switch (op) {
    case kOpRegister:
        return ev::SUPS_REGISTER_SS_CONF;
    case kOpErase:
        return ev::SUPS_ERASE_SS_CONF;
    case kOpActivate:
        return ev::SUPS_ACTIVATE_SS_CONF;
    case kOpDeactivate:
        return ev::SUPS_DEACTIVATE_SS_CONF;
    case kOpInterrogate:
        return ev::SUPS_INTERROGATE_SS_CONF;
    default:
        return 0;
    }
}

// SS codes: the service a request or confirmation is about.
constexpr uint32_t kCodeNone = 0;
constexpr uint32_t kCodeCallWaiting = 1;
constexpr uint32_t kCodeForwardingUnconditional = 3;
constexpr uint32_t kCodeClip = 15;
constexpr uint32_t kCodeClir = 16;
constexpr uint32_t kCodeColp = 17;
constexpr uint32_t kCodeColr = 18;

// The host's forwarding reasons 0 to 5 and the codes they stand for.
constexpr uint32_t kForwardingCodeOfReason[] = {3, 5, 6, 7, 2, 4};

// Code of a forwarding reason; kCodeNone for a reason the host does not define.
constexpr uint32_t code_of_forwarding_reason(int32_t reason)
{
    return reason >= 0 && reason < 6 ? kForwardingCodeOfReason[reason] : kCodeNone;
}

// Reason of a forwarding code; -1 for a code that is not a forwarding service.
constexpr int32_t forwarding_reason_of_code(uint32_t code)
{
    for (int32_t reason = 0; reason < 6; ++reason) {
        if (kForwardingCodeOfReason[reason] == code) {
            return reason;
        }
    }
    return -1;
}
static_assert(forwarding_reason_of_code(code_of_forwarding_reason(2)) == 2);
static_assert(forwarding_reason_of_code(kCodeClip) == -1);

// Barring facilities in the order they are looked for in the host's text;
// a query knows only the first five.
struct Facility {
    const char *name;
    uint32_t code;
};
constexpr Facility kFacilities[] = {{"AO", 9},  {"OI", 10}, {"OX", 11}, {"AI", 13},
                                    {"IR", 14}, {"AG", 8},  {"AC", 12}};
constexpr size_t kQueryFacilities = 5;
constexpr size_t kSetFacilities = sizeof(kFacilities) / sizeof(kFacilities[0]);

// Code of the first of the first `known` facilities found in the text.
uint32_t code_of_facility(const char *text, size_t known);

// The SS request, payload of message 51.
struct SsRequestLayout {
    static constexpr size_t kCmdType = 0;
    static constexpr size_t kSsCode = 5;
    static constexpr size_t kNumberPresent = 9;
    static constexpr size_t kNumberLen = 13;
    static constexpr size_t kNumber = 14;
    static constexpr size_t kNumberWidth = 41;
    static constexpr size_t kNoReplyTimePresent = 55;
    static constexpr size_t kNoReplyTime = 59;
    static constexpr size_t kBasicServicePresent = 60;
    static constexpr size_t kBasicServiceType = 64;
    static constexpr size_t kServiceClass = 68;
    static constexpr size_t kTimeIntervalPresent = 69;
    static constexpr size_t kTimeInterval = 73;
    static constexpr size_t kTimeIntervalWidth = 30;
    static constexpr size_t kPasswordPresent = 103;
    static constexpr size_t kPassword = 107;
    static constexpr size_t kPasswordWidth = 60;
    static constexpr size_t kSize = 167;
};
static_assert(SsRequestLayout::kCmdType + 4 + 1 == SsRequestLayout::kSsCode);
static_assert(SsRequestLayout::kSsCode + 4 == SsRequestLayout::kNumberPresent);
static_assert(SsRequestLayout::kNumberPresent + 4 == SsRequestLayout::kNumberLen);
static_assert(SsRequestLayout::kNumberLen + 1 == SsRequestLayout::kNumber);
static_assert(SsRequestLayout::kNumber + SsRequestLayout::kNumberWidth ==
              SsRequestLayout::kNoReplyTimePresent);
static_assert(SsRequestLayout::kNoReplyTimePresent + 4 == SsRequestLayout::kNoReplyTime);
static_assert(SsRequestLayout::kNoReplyTime + 1 == SsRequestLayout::kBasicServicePresent);
static_assert(SsRequestLayout::kBasicServicePresent + 4 == SsRequestLayout::kBasicServiceType);
static_assert(SsRequestLayout::kBasicServiceType + 4 == SsRequestLayout::kServiceClass);
static_assert(SsRequestLayout::kServiceClass + 1 == SsRequestLayout::kTimeIntervalPresent);
static_assert(SsRequestLayout::kTimeIntervalPresent + 4 == SsRequestLayout::kTimeInterval);
static_assert(SsRequestLayout::kTimeInterval + SsRequestLayout::kTimeIntervalWidth ==
              SsRequestLayout::kPasswordPresent);
static_assert(SsRequestLayout::kPasswordPresent + 4 == SsRequestLayout::kPassword);
static_assert(SsRequestLayout::kPassword + SsRequestLayout::kPasswordWidth ==
              SsRequestLayout::kSize);

using SsRequest = PayloadBuilder<SsRequestLayout::kSize>;

// The SS confirmation, payload of the five confirmations.
struct SsConfLayout {
    static constexpr size_t kSuccess = 0;
    static constexpr size_t kInfoType = 5;
    // Information type 5: the status of one service.
    static constexpr size_t kStatusSsCode = 13;
    static constexpr size_t kStatusPresent = 17;
    static constexpr size_t kStatusActive = 33;
    static constexpr size_t kStatusEnd = 37;
    // Information type 3: the forwarding feature list.
    static constexpr size_t kListPresent = 159;
    static constexpr size_t kListLength = 163;
    static constexpr size_t kListEntries = 164;
};
static_assert(SsConfLayout::kSuccess + 4 + 1 == SsConfLayout::kInfoType);
static_assert(SsConfLayout::kStatusActive + 4 == SsConfLayout::kStatusEnd);
static_assert(SsConfLayout::kListPresent + 4 == SsConfLayout::kListLength);
static_assert(SsConfLayout::kListLength + 1 == SsConfLayout::kListEntries);

constexpr uint32_t kInfoForwardingList = 3;
constexpr uint32_t kInfoStatus = 5;

// One entry of the forwarding feature list.
struct ForwardingFeatureLayout {
    static constexpr size_t kBasicServicePresent = 0;
    static constexpr size_t kBasicServiceType = 4;
    static constexpr size_t kStatusPresent = 9;
    static constexpr size_t kSsActive = 25;
    static constexpr size_t kNumberLen = 33;
    static constexpr size_t kNumber = 34;
    static constexpr size_t kNumberWidth = 41;
    static constexpr size_t kNoReplyTimePresent = 75;
    static constexpr size_t kNoReplyTime = 79;
    static constexpr size_t kSsCodePresent = 80;
    static constexpr size_t kSsCode = 84;
    static constexpr size_t kSize = 88;
};
static_assert(ForwardingFeatureLayout::kBasicServiceType + 4 + 1 ==
              ForwardingFeatureLayout::kStatusPresent);
static_assert(ForwardingFeatureLayout::kSsActive + 4 + 4 == ForwardingFeatureLayout::kNumberLen);
static_assert(ForwardingFeatureLayout::kNumberLen + 1 == ForwardingFeatureLayout::kNumber);
static_assert(ForwardingFeatureLayout::kNumber + ForwardingFeatureLayout::kNumberWidth ==
              ForwardingFeatureLayout::kNoReplyTimePresent);
static_assert(ForwardingFeatureLayout::kNoReplyTime + 1 == ForwardingFeatureLayout::kSsCodePresent);
static_assert(ForwardingFeatureLayout::kSsCode + 4 == ForwardingFeatureLayout::kSize);
static_assert(ForwardingFeatureLayout::kNumberWidth == SsRequestLayout::kNumberWidth);

// The module-wide CLIR mode the last interrogation reported.
int32_t clir_mode();
void set_clir_mode(int32_t mode);

// Confirmation side of an interrogation: answers the handler's claimed
// request from the confirmation payload. alloc is zol_malloc in the module;
// it stands apart so that failing allocations can be exercised.
using Allocator = void *(*)(size_t);
void answer_interrogation(Handler &h, const PayloadView &conf, Allocator alloc);

} // namespace zol::sups

#endif // ZOL_SUPS_INTERNAL_H
