// Call records shared by the call-control handlers.
#ifndef ZOL_CM_INTERNAL_H
#define ZOL_CM_INTERNAL_H

#include <cstdint>

#include "reference_zol.h"

namespace zol::cm {

// Stack messages of call control.
constexpr uint16_t kMsgGetCurrentCalls = 17;
constexpr int32_t kEventCurCallInd = 0x17545;

// The stack's current call list: a count byte, then fixed-size call entries.
struct CallEntryLayout {
    static constexpr size_t kSize = 205;
    static constexpr size_t kCallId = 0;
    static constexpr size_t kNumber = 1;
    static constexpr size_t kNumberWidth = 133;
    static constexpr size_t kDirection = 134;
    static constexpr size_t kCallType = 138;
    static constexpr size_t kState = 142;
    static constexpr size_t kAttribute = 146;
    static constexpr size_t kMultiparty = 150;
    static constexpr size_t kText = 151;
    static constexpr size_t kTextWidth = 50;
    static constexpr size_t kVideoDirection = 201;
};
static_assert(CallEntryLayout::kVideoDirection + 4 == CallEntryLayout::kSize);
static_assert(CallEntryLayout::kText + CallEntryLayout::kTextWidth == CallEntryLayout::kVideoDirection);
static_assert(CallEntryLayout::kNumber + CallEntryLayout::kNumberWidth == CallEntryLayout::kDirection);

constexpr uint32_t kStackCallVoice = 1;
constexpr uint32_t kStackCallVideo = 4;
constexpr uint32_t kDirectionMobileTerminated = 1;
constexpr uint32_t kAttributeSignificant = 64;

// Host call state of a stack call state.
int host_call_state(uint32_t stack_state);
// Host call type of a stack call type and video direction.
int host_call_type(uint32_t stack_call_type, uint32_t video_direction);

// Fills one host call record from one call entry of the payload the module
// owns; the record's texts point into the entry. False when the entry does
// not lie wholly inside the payload.
bool convert_call_entry(uint8_t *payload, uint32_t payload_len, size_t entry_offset,
                        RIL_CallIms &out);

} // namespace zol::cm

#endif // ZOL_CM_INTERNAL_H
