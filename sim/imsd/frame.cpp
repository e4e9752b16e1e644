#include "frame.h"

#include "text.h"

namespace zol::imsd {

namespace {

uint32_t get_be32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

} // namespace

std::vector<uint8_t> encode_frame(const Frame &frame)
{
    std::vector<uint8_t> bytes(kFrameHeaderLen + frame.payload.size());
    bytes[0] = 0;
    put_be32(&bytes[1], static_cast<uint32_t>(frame.token));
    bytes[5] = static_cast<uint8_t>(frame.message >> 8);
    bytes[6] = static_cast<uint8_t>(frame.message);
    put_be32(&bytes[7], static_cast<uint32_t>(frame.payload.size()));
    std::copy(frame.payload.begin(), frame.payload.end(), bytes.begin() + kFrameHeaderLen);
    return bytes;
}

bool decode_frame(std::span<const uint8_t> packet, Frame &frame, std::string &error)
{
    if (packet.size() < kFrameHeaderLen) {
        error = strf("%zu bytes, shorter than a header", packet.size());
        return false;
    }
    if (packet[0] != 0) {
        error = strf("lead byte 0x%02x", packet[0]);
        return false;
    }
    const uint32_t length = get_be32(&packet[7]);
    const size_t arrived = packet.size() - kFrameHeaderLen;
    if (length != arrived) {
        error = strf("length field %u, %zu payload bytes arrived", length, arrived);
        return false;
    }
    frame.token = static_cast<int32_t>(get_be32(&packet[1]));
    frame.message = static_cast<uint16_t>(packet[5] << 8 | packet[6]);
    frame.payload.assign(packet.begin() + kFrameHeaderLen, packet.end());
    return true;
}

} // namespace zol::imsd
