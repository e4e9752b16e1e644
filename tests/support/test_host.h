// A RIL host for in-process tests: records every completion, unsolicited
// response, timer request and radio-log line the module produces.
#ifndef ZOL_TEST_HOST_H
#define ZOL_TEST_HOST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <android/log.h>

#include "reference_zol.h"

namespace zol_test {

struct Completion {
    RIL_Token t;
    int32_t token_id;
    RIL_Errno error;
    std::vector<uint8_t> data; // bytes of the response, copied during the callback
    size_t len;
};

struct Unsolicited {
    int number;
    std::vector<uint8_t> data;
    size_t len;
};

struct TimerRequest {
    RIL_TimedCallback callback;
    void *param;
    struct timeval when;
};

struct LogLine {
    int buffer;
    int priority;
    std::string tag;
    std::string text;
};

// A host token: the module reads its first word as the request's serial.
struct Token {
    explicit Token(int32_t id) : serial(id) {}
    int32_t serial;
    RIL_Token get() { return &serial; }
};

class TestHost {
public:
    static TestHost &instance();

    const RIL_Env *env() const { return &env_; }
    void reset();

    std::vector<Completion> completions();
    std::vector<Completion> completions_for(RIL_Token t);
    std::vector<Unsolicited> unsolicited();
    std::vector<TimerRequest> timers();

    // Runs inside OnRequestComplete, before it returns to the module.
    void set_on_complete(std::function<void(const Completion &)> hook);

    // Waits until pred() holds; pred runs with the host's records locked out.
    bool wait_until(const std::function<bool()> &pred,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Radio-log lines, in order.
    std::vector<LogLine> log_lines();
    bool logged(const std::string &text);
    size_t count_logged(const std::string &text);
    bool wait_logged(const std::string &text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void clear_log();

    // Installs the log capture on the Android log library.
    static void capture_log();

private:
    TestHost();
    static void on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len);
    static void on_unsolicited(int number, const void *data, size_t len);
    static void request_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *tv);
    void record_log(LogLine line);
    friend void capture_logger(const struct __android_logger_data *, const char *);

    RIL_Env env_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Completion> completions_;
    std::vector<Unsolicited> unsolicited_;
    std::vector<TimerRequest> timers_;
    std::vector<LogLine> log_;
    std::function<void(const Completion &)> on_complete_;
};

// The radio functions RIL_Init returned to the shared environment.
const RIL_RadioFunctions *radio();
// Timers the host was asked for while RIL_Init ran.
const std::vector<TimerRequest> &startup_timers();
bool startup_delay_timer_logged();

// Points a dispatch row at another handler for the life of the object. Only
// swap while the row's events are not being processed.
class ScopedHandler {
public:
    ScopedHandler(int32_t event_id, zol_handler_type handler);
    ~ScopedHandler();
    ScopedHandler(const ScopedHandler &) = delete;
    ScopedHandler &operator=(const ScopedHandler &) = delete;

private:
    zol_dispatch_table_entry_type *row_ = nullptr;
    zol_handler_type saved_ = nullptr;
};

} // namespace zol_test

#endif // ZOL_TEST_HOST_H
