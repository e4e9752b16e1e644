// Call records shared by the call-control handlers.
#ifndef ZOL_CM_INTERNAL_H
#define ZOL_CM_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "ril.h"

namespace zol::cm {

// The MT invite response goes out under the token id of stack events.
constexpr int32_t kNoRequestTokenId = 0xFFFF;
// A call id (or connection index) that names no particular call.
constexpr uint8_t kAnyCall = 0xFF;
// The word that follows the call type in every call type block the module sends.
constexpr uint32_t kFixedWord = 3;
constexpr uint32_t kVoiceVideoDirection = 0xFFFFFFFF;

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
static_assert(CallEntryLayout::kText + CallEntryLayout::kTextWidth ==
              CallEntryLayout::kVideoDirection);
static_assert(CallEntryLayout::kNumber + CallEntryLayout::kNumberWidth ==
              CallEntryLayout::kDirection);

// Stack dial message (message 1). call_att is four words: a mark, the fixed
// word, the video direction and a reserved word.
struct DialLayout {
    static constexpr size_t kSize = 1655;
    static constexpr size_t kCallId = 0;
    static constexpr size_t kDigits = 1;
    static constexpr size_t kDigitsWidth = 128;
    static constexpr size_t kDigitCount = 129;
    static constexpr size_t kNumberKind = 130;
    static constexpr size_t kCallType = 134;
    static constexpr size_t kAttrMark = 138;
    static constexpr size_t kAttrFixed = 142;
    static constexpr size_t kAttrVideo = 146;
    static constexpr size_t kAttrReserved = 150;
    static constexpr size_t kParticipants = 154;
    static constexpr size_t kParticipantsWidth = 1501;
    // One byte of the field always stays zero, so the list stays terminated.
    static constexpr size_t kParticipantsCopied = 1500;
};
static_assert(DialLayout::kDigits + DialLayout::kDigitsWidth == DialLayout::kDigitCount);
static_assert(DialLayout::kDigitCount + 1 == DialLayout::kNumberKind);
static_assert(DialLayout::kNumberKind + 4 == DialLayout::kCallType);
static_assert(DialLayout::kCallType + 4 == DialLayout::kAttrMark);
static_assert(DialLayout::kAttrMark + 12 == DialLayout::kAttrReserved);
static_assert(DialLayout::kAttrReserved + 4 == DialLayout::kParticipants);
static_assert(DialLayout::kParticipants + DialLayout::kParticipantsWidth == DialLayout::kSize);
static_assert(DialLayout::kParticipantsCopied < DialLayout::kParticipantsWidth);

constexpr uint32_t kDialAttrMark = 64;
constexpr uint32_t kNumberKindNormal = 1;
constexpr uint32_t kNumberKindConference = 2;

// The stack's invitation (eTKM_CALL_MT_INVITE_IND): it starts like the dial message.
struct InviteLayout {
    static constexpr size_t kCallId = 0;
    static constexpr size_t kNumber = 1;
    static constexpr size_t kNumberWidth = 128;
    static constexpr size_t kCallType = 134;
    static constexpr size_t kReadSize = 138; // every field the module reads
};
static_assert(InviteLayout::kNumber == DialLayout::kDigits);
static_assert(InviteLayout::kNumberWidth == DialLayout::kDigitsWidth);
static_assert(InviteLayout::kCallType == DialLayout::kCallType);
static_assert(InviteLayout::kCallType + 4 == InviteLayout::kReadSize);

// Call response record: answer and reject (message 2) and, in its first
// bytes, the MT invite response (message 3).
struct CallResponseLayout {
    static constexpr size_t kSize = 1526;
    static constexpr size_t kInviteRspSize = 9;
    static constexpr size_t kCallId = 0;
    static constexpr size_t kAccept = 1;
    static constexpr size_t kRejectCause = 5;
    static constexpr size_t kCallType = 9;
    static constexpr size_t kFixed = 13;
    static constexpr size_t kVideo = 17;
    static constexpr size_t kUnused = 21;
    static constexpr size_t kUnusedWidth = 1505;
};
static_assert(CallResponseLayout::kAccept + 4 == CallResponseLayout::kRejectCause);
static_assert(CallResponseLayout::kRejectCause + 4 == CallResponseLayout::kInviteRspSize);
static_assert(CallResponseLayout::kInviteRspSize == CallResponseLayout::kCallType);
static_assert(CallResponseLayout::kCallType + 4 == CallResponseLayout::kFixed);
static_assert(CallResponseLayout::kFixed + 4 == CallResponseLayout::kVideo);
static_assert(CallResponseLayout::kVideo + 4 == CallResponseLayout::kUnused);
static_assert(CallResponseLayout::kUnused + CallResponseLayout::kUnusedWidth ==
              CallResponseLayout::kSize);

// Hang-up (message 4): connection index, kind, three zero bytes.
struct HangupLayout {
    static constexpr size_t kSize = 5;
    static constexpr size_t kIndex = 0;
    static constexpr size_t kKind = 1;
};
static_assert(HangupLayout::kKind + 1 + 3 == HangupLayout::kSize);
constexpr uint8_t kHangupOne = 1;
constexpr uint8_t kHangupWaitingOrBackground = 2;
constexpr uint8_t kHangupForegroundResumeBackground = 3;

// DTMF start (message 5) and stop (message 6); both name no particular call.
struct DtmfLayout {
    static constexpr size_t kStartSize = 2;
    static constexpr size_t kStopSize = 5;
    static constexpr size_t kCallId = 0;
    static constexpr size_t kTone = 1;
};
static_assert(DtmfLayout::kTone + 1 == DtmfLayout::kStartSize);

// DTMF start and stop confirmations.
struct DtmfConfLayout {
    static constexpr size_t kCallId = 0;
    static constexpr size_t kResult = 1;
    static constexpr size_t kReadSize = 5;
};
static_assert(DtmfConfLayout::kResult + 4 == DtmfConfLayout::kReadSize);

// Call type block of the modify messages: call type, fixed word, video direction.
struct CallTypeBlockLayout {
    static constexpr size_t kCallType = 0;
    static constexpr size_t kFixed = 4;
    static constexpr size_t kVideo = 8;
    static constexpr size_t kSize = 12;
};
static_assert(CallTypeBlockLayout::kVideo + 4 == CallTypeBlockLayout::kSize);

// Call modify request (message 9) and response (message 10).
struct ModifyLayout {
    static constexpr size_t kRequestSize = 1517;
    static constexpr size_t kRequestBlock = 1;
    static constexpr size_t kResponseSize = 1521;
    static constexpr size_t kResponseAnswer = 1;
    static constexpr size_t kResponseBlock = 5;
    static constexpr size_t kCallId = 0;
};
static_assert(ModifyLayout::kCallId + 1 == ModifyLayout::kRequestBlock);
static_assert(ModifyLayout::kResponseAnswer + 4 == ModifyLayout::kResponseBlock);
static_assert(ModifyLayout::kResponseSize == ModifyLayout::kRequestSize + 4);

// The stack's modify indication (eTKM_CALL_MODIFY_IND).
struct ModifyIndLayout {
    static constexpr size_t kCallId = 0;
    static constexpr size_t kCallType = 1;
    static constexpr size_t kVideo = 9;
    static constexpr size_t kReadSize = 13;
};
static_assert(ModifyIndLayout::kVideo + 4 == ModifyIndLayout::kReadSize);

// Call progress indications.
struct ProgressIndLayout {
    static constexpr size_t kCallId = 0;   // connected and conference info
    static constexpr size_t kEndCause = 1; // end indication
    static constexpr size_t kEndReadSize = 5;
    static constexpr size_t kSrvccType = 0; // SRVCC indication
    static constexpr size_t kSrvccReadSize = 4;
};
static_assert(ProgressIndLayout::kEndCause + 4 == ProgressIndLayout::kEndReadSize);

// Call hold notification values (the 27.007 unsolicited codes).
constexpr int32_t kHoldNotificationHeld = 2;
constexpr int32_t kHoldNotificationRetrieved = 3;
// Supplementary service notification code of a forwarded call.
constexpr int32_t kSuppSvcCodeForwarded = 2;

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

// Call type block of a modify request or response for a host call type.
// valid is false for host call types outside 0 to 3 (the block stays zero).
struct CallTypeBlock {
    bool valid;
    uint32_t answer; // the modify response's answer flag
    uint32_t call_type;
    uint32_t fixed;
    uint32_t video;
};
CallTypeBlock call_type_block(int32_t host_call_type);

// Host call type of a modify indication: unlike the call list, a video call
// with an unknown direction is reported as 0.
int32_t modify_ind_host_call_type(uint32_t stack_call_type, uint32_t video_direction);

// The three texts of an incoming call invitation for the host, and the
// pointer array that is its unsolicited data.
struct InviteTexts {
    char call_id[4];
    char call_type[12];
    char number[InviteLayout::kNumberWidth + 1];
    char *texts[3];
};
// False when the payload does not carry every field read.
bool invite_texts(const void *payload, uint32_t payload_len, InviteTexts &out);

// The last end cause the stack reported (0 until the first end indication).
int32_t last_end_cause();

} // namespace zol::cm

#endif // ZOL_CM_INTERNAL_H
