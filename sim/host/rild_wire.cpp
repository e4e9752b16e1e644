#include "rild_wire.h"

#include <algorithm>
#include <cstring>

namespace zol_host {
namespace {

// The length word, the little-endian header words, then the payload, written
// into a vector sized once.
std::vector<uint8_t> build(std::initializer_list<int32_t> head, std::span<const uint8_t> payload)
{
    const size_t body = head.size() * 4 + payload.size();
    std::vector<uint8_t> out(4 + body);
    uint8_t *p = out.data();
    const auto length = static_cast<uint32_t>(body);
    p[0] = static_cast<uint8_t>(length >> 24);
    p[1] = static_cast<uint8_t>(length >> 16);
    p[2] = static_cast<uint8_t>(length >> 8);
    p[3] = static_cast<uint8_t>(length);
    p += 4;
    for (const int32_t w : head) {
        memcpy(p, &w, 4);
        p += 4;
    }
    if (!payload.empty()) {
        memcpy(p, payload.data(), payload.size());
    }
    return out;
}

std::optional<std::vector<uint8_t>> frame(std::initializer_list<int32_t> head,
                                          std::span<const uint8_t> payload)
{
    if (head.size() * 4 + payload.size() > kMaxFrameBody) {
        return std::nullopt;
    }
    return build(head, payload);
}

} // namespace

std::vector<FrameReader::Event> FrameReader::feed(std::span<const uint8_t> bytes)
{
    std::vector<Event> events;
    while (!bytes.empty()) {
        if (skipping_ > 0) {
            const size_t n = std::min<size_t>(skipping_, bytes.size());
            skipping_ -= static_cast<uint32_t>(n);
            bytes = bytes.subspan(n);
            continue;
        }
        // The length word first, then as much of the body as has come.
        const size_t want_head = buffer_.size() < 4 ? 4 - buffer_.size() : 0;
        if (want_head > 0) {
            const size_t n = std::min(want_head, bytes.size());
            buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<long>(n));
            bytes = bytes.subspan(n);
            if (buffer_.size() < 4) {
                break;
            }
        }
        const uint32_t length = static_cast<uint32_t>(buffer_[0]) << 24 | buffer_[1] << 16 |
                                buffer_[2] << 8 | buffer_[3];
        if (length > kMaxFrameBody) {
            events.push_back({Event::Oversized, {}, length});
            buffer_.clear();
            skipping_ = length;
            continue;
        }
        const size_t have = buffer_.size() - 4;
        const size_t n = std::min<size_t>(length - have, bytes.size());
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<long>(n));
        bytes = bytes.subspan(n);
        if (buffer_.size() - 4 == length) {
            events.push_back(
                {Event::Frame, std::vector<uint8_t>(buffer_.begin() + 4, buffer_.end()), length});
            buffer_.clear();
        }
    }
    return events;
}

std::optional<std::string> FrameReader::unfinished() const
{
    if (skipping_ > 0) {
        return "an oversized frame was cut short " + std::to_string(skipping_) +
               " bytes before its end";
    }
    if (buffer_.empty()) {
        return std::nullopt;
    }
    if (buffer_.size() < 4) {
        return "a frame was cut short inside its length word (" + std::to_string(buffer_.size()) +
               " of 4 bytes)";
    }
    const uint32_t length =
        static_cast<uint32_t>(buffer_[0]) << 24 | buffer_[1] << 16 | buffer_[2] << 8 | buffer_[3];
    return "a frame was cut short: " + std::to_string(buffer_.size() - 4) + " of " +
           std::to_string(length) + " bytes";
}

std::optional<RequestHeader> read_request_header(std::span<const uint8_t> body)
{
    if (body.size() < 8) {
        return std::nullopt;
    }
    RequestHeader h;
    memcpy(&h.request, body.data(), 4);
    memcpy(&h.serial, body.data() + 4, 4);
    h.payload = body.subspan(8);
    return h;
}

std::optional<std::vector<uint8_t>> reply_frame(int32_t serial, int32_t error,
                                                std::span<const uint8_t> payload)
{
    return frame({0, serial, error}, payload);
}

std::optional<std::vector<uint8_t>> unsol_frame(int32_t number, std::span<const uint8_t> payload)
{
    return frame({1, number}, payload);
}

std::vector<uint8_t> request_frame(int32_t request, int32_t serial,
                                   std::span<const uint8_t> payload)
{
    return build({request, serial}, payload);
}

} // namespace zol_host
