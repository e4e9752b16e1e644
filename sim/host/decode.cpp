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
    out.ints.emplace();
    for (size_t i = 0; i < n; ++i) {
        int value;
        memcpy(&value, static_cast<const char *>(data) + i * sizeof value, sizeof value);
        out.ints->push_back(value);
        out.summary += " " + std::to_string(value);
    }
    if (n != 0) {
        out.summary = (n == 1 ? "int" : "ints") + out.summary;
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
    out.strings.emplace();
    if (n != 0) {
        out.summary = plural(n, "string", "strings");
    }
    const auto *strings = static_cast<char *const *>(data);
    for (size_t i = 0; i < n; ++i) {
        out.strings->push_back(copy_text(strings[i]));
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
        out.strings.emplace(1, std::nullopt);
        return out;
    }
    const auto *chars = static_cast<const char *>(data);
    const std::string text(chars, strnlen(chars, len));
    out.summary = quote(text);
    out.strings.emplace(1, text);
    return out;
}

// A single text whose length is that of its pointer, as Android hands string
// answers over: the text ends at its NUL, whatever the length.
Decoded decode_string(const void *data, size_t len)
{
    Decoded out;
    if (data != nullptr && len != sizeof(char *) && len != 4) {
        out.problem = "length " + std::to_string(len) + " is not that of a text pointer";
        return out;
    }
    const auto text = copy_text(static_cast<const char *>(data));
    out.summary = quote(text);
    out.strings.emplace(1, text);
    return out;
}

Decoded decode_sms_response(const void *data, size_t len)
{
    Decoded out;
    if (!check_record<RIL_SMS_Response>(data, len, out)) {
        return out;
    }
    const auto *r = static_cast<const RIL_SMS_Response *>(data);
    out.sms = SmsResponseInfo{r->messageRef, copy_text(r->ackPDU), r->errorCode};
    out.summary = format_sms_response(*out.sms);
    return out;
}

