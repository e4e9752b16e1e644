#include "host.h"

#include <android/log.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>

namespace zol_bench {

namespace {

void discard_line(const struct __android_logger_data *, const char *) {}

} // namespace

const char *log_mode_name(LogMode mode)
{
    return mode == LogMode::formatted ? "log formatted" : "log filtered";
}

void set_log_mode(LogMode mode)
{
    __android_log_set_logger(discard_line);
    __android_log_set_minimum_priority(mode == LogMode::formatted ? ANDROID_LOG_VERBOSE
                                                                  : ANDROID_LOG_INFO);
}

Host &Host::get()
{
    static Host *const host = new Host();
    return *host;
}

Host::Host() : env_{on_complete, on_unsolicited, on_timed_callback}
{
    sem_init(&done_, 0, 0);
}

bool Host::wait()
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 10;
    while (sem_timedwait(&done_, &deadline) != 0) {
        if (errno != EINTR) {
            lost_.fetch_add(1);
            return false;
        }
    }
    return true;
}

void Host::count_down()
{
    const int before = remaining_.fetch_sub(1, std::memory_order_acq_rel);
    if (before == 1) {
        sem_post(&done_);
    } else if (before <= 0) {
        stray_.fetch_add(1);
    }
}

Host::Tally Host::tally() const
{
    Tally t;
    t.completions = completions_.load();
    t.failures = failures_.load();
    t.call_state_changes = call_state_changes_.load();
    t.other_unsolicited = other_unsolicited_.load();
    t.stray = stray_.load();
    t.lost = lost_.load();
    t.last_response_len = last_response_len_.load();
    return t;
}

void Host::on_complete(RIL_Token, RIL_Errno e, void *, size_t len)
{
    Host &h = get();
    h.completions_.fetch_add(1, std::memory_order_relaxed);
    if (e != RIL_E_SUCCESS) {
        h.failures_.fetch_add(1, std::memory_order_relaxed);
    }
    h.last_response_len_.store(len, std::memory_order_relaxed);
    h.count_down();
}

void Host::on_unsolicited(int number, const void *, size_t)
{
    Host &h = get();
    if (number != RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED) {
        h.other_unsolicited_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    h.call_state_changes_.fetch_add(1, std::memory_order_relaxed);
    h.count_down();
}

// The module's start-up delay timer is never run: nothing here depends on it.
void Host::on_timed_callback(RIL_TimedCallback, void *, const struct timeval *) {}

const RIL_RadioFunctions *load_module(const char *path)
{
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        fprintf(stderr, "zol_bench: cannot load %s: %s\n", path, dlerror());
        return nullptr;
    }
    using InitFunc = const RIL_RadioFunctions *(*)(const struct RIL_Env *);
    auto init = reinterpret_cast<InitFunc>(dlsym(handle, "RIL_Init"));
    if (init == nullptr) {
        fprintf(stderr, "zol_bench: %s has no RIL_Init\n", path);
        return nullptr;
    }
    return init(Host::get().env());
}

uint64_t now_ns()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

} // namespace zol_bench
