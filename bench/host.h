// The benchmarks' RIL host: loads the module like rild does and wakes the
// measuring thread once the callbacks that end a round trip have arrived.
#ifndef ZOL_BENCH_HOST_H
#define ZOL_BENCH_HOST_H

#include <atomic>
#include <cstdint>
#include <semaphore.h>

#include "ril.h"

namespace zol_bench {

enum class LogMode {
    formatted, // every line formatted and handed to a logger that discards it
    filtered,  // the log library's default: debug lines dropped
};
const char *log_mode_name(LogMode mode);
void set_log_mode(LogMode mode);

class Host {
public:
    static Host &get();
    const RIL_Env *env() const { return &env_; }

    // The next `callbacks` completions or call-state-changed indications end
    // the round trip that wait() waits for.
    void arm(int callbacks) { remaining_.store(callbacks, std::memory_order_release); }
    // False when the callbacks did not all come within ten seconds.
    bool wait();
    // One callback of a round trip (the floors call this from their handlers).
    void count_down();

    struct Tally {
        uint64_t completions = 0;
        uint64_t failures = 0; // completions with an error code
        uint64_t call_state_changes = 0;
        uint64_t other_unsolicited = 0;
        uint64_t stray = 0; // callbacks nobody waited for
        uint64_t lost = 0;  // waits that timed out
        size_t last_response_len = 0;
    };
    Tally tally() const;

private:
    Host();
    static void on_complete(RIL_Token t, RIL_Errno e, void *response, size_t len);
    static void on_unsolicited(int number, const void *data, size_t len);
    static void on_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *tv);

    RIL_Env env_;
    sem_t done_;
    std::atomic<int> remaining_{0};
    std::atomic<uint64_t> completions_{0};
    std::atomic<uint64_t> failures_{0};
    std::atomic<uint64_t> call_state_changes_{0};
    std::atomic<uint64_t> other_unsolicited_{0};
    std::atomic<uint64_t> stray_{0};
    std::atomic<uint64_t> lost_{0};
    std::atomic<size_t> last_response_len_{0};
};

// dlopens the module and runs RIL_Init with the host; null (and a message on
// stderr) when the module cannot be loaded.
const RIL_RadioFunctions *load_module(const char *path);

// A host token: the module reads its first word as the request's serial.
struct Token {
    int32_t serial = 0;
    RIL_Token next()
    {
        ++serial;
        return &serial;
    }
};

uint64_t now_ns();

} // namespace zol_bench

#endif
