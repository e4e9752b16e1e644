#include "call_records.h"

#include <algorithm>

#include "records.h"

namespace zol::imsd {

namespace {

uint32_t u32_at(Payload p, size_t offset)
{
    return uint32_t{p[offset]} | uint32_t{p[offset + 1]} << 8 | uint32_t{p[offset + 2]} << 16 |
           uint32_t{p[offset + 3]} << 24;
}

// Text up to its first zero byte or the end of the field.
std::string text_at(Payload p, size_t offset, size_t width)
{
    const auto begin = p.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, begin + static_cast<std::ptrdiff_t>(width), uint8_t{0});
    return std::string(begin, end);
}

Bytes id_and_word(uint8_t call_id, uint32_t word)
{
    RecordWriter w;
    w.u8(call_id);
    w.u32(word);
    return w.take();
}

} // namespace

std::optional<DialRequest> decode_dial(Payload p)
{
    // The module always sends the whole record; anything shorter is not a dial.
    if (p.size() < kDialLen) {
        return std::nullopt;
    }
    DialRequest d;
    const size_t digits = std::min<size_t>(p[129], kDialDigitsMax);
    d.number.assign(p.begin() + 1, p.begin() + 1 + static_cast<std::ptrdiff_t>(digits));
    d.number_kind = u32_at(p, 130);
    d.call_type = u32_at(p, 134);
    d.video_dir = u32_at(p, 146);
    d.participants = text_at(p, 154, kDialLen - 154);
    return d;
}

std::optional<CallResponse> decode_call_response(Payload p)
{
    if (p.size() < 9) {
        return std::nullopt;
    }
    CallResponse r;
    r.call_id = p[0];
    r.accept = u32_at(p, 1);
    r.reject_cause = u32_at(p, 5);
    if (p.size() >= 21) {
        r.call_type = u32_at(p, 9);
        r.video_dir = u32_at(p, 17);
    }
    return r;
}

std::optional<ReleaseRequest> decode_release(Payload p)
{
    if (p.size() < 2) {
        return std::nullopt;
    }
    return ReleaseRequest{p[0], p[1]};
}

std::optional<char> decode_dtmf_start(Payload p)
{
    if (p.size() < 2) {
        return std::nullopt;
    }
    return static_cast<char>(p[1]);
}

std::optional<ModifyRequest> decode_modify_request(Payload p)
{
    if (p.size() < 13) {
        return std::nullopt;
    }
    return ModifyRequest{p[0], u32_at(p, 1), u32_at(p, 9)};
}

std::optional<ModifyResponse> decode_modify_response(Payload p)
{
    if (p.size() < 17) {
        return std::nullopt;
    }
    return ModifyResponse{u32_at(p, 1), u32_at(p, 5), u32_at(p, 13)};
}

std::optional<uint8_t> decode_split(Payload p)
{
    if (p.empty()) {
        return std::nullopt;
    }
    return p[0];
}

Bytes encode_mt_invite(const Call &call)
{
    RecordWriter w;
    const std::string number = call.number.substr(0, kDialDigitsMax - 1);
    w.u8(call.id);
    w.text(number, kDialDigitsMax);
    w.u8(static_cast<uint8_t>(number.size()));
    w.u32(1); // a single party
    w.u32(static_cast<uint32_t>(call.type));
    w.u32(64);
    w.u32(3);
    w.u32(call.video_dir);
    w.u32(0);
    return w.take();
}

Bytes encode_call_id(uint8_t call_id)
{
    return Bytes{call_id};
}

Bytes encode_call_end(uint8_t call_id, uint32_t end_cause)
{
    return id_and_word(call_id, end_cause);
}

Bytes encode_mo_progress(uint8_t call_id, CallState state)
{
    return id_and_word(call_id, static_cast<uint32_t>(state));
}

Bytes encode_audio_codec(uint8_t call_id, uint32_t codec)
{
    return id_and_word(call_id, codec);
}

Bytes encode_dtmf_conf(uint8_t call_id, uint32_t result)
{
    return id_and_word(call_id, result);
}

Bytes encode_modify_ind(uint8_t call_id, uint32_t call_type, uint32_t video_dir)
{
    return encode_modify_cnf(call_id, call_type, 0, video_dir);
}

Bytes encode_modify_cnf(uint8_t call_id, uint32_t call_type, uint32_t result, uint32_t video_dir)
{
    RecordWriter w;
    w.u8(call_id);
    w.u32(call_type);
    w.u32(result);
    w.u32(video_dir);
    return w.take();
}

Bytes encode_sups_conf(uint8_t call_id, uint32_t result, uint32_t cause)
{
    RecordWriter w;
    w.u8(call_id);
    w.u32(result);
    w.u32(cause);
    return w.take();
}

Bytes encode_srvcc(uint32_t handover_type)
{
    RecordWriter w;
    w.u32(handover_type);
    return w.take();
}

} // namespace zol::imsd
