#include "host.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zol_kit {

namespace {

std::atomic<Host::LogObserver> g_observer{nullptr};
std::atomic<bool> g_event_loop_running{false};
std::vector<TimerRequest> g_startup_timers;
// Host threads and the event thread complete requests at once.
std::atomic<uint8_t> g_sink{0};

[[noreturn]] void fault(const char *what)
{
    fprintf(stderr, "kit host: %s\n", what);
    abort();
}

// Copies the bytes out, so the address sanitizer checks every one of them.
void touch(const void *data, size_t len)
{
    if (data != nullptr && len != 0) {
        Bytes copy(len);
        memcpy(copy.data(), data, len);
        g_sink.fetch_add(copy[len - 1], std::memory_order_relaxed);
    }
}

void touch_text(const char *text)
{
    if (text != nullptr) {
        touch(text, strlen(text) + 1);
    }
}

template <typename Record>
const Record *const *records(const void *response, size_t len)
{
    if (len % sizeof(Record *) != 0 || (len != 0 && response == nullptr)) {
        fault("an array of record pointers rild cannot read");
    }
    for (size_t i = 0; i < len / sizeof(Record *); ++i) {
        if (static_cast<const Record *const *>(response)[i] == nullptr) {
            fault("a null record pointer");
        }
    }
    return static_cast<const Record *const *>(response);
}

void read_unsolicited(int number, const void *data, size_t len)
{
    touch(data, len);
    switch (number) {
    case RIL_UNSOL_IMS_MT_INVITE:
        for (size_t i = 0; i < len / sizeof(char *); ++i) {
            touch_text(records<char>(data, len)[i]);
        }
        break;
    case RIL_UNSOL_SUPP_SVC_NOTIFICATION:
        if (len < sizeof(RIL_SuppSvcNotification)) {
            fault("a notification shorter than its record");
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

} // namespace

void read_response(int request, const void *response, size_t len)
{
    touch(response, len);
    switch (request) {
    case RIL_REQUEST_GET_CURRENT_CALLS:
        for (size_t i = 0; i < len / sizeof(RIL_CallIms *); ++i) {
            const RIL_CallIms *c = records<RIL_CallIms>(response, len)[i];
            touch(c, sizeof *c);
            touch_text(c->call.number);
            touch_text(c->call.name);
            touch_text(c->extraText);
            if (c->call.uusInfo != nullptr) {
                touch(c->call.uusInfo, sizeof *c->call.uusInfo);
                touch(c->call.uusInfo->uusData, static_cast<size_t>(c->call.uusInfo->uusLength));
            }
        }
        break;
    case RIL_REQUEST_QUERY_CALL_FORWARD_STATUS:
        for (size_t i = 0; i < len / sizeof(RIL_CallForwardInfo *); ++i) {
            const RIL_CallForwardInfo *r = records<RIL_CallForwardInfo>(response, len)[i];
            touch(r, sizeof *r);
            touch_text(r->number);
            touch_text(r->timeInterval);
        }
        break;
    case RIL_REQUEST_IMS_GET_CONFIGRATION:
        touch_text(static_cast<const char *>(response)); // the text is the data pointer itself
        break;
    case RIL_REQUEST_IMS_SEND_SMS:
        if (response != nullptr) {
            if (len < sizeof(RIL_SMS_Response)) {
                fault("an SMS completion shorter than its record");
            }
            touch_text(static_cast<const RIL_SMS_Response *>(response)->ackPDU);
        }
        break;
    default:
        break;
    }
}

Host &Host::get()
{
    // Never destroyed: the module's event thread reports for as long as the process lives.
    static Host *const host = new Host;
    return *host;
}

Host::Host() : env_{on_request_complete, on_unsolicited_response, request_timed_callback} {}

void Host::reset()
{
    std::lock_guard<std::mutex> lock(mu_);
    completions_.clear();
    unsolicited_.clear();
    timers_.clear();
    log_.clear();
    complete_hook_ = nullptr;
    unsolicited_hook_ = nullptr;
}

std::vector<Completion> Host::completions_for(RIL_Token t)
{
    std::vector<Completion> out = completions();
    std::erase_if(out, [&](const Completion &c) { return c.t != t; });
    return out;
}

void Host::on_complete(CompleteHook hook)
{
    std::lock_guard<std::mutex> lock(mu_);
    complete_hook_ = std::move(hook);
}

void Host::on_unsolicited(UnsolicitedHook hook)
{
    std::lock_guard<std::mutex> lock(mu_);
    unsolicited_hook_ = std::move(hook);
}

bool Host::wait_until(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        // pred reads the records through the lock, so it runs unlocked; a record
        // added meanwhile moves the count on, and the wait below then ends at once.
        const uint64_t seen = records_;
        lock.unlock();
        if (pred()) {
            return true;
        }
        lock.lock();
        if (!cv_.wait_until(lock, deadline, [&] { return records_ != seen; })) {
            lock.unlock();
            return pred();
        }
    }
}

template <typename F>
void Host::record(F &&add)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        add();
        ++records_;
    }
    cv_.notify_all();
}

