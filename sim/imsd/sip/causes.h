// The one place where SIP outcomes become end causes: Q.850 cause values,
// which is also the numbering the host uses for the last call fail cause.
#ifndef ZOL_IMSD_SIP_CAUSES_H
#define ZOL_IMSD_SIP_CAUSES_H

#include <cstdint>

namespace zol::imsd::sip {

namespace q850 {
inline constexpr uint32_t kUnallocatedNumber = 1;
inline constexpr uint32_t kNormalClearing = 16;
inline constexpr uint32_t kUserBusy = 17;
inline constexpr uint32_t kNoUserResponding = 18;
inline constexpr uint32_t kNoAnswer = 19;
inline constexpr uint32_t kCallRejected = 21;
inline constexpr uint32_t kNormalUnspecified = 31;
inline constexpr uint32_t kNetworkOutOfOrder = 38;
inline constexpr uint32_t kTemporaryFailure = 41;
inline constexpr uint32_t kTimerExpired = 102;
inline constexpr uint32_t kInterworking = 127;
} // namespace q850

// The cause for a final response `status` (300..699) to an INVITE; `alerted`
// when the remote party had rung (a 480 after ringing means nobody answered).
uint32_t cause_for_status(uint16_t status, bool alerted);

// The cause for a request that got no response at all: `timed_out`, or the
// transport failed.
uint32_t cause_for_silence(bool timed_out);

} // namespace zol::imsd::sip

#endif
