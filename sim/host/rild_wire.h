// The framing of the classic rild socket: each frame is a 4-byte big-endian
// length and then a parcel. From the client: request number, serial, payload.
// To the client: a solicited reply (type 0, serial, error, payload) or an
// unsolicited response (type 1, number, payload).
#ifndef ZOL_HOST_RILD_WIRE_H
#define ZOL_HOST_RILD_WIRE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zol_host {

// Longest frame body either side accepts. The classic client keeps frames in
// an 8 KiB buffer with the length word in it, and exits on a longer one.
constexpr size_t kMaxFrameBody = 8188;

// Cuts the client's byte stream into frames. A frame longer than
// kMaxFrameBody is skipped as its bytes arrive, so one bad frame never
// desynchronises the ones after it.
class FrameReader {
public:
    struct Event {
        enum Kind { Frame, Oversized } kind;
        std::vector<uint8_t> body; // Frame: the parcel after the length word
        uint32_t length = 0;       // the length word
    };

    // Takes the bytes just read; the complete frames (and the start of every
    // oversized one) come out in order.
    std::vector<Event> feed(std::span<const uint8_t> bytes);
    // At the end of the connection: what an unfinished frame had, or nothing.
    std::optional<std::string> unfinished() const;

private:
    std::vector<uint8_t> buffer_;
    uint32_t skipping_ = 0; // bytes of an oversized frame still to drop
};

// A request's header; the payload is what follows it.
struct RequestHeader {
    int32_t request = 0;
    int32_t serial = 0;
    std::span<const uint8_t> payload;
};
// Nothing when the frame is too short to hold the request number and serial.
std::optional<RequestHeader> read_request_header(std::span<const uint8_t> body);

// Whole frames, length word included. Nothing when the body would be longer
// than the client accepts.
std::optional<std::vector<uint8_t>> reply_frame(int32_t serial, int32_t error,
                                                std::span<const uint8_t> payload);
std::optional<std::vector<uint8_t>> unsol_frame(int32_t number, std::span<const uint8_t> payload);
// A request frame, as a client sends it (tests and tools).
std::vector<uint8_t> request_frame(int32_t request, int32_t serial,
                                   std::span<const uint8_t> payload);

} // namespace zol_host

#endif