void Host::capture_log(LogObserver observer)
{
    g_observer.store(observer);
    __android_log_set_logger(logger);
    __android_log_set_minimum_priority(ANDROID_LOG_VERBOSE);
}

void Host::logger(const struct __android_logger_data *data, const char *message)
{
    Host &h = get();
    if (const LogObserver observer = g_observer.load()) {
        observer(data, message);
    }
    const bool loop_started = !g_event_loop_running.load(std::memory_order_relaxed) &&
                              message != nullptr &&
                              strcmp(message, "zol_event_main(): Waiting...\n") == 0;
    if (loop_started) {
        h.record([] { g_event_loop_running.store(true); });
    }
    if (h.keep_.load(std::memory_order_relaxed)) {
        h.record([&] {
            h.log_.push_back({data->buffer_id, data->priority,
                              data->tag != nullptr ? data->tag : "",
                              message != nullptr ? message : ""});
        });
    }
}

size_t Host::count_logged(const std::string &text, bool prefix)
{
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<size_t>(std::count_if(log_.begin(), log_.end(), [&](const LogLine &l) {
        return prefix ? l.text.starts_with(text) : l.text == text;
    }));
}

void Host::clear_log()
{
    std::lock_guard<std::mutex> lock(mu_);
    log_.clear();
}

void Host::on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    Host &h = get();
    const CompleteHook hook = h.copy(h.complete_hook_);
    if (hook) {
        hook(t, e, response, len);
    }
    if (h.keep_.load(std::memory_order_relaxed)) {
        const auto *bytes = static_cast<const uint8_t *>(response);
        Completion c{t, e, response != nullptr ? Bytes(bytes, bytes + len) : Bytes{}, len};
        h.record([&] { h.completions_.push_back(std::move(c)); });
    }
}

void Host::on_unsolicited_response(int number, const void *data, size_t len)
{
    Host &h = get();
    read_unsolicited(number, data, len);
    const UnsolicitedHook hook = h.copy(h.unsolicited_hook_);
    if (hook) {
        hook(number, data, len);
    }
    if (h.keep_.load(std::memory_order_relaxed)) {
        const auto *bytes = static_cast<const uint8_t *>(data);
        Unsolicited u{number, data != nullptr ? Bytes(bytes, bytes + len) : Bytes{}, len};
        h.record([&] { h.unsolicited_.push_back(std::move(u)); });
    }
}

void Host::request_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *tv)
{
    Host &h = get();
    h.record([&] { h.timers_.push_back({cb, param, tv != nullptr ? *tv : timeval{0, 0}}); });
}

const RIL_RadioFunctions *start_module(const RIL_RadioFunctions *(*init)(const struct RIL_Env *))
{
    Host &host = Host::get();
    const RIL_RadioFunctions *radio = init(host.env());
    g_startup_timers = host.timers();
    // The host's timer thread would run the start-up timer a second later.
    for (const TimerRequest &r : g_startup_timers) {
        r.callback(r.param);
    }
    // The event thread starts its loop a second after RIL_Init releases it.
    host.wait_until([] { return g_event_loop_running.load(); });
    return radio;
}

const std::vector<TimerRequest> &startup_timers()
{
    return g_startup_timers;
}

} // namespace zol_kit