Decoded decode_call_forwards(const void *data, size_t len)
{
    Decoded out;
    if (!check_pointer_array(data, len, out)) {
        return out;
    }
    const size_t n = len / sizeof(RIL_CallForwardInfo *);
    out.forwards.emplace();
    if (n != 0) {
        out.summary = plural(n, "forwarding record", "forwarding records");
    }
    const auto *records = static_cast<RIL_CallForwardInfo *const *>(data);
    for (size_t i = 0; i < n; ++i) {
        const RIL_CallForwardInfo *r = records[i];
        if (r == nullptr) {
            out.problem = "forwarding record " + std::to_string(i) + " is null";
            continue;
        }
        ForwardInfo f{r->status,          r->reason,         r->serviceClass,
                      r->toa,             copy_text(r->number), r->timeSeconds,
                      copy_text(r->timeInterval)};
        out.details.push_back(format_forward(out.forwards->size(), f));
        out.forwards->push_back(std::move(f));
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
    out.supp = SuppSvcInfo{n->notificationType, n->code, n->index, n->type, copy_text(n->number)};
    out.summary = format_supp_svc(*out.supp);
    return out;
}

struct ShapeRow {
    int number;
    Shape shape;
};

// Adding a shape for a request or an unsolicited response is one row here.
// Requests answered without data are listed too, so that data there is a fault.
constexpr ShapeRow kResponseShapes[] = {
    {RIL_REQUEST_GET_CURRENT_CALLS, Shape::Calls},
    {RIL_REQUEST_DIAL, Shape::None},
    {RIL_REQUEST_HANGUP, Shape::None},
    {RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, Shape::None},
    {RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, Shape::None},
    {RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, Shape::None},
    {RIL_REQUEST_UDUB, Shape::None},
    {RIL_REQUEST_LAST_CALL_FAIL_CAUSE, Shape::Ints},
    {RIL_REQUEST_GET_CLIR, Shape::Ints},
    {RIL_REQUEST_SET_CLIR, Shape::None},
    {RIL_REQUEST_QUERY_CALL_FORWARD_STATUS, Shape::CallForwards},
    // Mode 2 (interrogate) is answered like the query.
    {RIL_REQUEST_SET_CALL_FORWARD, Shape::CallForwards},
    {RIL_REQUEST_QUERY_CALL_WAITING, Shape::Ints},
    {RIL_REQUEST_SET_CALL_WAITING, Shape::None},
    {RIL_REQUEST_SMS_ACKNOWLEDGE, Shape::None},
    {RIL_REQUEST_ANSWER, Shape::None},
    {RIL_REQUEST_QUERY_FACILITY_LOCK, Shape::Ints},
    {RIL_REQUEST_SET_FACILITY_LOCK, Shape::None},
    {RIL_REQUEST_DTMF_START, Shape::None},
    {RIL_REQUEST_DTMF_STOP, Shape::None},
    {RIL_REQUEST_QUERY_CLIP, Shape::Ints},
    {RIL_REQUEST_IMS_REGISTRATION_STATE, Shape::Ints},
    {RIL_REQUEST_IMS_SEND_SMS, Shape::SmsResponse},
    {RIL_REQUEST_IMS_MT_INVITE_RSP, Shape::None},
    {RIL_REQUEST_SET_COLP, Shape::None},
    {RIL_REQUEST_QUERY_COLP, Shape::Ints},
    {RIL_REQUEST_QUERY_COLR, Shape::Ints},
    {RIL_REQUEST_CALL_MODIFY, Shape::None},
    {RIL_REQUEST_CALL_MODIFY_RSP, Shape::None},
    {RIL_REQUEST_IMS_GET_CONFIGRATION, Shape::String},
    {RIL_REQUEST_IMS_SET_CONFIGRATION, Shape::None},
    {RIL_REQUEST_IMS_SET_REGISTRATION_STATE, Shape::None},
};

constexpr ShapeRow kUnsolShapes[] = {
    {RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED, Shape::None},
    {RIL_UNSOL_RESPONSE_NEW_SMS, Shape::Text},
    {RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT, Shape::Text},
    {RIL_UNSOL_SUPP_SVC_NOTIFICATION, Shape::SuppSvc},
    {RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED, Shape::None},
    {RIL_UNSOL_IMS_MT_INVITE, Shape::Strings},
    {RIL_UNSOL_CALL_HOLD_NOTIFICATION, Shape::Ints},
    {RIL_UNSOL_RESPONSE_SRVCC, Shape::Ints},
    {RIL_UNSOL_RESPONSE_CALL_MODIFY_IND, Shape::Ints},
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
           " mpty=" + std::to_string(c.mpty) + " mt=" + std::to_string(c.mt) +
           " voice=" + std::to_string(c.voice) + " calltype=" + std::to_string(c.call_type) +
           " attr=" + std::to_string(c.call_attribute) + " text=" + quote(c.extra_text);
}

std::string format_forward(size_t position, const ForwardInfo &f)
{
    return "forwarding " + std::to_string(position) + ": status=" + std::to_string(f.status) +
           " reason=" + std::to_string(f.reason) + " class=" + std::to_string(f.service_class) +
           " toa=" + std::to_string(f.toa) + " number=" + quote(f.number) +
           " time=" + std::to_string(f.time) + " interval=" + quote(f.interval);
}

std::string format_sms_response(const SmsResponseInfo &r)
{
    return "ref=" + std::to_string(r.ref) + " ack=" + quote(r.ack) +
           " error=" + std::to_string(r.error);
}

std::string format_supp_svc(const SuppSvcInfo &n)
{
    return "type=" + std::to_string(n.type) + " code=" + std::to_string(n.code) +
           " index=" + std::to_string(n.index) + " toa=" + std::to_string(n.toa) +
           " number=" + quote(n.number);
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
        c.mpty = static_cast<unsigned char>(r->call.isMpty);
        c.mt = static_cast<unsigned char>(r->call.isMT);
        c.voice = static_cast<unsigned char>(r->call.isVoice);
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
    case Shape::String:
        return decode_string(data, len);
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
