// Host requests through onRequest, with data built as rild would build it
// for each request (integers, arrays of texts, dial, SMS and forwarding
// records, with texts of any length and null text pointers), longer, cut
// short, or missing. The kit agent's sends succeed or fail as the input says.
#include <algorithm>
#include <deque>
#include <string>

#include "harness.h"

namespace {

enum class Shape { none, ints, texts, text, dial, sms, forward };

struct Request {
    int number;
    Shape shape;
    size_t count; // integers or texts rild gives
};

// Every request of the dispatch table, plus a few the module does not handle.
// The count is what rild gives (the answer's call type is optional); the
// handlers read no more than that.
using enum Shape;
constexpr Request kRequests[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, none, 0},
    {RIL_REQUEST_DIAL, dial, 0},
    {RIL_REQUEST_HANGUP, ints, 1},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, none, 0},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, none, 0},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, none, 0},
    {RIL_REQUEST_UDUB, none, 0},
    {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, none, 0},
    {RIL_REQUEST_ANSWER, ints, 1},
    {RIL_REQUEST_DTMF_START, text, 0},
    {RIL_REQUEST_DTMF_STOP, none, 0},
    {RIL_REQUEST_IMS_REGISTRATION_STATE, none, 0},
    {RIL_REQUEST_CALL_MODIFY, ints, 2},
    {RIL_REQUEST_CALL_MODIFY_RSP, ints, 3},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, texts, 1},
    {RIL_REQUEST_IMS_SET_CONFIGRATION, texts, 2},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, ints, 1},
    {RIL_REQUEST_IMS_SEND_SMS, sms, 0},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, ints, 2},
    {RIL_REQUEST_GET_CLIR, none, 0},
    {RIL_REQUEST_SET_CLIR, ints, 1},
    {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, forward, 0},
    {RIL_REQUEST_SET_CALL_FORWARD, forward, 0},
    {RIL_REQUEST_QUERY_CALL_WAITING, ints, 1},
    {RIL_REQUEST_SET_CALL_WAITING, ints, 2},
    {RIL_REQUEST_QUERY_FACILITY_LOCK, texts, 4},
    {RIL_REQUEST_SET_FACILITY_LOCK, texts, 6},
    {RIL_REQUEST_QUERY_CLIP, none, 0},
    {RIL_REQUEST_IMS_MT_INVITE_RSP, ints, 3},
    {RIL_REQUEST_SET_COLP, ints, 1},
    {RIL_REQUEST_QUERY_COLR, none, 0},
    {RIL_REQUEST_QUERY_COLP, none, 0},
    {RIL_REQUEST_CONFERENCE, none, 0},
    {RIL_REQUEST_SEPARATE_CONNECTION, ints, 1},
    {0, none, 0},
    {65536 + RIL_REQUEST_DIAL, dial, 0},
    {-1, ints, 1},
};

// Reads the input front to back, and owns everything a request's data
// points to until the request returns. Past the input's end every field
// reads as zero. u8, i32 (little-endian), text: a length byte (0xFF no text,
// 0xFE a 16-bit little-endian length follows) and that many bytes.
class Builder {
public:
    Builder(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(le(2)); }
    int32_t i32() { return static_cast<int32_t>(le(4)); }
    uint32_t le(int bytes)
    {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            v |= uint32_t{u8()} << 8 * i;
        }
        return v;
    }
    std::string bytes(size_t len)
    {
        const size_t n = std::min(len, size_ - pos_);
        pos_ += n;
        return std::string(reinterpret_cast<const char *>(data_ + pos_ - n), n);
    }
    // A text of any length, or no text at all.
    char *text()
    {
        const uint8_t marker = u8();
        return marker == 0xFF ? nullptr
                              : texts_.emplace_back(bytes(marker == 0xFE ? u16() : marker)).data();
    }
    // A block of exactly len bytes holding the first len bytes of record.
    void *block(const void *record, size_t len)
    {
        auto &b = blocks_.emplace_back(static_cast<const uint8_t *>(record),
                                       static_cast<const uint8_t *>(record) + len);
        return b.data();
    }

    // The bytes of the record rild builds, then `extra` more integers or texts
    // (raw words after a record): data longer than the request needs.
    std::string record(Shape shape, size_t count, size_t extra)
    {
        std::string out;
        const auto put = [&out](const auto &v) {
            out.append(reinterpret_cast<const char *>(&v), sizeof v);
        };
        switch (shape) {
        case Shape::ints:
            for (size_t i = 0; i < count + extra; ++i) {
                put(i32());
            }
            return out;
        case Shape::texts:
            for (size_t i = 0; i < count + extra; ++i) {
                put(text());
            }
            return out;
        case Shape::text:
            if (text() != nullptr) {
                out = texts_.back();
            }
            out.push_back('\0');
            break;
        case Shape::dial: {
            RIL_Dial d{};
            d.address = text();
            d.dial_kind = i32();
            if ((u8() & 1) != 0) {
                RIL_UUS_Info uus{i32(), i32(), 0, nullptr};
                uus.uusData = text();
                uus.uusLength = uus.uusData != nullptr ? static_cast<int>(strlen(uus.uusData)) : 0;
                d.uusInfo = static_cast<RIL_UUS_Info *>(block(&uus, sizeof uus));
            }
            d.callType = i32();
            put(d);
            break;
        }
        case Shape::sms: {
            RIL_IMS_SMS_Message m{};
            m.tech = static_cast<RIL_RadioTechnologyFamily>(i32());
            m.retry = u8();
            m.messageRef = i32();
            if ((u8() & 1) == 0) {
                char *pair[2] = {text(), text()};
                m.message.gsmMessage = static_cast<char **>(block(pair, sizeof pair));
            }
            put(m);
            break;
        }
        case Shape::forward: {
            RIL_CallForwardInfo f{i32(), i32(), i32(), i32(), nullptr, 0, nullptr};
            f.number = text();
            f.timeSeconds = i32();
            f.timeInterval = text();
            put(f);
            break;
        }
        case Shape::none:
            break;
        }
        std::string tail = bytes(extra * sizeof(int32_t));
        tail.resize(extra * sizeof(int32_t));
        return out + tail;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    std::deque<std::string> texts_;
    std::deque<std::vector<uint8_t>> blocks_;
};

