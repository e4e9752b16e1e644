#include "fuzz_host.h"

#include <atomic>
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
    auto *token = static_cast<Token *>(t);
    if (token->completions++ != 0) {
        fault("request completed twice");
    }
    token->error = e;
    token->len = len;
    memset(token->head, 0, sizeof token->head);
    if (response != nullptr) {
        memcpy(token->head, response, len < sizeof token->head ? len : sizeof token->head);
    }
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

std::atomic<LogObserver> g_log_observer{nullptr};
std::atomic<int> g_quiet{0};

} // namespace

void fault(const char *what)
{
    fprintf(stderr, "fuzz host: %s\n", what);
    abort();
}

void check_answered_once(const Token &token)
{
    zol_reqlist_entry_type entry;
    const bool pending = zol_reqlist_query(const_cast<Token *>(&token), &entry) == 0;
    if (pending && token.completions != 0) {
        fault("request completed but still pending");
    }
    if (!pending && token.completions != 1) {
        fault("request neither completed nor pending");
    }
}

void add_waiting(Token &token, int32_t request, uint32_t pending_event_id)
{
    const Quiet quiet;
    zol_reqlist_entry_type entry;
    zol_reqlist_default_entry(&token, request, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, pending_event_id,
                              nullptr, &entry);
    if (zol_reqlist_new(&entry) != 0) {
        fault("pending list refused a waiting request");
    }
}

const std::vector<Waiter> &all_waiters()
{
    static const std::vector<Waiter> kWaiters = [] {
        std::vector<Waiter> out = {
            {0x17534, RIL_REQUEST_ANSWER},
            {0x17535, RIL_REQUEST_HANGUP},
            {0x17535, RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND},
            {0x17535, RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND},
            {0x17540, RIL_REQUEST_DTMF_START},
            {0x17541, RIL_REQUEST_DTMF_STOP},
            {0x17545, RIL_REQUEST_GET_CURRENT_CALLS},
            {0x17545, RIL_REQUEST_CONFERENCE},
            {0x17548, RIL_REQUEST_IMS_GET_CONFIGRATION},
            {0x17597, RIL_REQUEST_IMS_SEND_SMS},
        };
        for (int32_t query : {RIL_REQUEST_GET_CLIR, RIL_REQUEST_QUERY_CALL_FORWARD_STATUS,
                              RIL_REQUEST_QUERY_CALL_WAITING, RIL_REQUEST_QUERY_FACILITY_LOCK,
                              RIL_REQUEST_QUERY_CLIP, RIL_REQUEST_QUERY_COLR,
                              RIL_REQUEST_QUERY_COLP}) {
            out.push_back({0x17567, query});
        }
        // Every set request waits for the confirmation of the operation it chose.
        for (int32_t conf = 0x17564; conf <= 0x17568; ++conf) {
            if (conf == 0x17567) {
                continue;
            }
            for (int32_t set : {RIL_REQUEST_SET_CLIR, RIL_REQUEST_SET_CALL_FORWARD,
                                RIL_REQUEST_SET_CALL_WAITING, RIL_REQUEST_SET_FACILITY_LOCK,
                                RIL_REQUEST_SET_COLP}) {
                out.push_back({conf, set});
            }
        }
        return out;
    }();
    return kWaiters;
}

std::vector<int32_t> waiters_of(int32_t event_id)
{
    std::vector<int32_t> out;
    for (const Waiter &w : all_waiters()) {
        if (w.event_id == event_id) {
            out.push_back(w.request);
        }
    }
    return out;
}

bool host_can_read(int32_t request, int32_t event_id, const uint8_t *payload, size_t len)
{
    if (request != RIL_REQUEST_QUERY_CALL_FORWARD_STATUS) {
        return true;
    }
    // Information type 3, the forwarding list, at offset 5.
    constexpr size_t kInfoType = 5;
    return event_id == 0x17567 && payload != nullptr && len >= kInfoType + 4 &&
           payload[kInfoType] == 3 && payload[kInfoType + 1] == 0 && payload[kInfoType + 2] == 0 &&
           payload[kInfoType + 3] == 0;
}

Quiet::Quiet()
{
    g_quiet.fetch_add(1);
}

Quiet::~Quiet()
{
    g_quiet.fetch_sub(1);
}

void set_log_observer(LogObserver observer)
{
    g_log_observer.store(observer);
}

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
// fuzzer down, but the module's arguments are still read. Every level is let
// through, so that every line is formatted and every text it prints is read.
extern "C" int __android_log_is_loggable(int, const char *, int)
{
    return zol_fuzz::g_quiet.load() == 0 ? 1 : 0;
}

extern "C" int __android_log_buf_print(int, int, const char *tag, const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    const int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (const zol_fuzz::LogObserver observer = zol_fuzz::g_log_observer.load()) {
        observer(line);
    }
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
