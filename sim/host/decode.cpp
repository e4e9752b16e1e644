#include "decode.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "names.h"
#include "ril.h"

namespace zol_host {
namespace {

std::optional<std::string> copy_text(const char *text)
{
    return text != nullptr ? std::optional<std::string>(text) : std::nullopt;
}

std::string plural(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Records that carry pointers come as an array of pointers; returns false (with
// the reason in out.problem) when the length or the array cannot be one.
bool check_pointer_array(const void *data, size_t len, Decoded &out)
{
    if (len % sizeof(void *) != 0) {
        out.problem = "length " + std::to_string(len) + " is not a multiple of a pointer's size";
        return false;
    }
    if (data == nullptr && len != 0) {
        out.problem = "null data with length " + std::to_string(len);
        return false;
    }
    return true;
}

template <typename T>
bool check_record(const void *data, size_t len, Decoded &out)
{
    if (data == nullptr || len != sizeof(T)) {
        out.problem = "expected a record of " + std::to_string(sizeof(T)) + " bytes, got " +
                      (data == nullptr ? std::string("null data") : std::to_string(len) + " bytes");
        return false;
    }
    return true;
}

Decoded decode_nothing(const void *data, size_t len)
{
    Decoded out;
    if (data != nullptr || len != 0) {
        out.problem = "unexpected data of " + std::to_string(len) + " bytes";
    }
    return out;
}

Decoded decode_bytes(const void *data, size_t len)
{
    Decoded out;
    if (len == 0) {
        return out;
    }
    if (data == nullptr) {
        out.problem = "null data with length " + std::to_string(len);
        return out;
    }
    out.summary = plural(len, "byte", "bytes");
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (size_t row = 0; row < len; row += 16) {
        std::string line;
        for (size_t i = row; i < len && i < row + 16; ++i) {
            char hex[4];
            snprintf(hex, sizeof hex, "%02x", bytes[i]);
            line += line.empty() ? "" : " ";
            line += hex;
        }
        out.details.push_back(std::move(line));
    }
    return out;
}

Decoded decode_ints(const void *data, size_t len)
{
    Decoded out;
    if (len % sizeof(int) != 0 || (data == nullptr && len != 0)) {
        out.problem = "length " + std::to_string(len) + " is not an int array";
        return out;
    }
    const size_t n = len / sizeof(int);
    out.summary = n == 1 ? "int" : "ints";
    for (size_t i = 0; i < n; ++i) {
        int value;
        memcpy(&value, static_cast<const char *>(data) + i * sizeof value, sizeof value);
        out.summary += " " + std::to_string(value);
    }
    return out;
}

Decoded decode_strings(const void *data, size_t len)
{
    Decoded out;
    if (!check_pointer_array(data, len, out)) {
        return out;
    }
    const size_t n = len / sizeof(char *);
    out.summary = plural(n, "string", "strings");
    const auto *strings = static_cast<char *const *>(data);
    for (size_t i = 0; i < n; ++i) {
        out.details.push_back("[" + std::to_string(i) + "] " + quote(strings[i]));
    }
    return out;
}

// A single text passed as the data itself; the length may or may not count its NUL.
Decoded decode_text(const void *data, size_t len)
{
    Decoded out;
    if (data == nullptr) {
        out.summary = "null";
        return out;
    }
    const auto *chars = static_cast<const char *>(data);
    out.summary = quote(std::string(chars, strnlen(chars, len)));
    return out;
}

Decoded decode_sms_response(const void *data, size_t len)
{
    Decoded out;
    if (!check_record<RIL_SMS_Response>(data, len, out)) {
        return out;
    }
    const auto *r = static_cast<const RIL_SMS_Response *>(data);
    out.summary = "messageRef=" + std::to_string(r->messageRef) + " ackPDU=" + quote(r->ackPDU) +
                  " errorCode=" + std::to_string(r->errorCode);
    return out;
}

Decoded decode_call_forwards(const void *data, size_t len)
{
    Decoded out;
    if (!check_pointer_array(data, len, out)) {
        return out;
    }
    const size_t n = len / sizeof(RIL_CallForwardInfo *);
    out.summary = plural(n, "forwarding record", "forwarding records");
    const auto *records = static_cast<RIL_CallForwardInfo *const *>(data);
    for (size_t i = 0; i < n; ++i) {
        const RIL_CallForwardInfo *r = records[i];
        if (r == nullptr) {
            out.problem = "forwarding record " + std::to_string(i) + " is null";
            continue;
        }
        out.details.push_back("status=" + std::to_string(r->status) +
                              " reason=" + std::to_string(r->reason) +
                              " class=" + std::to_string(r->serviceClass) +
                              " toa=" + std::to_string(r->toa) + " number=" + quote(r->number) +
                              " time=" + std::to_string(r->timeSeconds));
    }
    return out;
}

Decoded decode_supp_svc(const void *data, size_t len)
{
    Decoded out;
    if (!check_record<RIL_SuppSvcNotification>(data, len, out)) {
        return out;
    }
    const auto *n = static_cast<const RIL_SuppSvcNotification *>(data);
    out.summary = "type=" + std::to_string(n->notificationType) + " code=" + std::to_string(n->code) +
                  " index=" + std::to_string(n->index) + " toa=" + std::to_string(n->type) +
                  " number=" + quote(n->number);
    return out;
}

struct ShapeRow {
    int number;
    Shape shape;
};

// Adding a shape for a request or an unsolicited response is one row here.
constexpr ShapeRow kResponseShapes[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, Shape::Calls},
    {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, Shape::Ints},
    {RIL_REQUEST_GET_CLIR, Shape::Ints},
    {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, Shape::CallForwards},
    {RIL_REQUEST_QUERY_CALL_WAITING, Shape::Ints},
    {RIL_REQUEST_QUERY_FACILITY_LOCK, Shape::Ints},
    {RIL_REQUEST_QUERY_CLIP, Shape::Ints},
    {RIL_REQUEST_IMS_REGISTRATION_STATE, Shape::Ints},
    {RIL_REQUEST_IMS_SEND_SMS, Shape::SmsResponse},
    {RIL_REQUEST_QUERY_COLP, Shape::Ints},
    {RIL_REQUEST_QUERY_COLR, Shape::Ints},
};

constexpr ShapeRow kUnsolShapes[] = {
    {RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, Shape::None},
    {RIL_UNSOL_RESPONSE_NEW_SMS, Shape::Text},
    {RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, Shape::Text},
    {RIL_UNSOL_SUPP_SVC_NOTIFICATION, Shape::SuppSvc},
    {RIL_UNSOL_CALL_HOLD_NOTIFICATION, Shape::Ints},
    {RIL_UNSOL_RESPONSE_SRVCC, Shape::Ints},
};

template <size_t N>
Shape find_shape(const ShapeRow (&table)[N], int number)
{
    for (const ShapeRow &row : table) {
        if (row.number == number) {
            return row.shape;
        }
    }
    return Shape::Bytes;
}

} // namespace

std::string quote(const std::optional<std::string> &text)
{
    if (!text) {
        return "null";
    }
    std::string out = "\"";
    for (const char c : *text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7f) {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string quote(const char *text)
{
    return quote(copy_text(text));
}

std::string format_call(const CallInfo &c)
{
    return "call " + std::to_string(c.index) + ": state=" + call_state_name(c.state) +
           " number=" + quote(c.number) + " toa=" + std::to_string(c.toa) +
           " mpty=" + (c.mpty ? "1" : "0") + " mt=" + (c.mt ? "1" : "0") +
           " voice=" + (c.voice ? "1" : "0") + " calltype=" + std::to_string(c.call_type) +
           " attr=" + std::to_string(c.call_attribute) + " text=" + quote(c.extra_text);
}

Decoded decode_call_list(const void *data, size_t len)
{
    Decoded out;
    out.calls.emplace();
    if (!check_pointer_array(data, len, out)) {
        return out;
    }
    const size_t n = len / sizeof(RIL_CallIms *);
    const auto *records = static_cast<RIL_CallIms *const *>(data);
    for (size_t i = 0; i < n; ++i) {
        const RIL_CallIms *r = records[i];
        if (r == nullptr) {
            out.problem = "call record " + std::to_string(i) + " is null";
            continue;
        }
        CallInfo c;
        c.state = r->call.state;
        c.index = r->call.index;
        c.toa = r->call.toa;
        c.mpty = r->call.isMpty != 0;
        c.mt = r->call.isMT != 0;
        c.voice = r->call.isVoice != 0;
        c.number = copy_text(r->call.number);
        c.call_type = r->callType;
        c.call_attribute = r->callAttribute;
        c.extra_text = copy_text(r->extraText);
        out.details.push_back(format_call(c));
        out.calls->push_back(std::move(c));
    }
    out.summary = plural(out.calls->size(), "call", "calls");
    return out;
}

Decoded decode_shape(Shape shape, const void *data, size_t len)
{
    switch (shape) {
    case Shape::None:
        return decode_nothing(data, len);
    case Shape::Bytes:
        return decode_bytes(data, len);
    case Shape::Ints:
        return decode_ints(data, len);
    case Shape::Strings:
        return decode_strings(data, len);
    case Shape::Text:
        return decode_text(data, len);
    case Shape::Calls:
        return decode_call_list(data, len);
    case Shape::SmsResponse:
        return decode_sms_response(data, len);
    case Shape::CallForwards:
        return decode_call_forwards(data, len);
    case Shape::SuppSvc:
        return decode_supp_svc(data, len);
    }
    return decode_bytes(data, len);
}

Decoded decode_response(int request, const void *data, size_t len)
{
    return decode_shape(find_shape(kResponseShapes, request), data, len);
}

Decoded decode_unsol(int unsol, const void *data, size_t len)
{
    return decode_shape(find_shape(kUnsolShapes, unsol), data, len);
}

} // namespace zol_host
