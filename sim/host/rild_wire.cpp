#include "rild_wire.h"

#include <algorithm>
#include <cstring>

namespace zol_host {
namespace {

void put_be32(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void put_le32(std::vector<uint8_t> &out, int32_t v)
{
    uint8_t b[4];
    memcpy(b, &v, 4);
    out.insert(out.end(), b, b + 4);
}

std::optional<std::vector<uint8_t>> frame(std::initializer_list<int32_t> head,
                                          std::span<const uint8_t> payload)
{
    const size_t body = head.size() * 4 + payload.size();
    if (body > kMaxFrameBody) {
        return std::nullopt;
    }
    std::vector<uint8_t> out;
    out.reserve(4 + body);
    put_be32(out, static_cast<uint32_t>(body));
    for (const int32_t w : head) {
        put_le32(out, w);
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
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
            events.push_back({Event::Frame, std::vector<uint8_t>(buffer_.begin() + 4, buffer_.end()),
                              length});
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
    const uint32_t length = static_cast<uint32_t>(buffer_[0]) << 24 | buffer_[1] << 16 |
                            buffer_[2] << 8 | buffer_[3];
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
    std::vector<uint8_t> out;
    put_be32(out, static_cast<uint32_t>(8 + payload.size()));
    put_le32(out, request);
    put_le32(out, serial);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

} // namespace zol_host
