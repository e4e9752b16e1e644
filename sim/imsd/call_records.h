// Payloads of the call messages, both ways: packed, little-endian. Offsets are
// those the module writes and reads; fields it does not read carry what a stack
// would plausibly put there.
#ifndef ZOL_IMSD_CALL_RECORDS_H
#define ZOL_IMSD_CALL_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "model.h"

namespace zol::imsd {

using Bytes = std::vector<uint8_t>;
using Payload = std::span<const uint8_t>;

// Call message ids, both ways.
namespace msg {
inline constexpr uint16_t kDial = 1;
inline constexpr uint16_t kAnswer = 2; // answer and reject
inline constexpr uint16_t kMtInviteResponse = 3;
inline constexpr uint16_t kReleaseCalls = 4;
inline constexpr uint16_t kDtmfStart = 5;
inline constexpr uint16_t kDtmfStop = 6;
inline constexpr uint16_t kCallModify = 9;
inline constexpr uint16_t kCallModifyResponse = 10;
inline constexpr uint16_t kConferenceJoin = 12;
inline constexpr uint16_t kConferenceSplit = 15;
inline constexpr uint16_t kSwap = 18;

inline constexpr uint16_t kMtInviteInd = 30002;
inline constexpr uint16_t kMtRingCnfInd = 30003;
inline constexpr uint16_t kConnectedInd = 30004;
inline constexpr uint16_t kEndInd = 30005;
inline constexpr uint16_t kMoProgressInd = 30006;
inline constexpr uint16_t kHoldInd = 30007;
inline constexpr uint16_t kRetrieveInd = 30008;
inline constexpr uint16_t kSupsConf = 30009;
inline constexpr uint16_t kModifyCnfInd = 30013;
inline constexpr uint16_t kModifyInd = 30014;
inline constexpr uint16_t kAudioCodecInd = 30015;
inline constexpr uint16_t kDtmfStartConf = 30016;
inline constexpr uint16_t kDtmfStopConf = 30017;
inline constexpr uint16_t kConferenceInfoInd = 30019;
inline constexpr uint16_t kSrvccInd = 30020;
inline constexpr uint16_t kCurCallInd = 30021;
inline constexpr uint16_t kForwardInd = 30023;
} // namespace msg

inline constexpr uint8_t kNoCallId = 0xFF; // names no particular call
inline constexpr uint32_t kVoiceVideoDir = 0xFFFFFFFFu;
inline constexpr size_t kDialLen = 1655;
inline constexpr size_t kDialDigitsMax = 128;
inline constexpr size_t kMtInviteLen = 154;

// Message 1.
struct DialRequest {
    std::string number;       // the digits; "Conference Call" for a conference
    uint32_t number_kind = 0; // 1 a normal call, 2 a conference
    uint32_t call_type = 0;
    uint32_t video_dir = 0;
    std::string participants; // conference only
};
std::optional<DialRequest> decode_dial(Payload p);

// Message 2 (1526 bytes) and message 3 (its first 9 bytes; type and direction 0).
struct CallResponse {
    uint8_t call_id = 0;
    uint32_t accept = 0;
    uint32_t reject_cause = 0;
    uint32_t call_type = 0;
    uint32_t video_dir = 0;
};
std::optional<CallResponse> decode_call_response(Payload p);

// Message 4. Kinds: 1 the call with this index, 2 waiting or background calls,
// 3 foreground calls, then resume the background.
struct ReleaseRequest {
    uint8_t index = 0;
    uint8_t kind = 0;
};
std::optional<ReleaseRequest> decode_release(Payload p);

// Message 5: the DTMF character is byte 1.
std::optional<char> decode_dtmf_start(Payload p);

// Message 9.
struct ModifyRequest {
    uint8_t call_id = 0;
    uint32_t call_type = 0; // 0 when the host's type was out of range
    uint32_t video_dir = 0;
};
std::optional<ModifyRequest> decode_modify_request(Payload p);

// Message 10; it names no call.
struct ModifyResponse {
    uint32_t accept = 0;
    uint32_t call_type = 0;
    uint32_t video_dir = 0;
};
std::optional<ModifyResponse> decode_modify_response(Payload p);

// Message 15: the connection index.
std::optional<uint8_t> decode_split(Payload p);

// 30002: laid out like the start of the dial message.
Bytes encode_mt_invite(const Call &call);
// Indications that only name a call: 30003, 30004, 30007, 30008, 30019, 30023.
Bytes encode_call_id(uint8_t call_id);
// 30005.
Bytes encode_call_end(uint8_t call_id, uint32_t end_cause);
// 30006: the call's new state (stack numbering).
Bytes encode_mo_progress(uint8_t call_id, CallState state);
// 30015.
Bytes encode_audio_codec(uint8_t call_id, uint32_t codec);
// 30016 and 30017: result flag, non-zero for success.
Bytes encode_dtmf_conf(uint8_t call_id, uint32_t result);
// 30014.
Bytes encode_modify_ind(uint8_t call_id, uint32_t call_type, uint32_t video_dir);
// 30013: as 30014, with the result (1 done, 0 not) in the word the module skips there.
Bytes encode_modify_cnf(uint8_t call_id, uint32_t call_type, uint32_t result, uint32_t video_dir);
// 30009: result of a hold, retrieve or conference operation.
Bytes encode_sups_conf(uint8_t call_id, uint32_t result, uint32_t cause);
// 30020.
Bytes encode_srvcc(uint32_t handover_type);

} // namespace zol::imsd

#endif
