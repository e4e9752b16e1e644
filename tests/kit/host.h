// The RIL host of every in-process test, the stress run, the fuzz targets and
// the benchmarks: one RIL_Env. It keeps copies of the completions, unsolicited
// responses, timer requests and radio-log lines for tests to read back, or,
// with keep(false), keeps nothing and only runs the hooks its user sets.
#ifndef ZOL_KIT_HOST_H
#define ZOL_KIT_HOST_H

#include <android/log.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ril.h"

namespace zol_kit {

using Bytes = std::vector<uint8_t>;

struct Completion {
    RIL_Token t;
    RIL_Errno error;
    Bytes data; // the response's bytes, copied during the callback
    size_t len;
};

struct Unsolicited {
    int number;
    Bytes data;
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
    explicit Token(int32_t id = 0) : serial(id) {}
    int32_t serial;
    RIL_Token get() { return &serial; }
};

// Reads every byte of a completion of this request as rild would, record
// pointers and texts included, so that the address sanitizer sees each one;
// aborts on a shape rild could not read.
void read_response(int request, const void *response, size_t len);

class Host {
public:
    static Host &get();
    const RIL_Env *env() const { return &env_; }

    // Whether records and log lines are kept (the default); hooks run either way.
    void keep(bool on) { keep_.store(on); }
    // Forgets records, log lines and hooks.
    void reset();

    std::vector<Completion> completions() { return copy(completions_); }
    std::vector<Completion> completions_for(RIL_Token t);
    std::vector<Unsolicited> unsolicited() { return copy(unsolicited_); }
    std::vector<TimerRequest> timers() { return copy(timers_); }

    // Run inside the callback, on the module's thread, while its data is alive.
    using CompleteHook = std::function<void(RIL_Token, RIL_Errno, void *, size_t)>;
    using UnsolicitedHook = std::function<void(int, const void *, size_t)>;
    void on_complete(CompleteHook hook);
    void on_unsolicited(UnsolicitedHook hook);

    // Waits until pred() holds: pred is checked again after every record the
    // host keeps, and never misses one that arrives while it runs.
    bool wait_until(const std::function<bool()> &pred,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // The radio log through the log library, from the lowest priority up.
    // The observer sees every line, kept or not, on the writing thread.
    using LogObserver = void (*)(const struct __android_logger_data *, const char *);
    static void capture_log(LogObserver observer = nullptr);
    std::vector<LogLine> log_lines() { return copy(log_); }
    bool logged(const std::string &text) { return count_logged(text) > 0; }
    bool logged_prefix(const std::string &prefix) { return count_logged(prefix, true) > 0; }
    size_t count_logged(const std::string &text, bool prefix = false);
    bool wait_logged(const std::string &text,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return wait_until([&] { return logged(text); }, timeout);
    }
    void clear_log();

private:
    Host();
    static void on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len);
    static void on_unsolicited_response(int number, const void *data, size_t len);
    static void request_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *tv);
    static void logger(const struct __android_logger_data *data, const char *message);
    template <typename F>
    void record(F &&add);
    template <typename T>
    T copy(const T &member)
    {
        std::lock_guard<std::mutex> lock(mu_);
        return member;
    }

    RIL_Env env_;
    std::atomic<bool> keep_{true};
    std::mutex mu_;
    std::condition_variable cv_;
    uint64_t records_ = 0; // every record kept so far: what a waiter waits for
    std::vector<Completion> completions_;
    std::vector<Unsolicited> unsolicited_;
    std::vector<TimerRequest> timers_;
    std::vector<LogLine> log_;
    CompleteHook complete_hook_;
    UnsolicitedHook unsolicited_hook_;
};

// RIL_Init with the host, the start-up timer fired as the host's timer thread
// would, and back once the event thread waits for stack messages.
const RIL_RadioFunctions *start_module(const RIL_RadioFunctions *(*init)(const struct RIL_Env *));
// The timers RIL_Init asked for.
const std::vector<TimerRequest> &startup_timers();

} // namespace zol_kit

#endif // ZOL_KIT_HOST_H
