// The two things the module says to the host, in one call each.
#ifndef ZOL_REPLY_H
#define ZOL_REPLY_H

#include <cstdint>

#include "zol/zol_response.h"

namespace zol {

// Completes one host request (and forgets its pending entry, if any).
void complete_request(RIL_Token t, int32_t request, int32_t ril_errno, void *response = nullptr,
                      uint32_t response_len = 0);

// Sends one unsolicited response.
void send_unsol(int32_t unsol, void *data = nullptr, uint32_t datalen = 0);

} // namespace zol

#endif // ZOL_REPLY_H