const Request &pick_request(uint16_t value)
{
    const auto *r = std::find_if(std::begin(kRequests), std::end(kRequests),
                                 [value](const Request &q) { return q.number == value; });
    return r != std::end(kRequests) ? *r : kRequests[value % std::size(kRequests)];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const RIL_RadioFunctions *functions = [] {
        zol_fuzz::set_up_host();
        return zol_kit::start_module(RIL_Init);
    }();
    Builder in(data, size);
    // Bytes 0-1: the request number (any other value picks a request by
    // index); byte 2: bit 0 makes the agent's sends fail, bits 1-3 choose the
    // data (0-3 the record rild builds, 4 and 6 that record with more after
    // it, 5 that record cut short, 7 a null pointer with a length), bit 4
    // fills the pending list, bit 5 leaves a request of the same token
    // pending. Then the token's serial and the fields.
    const Request &req = pick_request(in.u16());
    const uint8_t flags = in.u8();
    zol_kit::agent::set_result((flags & 1) != 0 ? -1 : 0);
    const int mode = (flags >> 1) & 7;
    const bool list_full = (flags & 0x10) != 0;
    const bool token_pending = (flags & 0x20) != 0;

    zol_reqlist_init();
    static zol_fuzz::Token token;
    token = zol_fuzz::Token{in.i32(), req.number};
    // Requests of other tokens that keep waiting; the list holds 50.
    static zol_fuzz::Token others[ZOL_REQLIST_MAX];
    const size_t other_count = list_full ? ZOL_REQLIST_MAX - (token_pending ? 1 : 0) : 0;
    for (size_t i = 0; i < other_count; ++i) {
        others[i] = zol_fuzz::Token{static_cast<int32_t>(1000 + i), RIL_REQUEST_GET_CURRENT_CALLS};
        zol_fuzz::add_waiting(others[i], zol_fuzz::ev::CALL_CUR_CALL_IND);
    }
    if (token_pending) {
        zol_fuzz::add_waiting(token, ZOL_EVENT_NONE);
    }

    const std::string record =
        mode == 7 ? std::string()
                  : in.record(req.shape, req.count, mode == 4 || mode == 6 ? in.u8() % 4 + 1 : 0);
    size_t len = record.size();
    if (mode == 5 && len != 0) {
        len = in.u16() % len;
    }
    void *payload = len == 0 ? nullptr : in.block(record.data(), len);
    if (mode == 7) {
        len = in.u16() % 4096 + 1;
    }
    functions->onRequest(req.number, payload, len, &token);
    // rild never reuses a pending token; the module still answers this one once.
    if (token_pending && token.completions != 1) {
        zol_fuzz::fault("request of a pending token not answered once");
    } else if (!token_pending) {
        zol_fuzz::check_answered_once(token);
    }
    for (size_t i = 0; i < other_count; ++i) {
        if (others[i].completions != 0) {
            zol_fuzz::fault("another token's pending request answered");
        }
    }
    return 0;
}
