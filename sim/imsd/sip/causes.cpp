#include "sip/causes.h"

namespace zol::imsd::sip {

namespace {

struct Row {
    uint16_t status;
    uint32_t cause;
};

// Final responses and their causes, after the usual SIP-to-ISUP mapping.
constexpr Row kTable[] = {
    {400, q850::kTemporaryFailure},
    {401, q850::kCallRejected},
    {402, q850::kCallRejected},
    {403, q850::kCallRejected},
    {404, q850::kUnallocatedNumber},
    {405, 63}, // service or option unavailable
    {406, 79}, // service or option not implemented
    {407, q850::kCallRejected},
    {408, q850::kTimerExpired},
    {410, 22}, // number changed
    {413, q850::kInterworking},
    {414, q850::kInterworking},
    {415, 79},
    {416, q850::kInterworking},
    {420, q850::kInterworking},
    {421, q850::kInterworking},
    {423, q850::kInterworking},
    {480, q850::kNoUserResponding},
    {481, q850::kTemporaryFailure},
    {482, 25}, // exchange routing error
    {483, 25},
    {484, 28}, // invalid number format
    {485, q850::kUnallocatedNumber},
    {486, q850::kUserBusy},
    {487, q850::kNormalClearing}, // the request was cancelled
    {488, 88},                    // incompatible destination: no media both sides have
    {500, q850::kTemporaryFailure},
    {501, 79},
    {502, q850::kNetworkOutOfOrder},
    {503, q850::kTemporaryFailure},
    {504, q850::kTimerExpired},
    {505, q850::kInterworking},
    {513, q850::kInterworking},
    {600, q850::kUserBusy},
    {603, q850::kCallRejected},
    {604, q850::kUnallocatedNumber},
    {606, 88},
};

} // namespace

uint32_t cause_for_status(uint16_t status, bool alerted)
{
    if (status == 480 && alerted) {
        return q850::kNoAnswer;
    }
    for (const Row &row : kTable) {
        if (row.status == status) {
            return row.cause;
        }
    }
    // Responses the table does not know: by their class.
    if (status >= 500 && status < 600) {
        return q850::kTemporaryFailure;
    }
    return status >= 300 && status < 400 ? q850::kInterworking : q850::kNormalUnspecified;
}

uint32_t cause_for_silence(bool timed_out)
{
    return timed_out ? q850::kTimerExpired : q850::kNetworkOutOfOrder;
}

} // namespace zol::imsd::sip
