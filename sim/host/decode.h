// Turns the data of completions and unsolicited responses into owned values and
// readable text while the callback runs: the module's data is gone afterwards.
#ifndef ZOL_HOST_DECODE_H
#define ZOL_HOST_DECODE_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace zol_host {

// One call of a call list, copied out of a RIL_CallIms record.
struct CallInfo {
    int state = 0;
    int index = 0;
    int toa = 0;
    // The flags as the bytes the module wrote: a module that writes 3 shows 3.
    int mpty = 0;
    int mt = 0;
    int voice = 1;
    int als = 0;
    int voice_privacy = 0;
    std::optional<std::string> number;
    int number_presentation = 0;
    std::optional<std::string> name;
    int name_presentation = 0;
    int call_type = 0;
    int call_attribute = 0;
    std::optional<std::string> extra_text;
};

// "call 1: state=active number="+4915551234" toa=145 mpty=0 mt=0 voice=1 calltype=0
// attr=1 text=null" - the keys are those a scenario's `expect call` takes.
std::string format_call(const CallInfo &call);

// One record of a call forwarding answer.
struct ForwardInfo {
    int status = 0;
    int reason = 0;
    int service_class = 0;
    int toa = 0;
    std::optional<std::string> number;
    int time = 0;
    std::optional<std::string> interval;
};

struct SmsResponseInfo {
    int ref = 0;
    std::optional<std::string> ack;
    int error = 0;
};

struct SuppSvcInfo {
    int type = 0;
    int code = 0;
    int index = 0;
    int toa = 0;
    std::optional<std::string> number;
};

// "forwarding 0: status=1 reason=0 class=1 toa=145 number="+49301" time=20 interval=null"
// and "ref=7 ack=null error=0": the keys are those of the matching `expect` steps.
std::string format_forward(size_t position, const ForwardInfo &f);
std::string format_sms_response(const SmsResponseInfo &r);
std::string format_supp_svc(const SuppSvcInfo &n);

struct Decoded {
    std::string summary;              // goes on the completion's own line
    std::vector<std::string> details; // one indented line each
    std::string problem;              // data that does not fit its shape
    // What the data holds, copied; at most one is set.
    std::optional<std::vector<CallInfo>> calls;
    std::optional<std::vector<int>> ints;
    // Arrays of texts, and the single text of the text shapes as one entry.
    std::optional<std::vector<std::optional<std::string>>> strings;
    std::optional<SmsResponseInfo> sms;
    std::optional<std::vector<ForwardInfo>> forwards;
    std::optional<SuppSvcInfo> supp;
};

// What the data of a completion or an unsolicited response is.
enum class Shape {
    None,         // no data at all
    Bytes,        // not known: hex dump
    Ints,         // int array
    Strings,      // array of char pointers
    Text,         // one char array, the data itself, as long as the length says
    String,       // one NUL-terminated text, the data itself; the length is a pointer's
    Calls,        // array of RIL_CallIms pointers
    SmsResponse,  // one RIL_SMS_Response
    CallForwards, // array of RIL_CallForwardInfo pointers
    SuppSvc,      // one RIL_SuppSvcNotification
};

Decoded decode_shape(Shape shape, const void *data, size_t len);

// A call list: an array of RIL_CallIms pointers, responselen / sizeof(pointer) of them.
Decoded decode_call_list(const void *data, size_t len);
// By request or unsolicited number; data whose shape the host does not know is hex-dumped.
Decoded decode_response(int request, const void *data, size_t len);
Decoded decode_unsol(int unsol, const void *data, size_t len);

// "null", or the text in double quotes with \" \\ and \xNN escapes.
std::string quote(const std::optional<std::string> &text);
std::string quote(const char *text);

} // namespace zol_host

#endif
