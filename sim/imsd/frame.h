// The IPC frame: an 11-byte big-endian header (lead byte 0, token id, message id,
// payload length) followed by the payload.
#ifndef ZOL_IMSD_FRAME_H
#define ZOL_IMSD_FRAME_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zol::imsd {

inline constexpr size_t kFrameHeaderLen = 11;

struct Frame {
    int32_t token = 0;
    uint16_t message = 0;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> encode_frame(const Frame &frame);

// Fills `frame` from one received packet; on a malformed packet returns false and
// says why in `error`. The length field must match the bytes that arrived.
bool decode_frame(std::span<const uint8_t> packet, Frame &frame, std::string &error);

} // namespace zol::imsd

#endif
