#include "decode.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "names.h"
#include "ril.h"

namespace zol_host {
namespace {

// A pipe the kernel copies through: write() reports unreadable memory as
// EFAULT instead of faulting. (process_vm_readv would do too, but qemu-user
// does not implement it.) One per thread, so decoders never share one.
class PeekPipe {
public:
    PeekPipe()
    {
        if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~PeekPipe()
    {
        for (int fd : fds_) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    PeekPipe(const PeekPipe &) = delete;
    PeekPipe &operator=(const PeekPipe &) = delete;

    bool copy(const void *from, void *into, size_t n)
    {
        if (fds_[0] < 0) {
            return false;
        }
        constexpr size_t kChunk = 4096; // well under any pipe's capacity
        auto *src = static_cast<const char *>(from);
        auto *dst = static_cast<char *>(into);
        for (size_t done = 0; done < n;) {
            const size_t len = std::min(kChunk, n - done);
            const ssize_t wrote = write(fds_[1], src + done, len);
            if (wrote <= 0) {
                return false;
            }
            size_t got = 0;
            while (got < static_cast<size_t>(wrote)) {
                const ssize_t r = read(fds_[0], dst + done + got, static_cast<size_t>(wrote) - got);
                if (r <= 0) {
                    return false;
                }
                got += static_cast<size_t>(r);
            }
            done += got;
        }
        return true;
    }

private:
    int fds_[2];
};

// Everything the module hands over is read through these: a pointer into
// memory the process cannot read is a fault of the module to report, not a
// reason for the host to crash (data of another request's shape, say).
bool peek(const void *from, void *into, size_t n)
{
    if (n == 0) {
        return true;
    }
    thread_local PeekPipe pipe;
    return pipe.copy(from, into, n);
}

template <typename T>
bool peek_record(const void *from, T &into)
{
    return peek(from, &into, sizeof into);
}

// A NUL-terminated text, read a page at a time: memory is readable or not by
// whole pages, so one checked byte vouches for the rest of its page, and the
// scan never reads past the terminator. `readable` is false when the text runs
// into memory that cannot be read.
std::optional<std::string> peek_text(const char *text, bool &readable)
{
    readable = true;
    if (text == nullptr) {
        return std::nullopt;
    }
    constexpr size_t kPage = 4096; // the smallest page of any target we run on
    constexpr size_t kLongest = 1 << 20;
    std::string out;
    while (out.size() < kLongest) {
        const char *at = text + out.size();
        const size_t n = kPage - reinterpret_cast<uintptr_t>(at) % kPage;
        char first = 0;
        if (!peek(at, &first, 1)) {
            readable = false;
            return std::nullopt;
        }
        if (const void *nul = memchr(at, 0, n)) {
            out.append(at, static_cast<size_t>(static_cast<const char *>(nul) - at));
            return out;
        }
        out.append(at, n);
    }
    readable = false;
    return std::nullopt;
}

// A text field of the module's data; an unreadable one sets the problem.
std::optional<std::string> copy_text(const char *text, Decoded &out, const std::string &what)
{
    bool readable = true;
    std::optional<std::string> copy = peek_text(text, readable);
    if (!readable) {
        out.problem = what + " points to memory that cannot be read";
    }
    return copy;
}

// The bytes of the data itself.
bool copy_data(const void *data, size_t len, std::vector<uint8_t> &into, Decoded &out)
{
    into.resize(len);
    if (!peek(data, into.data(), len)) {
        out.problem = "the data (" + std::to_string(len) + " bytes) cannot be read";
        return false;
    }
    return true;
}

std::string plural(size_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Records that carry pointers come as an array of pointers; fills `pointers`, or
// returns false (with the reason in out.problem) when the data cannot be one.
template <typename T>
bool pointer_array(const void *data, size_t len, std::vector<const T *> &pointers, Decoded &out)
{
    if (len % sizeof(void *) != 0) {
        out.problem = "length " + std::to_string(len) + " is not a multiple of a pointer's size";
        return false;
    }
    if (data == nullptr && len != 0) {
        out.problem = "null data with length " + std::to_string(len);
        return false;
    }
    pointers.resize(len / sizeof(void *));
    if (!peek(data, pointers.data(), len)) {
        out.problem = "the pointer array (" + std::to_string(len) + " bytes) cannot be read";
        return false;
    }
    return true;
}

template <typename T>
bool record(const void *data, size_t len, T &into, Decoded &out)
{
    if (data == nullptr || len != sizeof(T)) {
        out.problem = "expected a record of " + std::to_string(sizeof(T)) + " bytes, got " +
                      (data == nullptr ? std::string("null data") : std::to_string(len) + " bytes");
        return false;
    }
    if (!peek_record(data, into)) {
        out.problem = "the record cannot be read";
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
    std::vector<uint8_t> bytes;
    if (!copy_data(data, len, bytes, out)) {
        return out;
    }
    out.summary = plural(len, "byte", "bytes");
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
    std::vector<uint8_t> bytes;
    if (!copy_data(data, len, bytes, out)) {
        return out;
    }
    const size_t n = len / sizeof(int);
    out.ints.emplace();
    for (size_t i = 0; i < n; ++i) {
        int value;
        memcpy(&value, bytes.data() + i * sizeof value, sizeof value);
        out.ints->push_back(value);
    }
    // Appended piece by piece: GCC 12 sees an overlapping copy in "x" + string
    // (a -Wrestrict false positive) when it inlines the insert at the front.
    if (n != 0) {
        out.summary = n == 1 ? "int" : "ints";
        for (const int value : *out.ints) {
            out.summary += ' ';
            out.summary += std::to_string(value);
        }
    }
    return out;
}

Decoded decode_strings(const void *data, size_t len)
{
    Decoded out;
    std::vector<const char *> strings;
    if (!pointer_array(data, len, strings, out)) {
        return out;
    }
    const size_t n = strings.size();
    out.strings.emplace();
    if (n != 0) {
        out.summary = plural(n, "string", "strings");
    }
    for (size_t i = 0; i < n; ++i) {
        const std::string index = std::to_string(i);
        std::string what = "string ";
        what += index;
        out.strings->push_back(copy_text(strings[i], out, what));
        std::string line = "[";
        line += index;
        line += "] ";
        line += quote(out.strings->back());
        out.details.push_back(std::move(line));
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
    std::vector<uint8_t> bytes;
    if (!copy_data(data, len, bytes, out)) {
        return out;
    }
    const auto *chars = reinterpret_cast<const char *>(bytes.data());
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
    const auto text = copy_text(static_cast<const char *>(data), out, "the text");
    out.summary = quote(text);
    out.strings.emplace(1, text);
    return out;
}

Decoded decode_sms_response(const void *data, size_t len)
{
    Decoded out;
    RIL_SMS_Response r{};
    if (!record(data, len, r, out)) {
        return out;
    }
    out.sms = SmsResponseInfo{r.messageRef, copy_text(r.ackPDU, out, "ackPDU"), r.errorCode};
    out.summary = format_sms_response(*out.sms);
    return out;
}

Decoded decode_call_forwards(const void *data, size_t len)
{
    Decoded out;
    std::vector<const RIL_CallForwardInfo *> records;
    if (!pointer_array(data, len, records, out)) {
        return out;
    }
    const size_t n = records.size();
    out.forwards.emplace();
    if (n != 0) {
        out.summary = plural(n, "forwarding record", "forwarding records");
    }
    for (size_t i = 0; i < n; ++i) {
        const std::string name = "forwarding record " + std::to_string(i);
        RIL_CallForwardInfo r{};
        if (records[i] == nullptr || !peek_record(records[i], r)) {
            out.problem = name + (records[i] == nullptr ? " is null" : " cannot be read");
            continue;
        }
        ForwardInfo f{r.status,
                      r.reason,
                      r.serviceClass,
                      r.toa,
                      copy_text(r.number, out, name + " number"),
                      r.timeSeconds,
                      copy_text(r.timeInterval, out, name + " interval")};
        out.details.push_back(format_forward(out.forwards->size(), f));
        out.forwards->push_back(std::move(f));
    }
    return out;
}

Decoded decode_supp_svc(const void *data, size_t len)
{
    Decoded out;
    RIL_SuppSvcNotification n{};
    if (!record(data, len, n, out)) {
        return out;
    }
    out.supp = SuppSvcInfo{n.notificationType, n.code, n.index, n.type,
                           copy_text(n.number, out, "number")};
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
    return quote(text != nullptr ? std::optional<std::string>(text) : std::nullopt);
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
    std::vector<const RIL_CallIms *> records;
    if (!pointer_array(data, len, records, out)) {
        return out;
    }
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string name = "call record " + std::to_string(i);
        RIL_CallIms r{};
        if (records[i] == nullptr || !peek_record(records[i], r)) {
            out.problem = name + (records[i] == nullptr ? " is null" : " cannot be read");
            continue;
        }
        CallInfo c;
        c.state = r.call.state;
        c.index = r.call.index;
        c.toa = r.call.toa;
        c.mpty = static_cast<unsigned char>(r.call.isMpty);
        c.mt = static_cast<unsigned char>(r.call.isMT);
        c.voice = static_cast<unsigned char>(r.call.isVoice);
        c.als = static_cast<unsigned char>(r.call.als);
        c.voice_privacy = static_cast<unsigned char>(r.call.isVoicePrivacy);
        c.number = copy_text(r.call.number, out, name + " number");
        c.number_presentation = r.call.numberPresentation;
        c.name = copy_text(r.call.name, out, name + " name");
        c.name_presentation = r.call.namePresentation;
        c.call_type = r.callType;
        c.call_attribute = r.callAttribute;
        c.extra_text = copy_text(r.extraText, out, name + " text");
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
