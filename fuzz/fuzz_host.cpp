#include "fuzz_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <android/log.h>

namespace zol_fuzz {
namespace {

volatile uint8_t g_sink = 0;

// Copies the bytes out, so the address sanitizer checks every one of them.
void touch(const void *data, size_t len)
{
    if (data == nullptr || len == 0) {
        return;
    }
    auto *copy = static_cast<uint8_t *>(malloc(len));
    memcpy(copy, data, len);
    g_sink = g_sink + copy[len - 1];
    free(copy);
}

void touch_text(const char *text)
{
    if (text != nullptr) {
        touch(text, strlen(text) + 1);
    }
}

[[noreturn]] void fault(const char *what)
{
    fprintf(stderr, "fuzz host: %s\n", what);
    abort();
}

template <typename Record>
const Record *const *pointer_array(const void *response, size_t len)
{
    if (len % sizeof(Record *) != 0) {
        fault("array of records with a length that is no multiple of a pointer");
    }
    if (len != 0 && response == nullptr) {
        fault("array of records without data");
    }
    return static_cast<const Record *const *>(response);
}

void read_call_list(const void *response, size_t len)
{
    const RIL_CallIms *const *calls = pointer_array<RIL_CallIms>(response, len);
    for (size_t i = 0; i < len / sizeof(RIL_CallIms *); ++i) {
        const RIL_CallIms *c = calls[i];
        if (c == nullptr) {
            fault("null call record");
        }
        touch(c, sizeof *c);
        touch_text(c->call.number);
        touch_text(c->call.name);
        touch_text(c->extraText);
        if (c->call.uusInfo != nullptr) {
            touch(c->call.uusInfo, sizeof *c->call.uusInfo);
            touch(c->call.uusInfo->uusData, static_cast<size_t>(c->call.uusInfo->uusLength));
        }
    }
}

void read_forwarding_list(const void *response, size_t len)
{
    const RIL_CallForwardInfo *const *records = pointer_array<RIL_CallForwardInfo>(response, len);
    for (size_t i = 0; i < len / sizeof(RIL_CallForwardInfo *); ++i) {
        const RIL_CallForwardInfo *r = records[i];
        if (r == nullptr) {
            fault("null forwarding record");
        }
        touch(r, sizeof *r);
        touch_text(r->number);
        touch_text(r->timeInterval);
    }
}

void on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    (void)e;
    if (t == nullptr || t == ZOL_EVENT_TOKEN) {
        fault("completion for a token the host never gave");
    }
    touch(response, len);
    const auto *token = static_cast<const Token *>(t);
    switch (token->plain ? 0 : token->request) {
    case RIL_REQUEST_GET_CURRENT_CALLS:
        read_call_list(response, len);
        break;
    case RIL_REQUEST_QUERY_CALL_FORWARD_STATUS:
        if (e == RIL_E_SUCCESS) {
            read_forwarding_list(response, len);
        }
        break;
    case RIL_REQUEST_IMS_GET_CONFIGRATION:
        // The answer is one text, handed over as the data pointer itself.
        touch_text(static_cast<const char *>(response));
        break;
    case RIL_REQUEST_IMS_SEND_SMS:
        if (response != nullptr) {
            if (len < sizeof(RIL_SMS_Response)) {
                fault("SMS completion shorter than its record");
            }
            touch_text(static_cast<const RIL_SMS_Response *>(response)->ackPDU);
        }
        break;
    default:
        break;
    }
}

void on_unsolicited(int number, const void *data, size_t len)
{
    touch(data, len);
    switch (number) {
    case RIL_UNSOL_IMS_MT_INVITE: {
        const char *const *texts = pointer_array<char>(data, len);
        for (size_t i = 0; i < len / sizeof(char *); ++i) {
            touch_text(texts[i]);
        }
        break;
    }
    case RIL_UNSOL_SUPP_SVC_NOTIFICATION:
        if (len < sizeof(RIL_SuppSvcNotification)) {
            fault("notification shorter than its record");
        }
        touch_text(static_cast<const RIL_SuppSvcNotification *>(data)->number);
        break;
    case RIL_UNSOL_RESPONSE_NEW_SMS:
    case RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT:
        touch_text(static_cast<const char *>(data));
        break;
    default:
        break;
    }
}

void on_timer(RIL_TimedCallback, void *, const struct timeval *relative)
{
    touch(relative, sizeof *relative);
}

constexpr RIL_Env kEnv = {on_request_complete, on_unsolicited, on_timer};

} // namespace

const RIL_Env *host_env()
{
    return &kEnv;
}

void agent_set_send_result(int result)
{
    zol_fuzz_agent_set_send_result(result);
}

void bring_up_module()
{
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    zol_response_api = &kEnv;
    zol_ipc_init();
    zol_init();
}

} // namespace zol_fuzz

// The radio log, formatted and dropped: millions of lines would only slow the
// fuzzer down, but the module's arguments are still read.
extern "C" int __android_log_buf_print(int, int, const char *tag, const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    return n + (tag != nullptr ? 0 : 1);
}

extern "C" int __android_log_print(int, const char *tag, const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    return n + (tag != nullptr ? 0 : 1);
}
