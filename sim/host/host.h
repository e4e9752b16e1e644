// The host side of the module's interface: the RIL_Env the module calls back
// through, the tokens of the requests sent to it, and the record of what came back.
#ifndef ZOL_HOST_HOST_H
#define ZOL_HOST_HOST_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "decode.h"
#include "json_log.h"
#include "output.h"
#include "ril.h"
#include "timer.h"

namespace zol_host {

struct Completion {
    int serial = 0;
    int request = 0;
    int error = 0;
    size_t length = 0;
    Decoded decoded; // left empty for an error without data
};

// What became of the tokens issued so far.
struct TokenTally {
    uint64_t issued = 0;
    uint64_t completed = 0;
    std::map<int, uint64_t> by_error;      // completions by RIL error
    std::vector<std::pair<int, int>> open; // serial and request of each open token
};

struct Unsolicited {
    int number = 0;
    size_t length = 0;
    Decoded decoded;
};

class Host {
public:
    explicit Host(Output &out);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    // The callbacks of env() reach the host made current here; the module keeps
    // the env for the life of the process.
    static const RIL_Env *env();
    static void set_current(Host *host);

    void attach(const RIL_RadioFunctions *radio);

    // Sends a request under a new token and returns the token's serial number.
    int send(int request, void *data, size_t len);
    std::optional<Completion> wait_completion(int serial, std::chrono::milliseconds timeout);
    // send() without data, then wait_completion().
    std::optional<Completion> request(int request, std::chrono::milliseconds timeout);

    // Unsolicited responses are counted from a mark: the number received so far.
    size_t unsol_mark();
    // How many with this number arrived after the mark, waiting until there are
    // at least `count` or the timeout passes.
    int wait_unsol(int number, int count, size_t since, std::chrono::milliseconds timeout);
    // The mark just past the first with this number after `since`, or `since`
    // when none has come.
    size_t unsol_mark_after(int number, size_t since);
    // Those with this number that arrived after the mark, oldest first, once
    // `done` holds for them or the timeout passes.
    using UnsolTest = std::function<bool(const std::vector<Unsolicited> &)>;
    std::vector<Unsolicited> wait_unsol_until(int number, size_t since,
                                              std::chrono::milliseconds timeout,
                                              const UnsolTest &done);

    // Faults the host saw in the module's answers: tokens completed twice or
    // never issued, and data that does not fit its request's shape.
    std::vector<std::string> host_errors();

    // A front end that serves another client takes every completion and
    // unsolicited response as it arrives (on the module's threads, decoded);
    // they are then not kept for wait_completion() and the unsol_ queries.
    using CompletionSink = std::function<void(const Completion &)>;
    using UnsolSink = std::function<void(const Unsolicited &)>;
    void set_listener(CompletionSink on_completion, UnsolSink on_unsolicited);

    // --json: every request, completion and unsolicited response also there.
    void set_json(JsonLog *json);

    // The IMS stack's socket. Unreachable at start, or gone when a request
    // fails with Generic Failure, is said once (until it is back).
    void watch_stack(const std::string &socket_path, bool reachable);

    TokenTally tally();
    // Off: completions keep their error but not their data, and unsolicited
    // responses are only counted, so that a long run does not pile them up.
    void keep_data(bool keep);
    uint64_t unsolicited_count();

    void on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len);
    void on_unsolicited(int number, const void *data, size_t len);
    void on_timed_callback(RIL_TimedCallback callback, void *param, const struct timeval *delay);

private:
    // What a token points to. The module reads the serial number from the first
    // four bytes; the host reads the request back from it.
    struct TokenRecord {
        int32_t serial;
        int32_t request;
    };
    struct TokenState {
        int serial;
        int request;
        bool completed;
    };

    int count_unsol_locked(int number, size_t since) const;
    void check_stack_after_failure();
    std::vector<Unsolicited> unsol_locked(int number, size_t since) const;
    void host_error(const std::string &text);

    Output &out_;
    const RIL_RadioFunctions *radio_ = nullptr;

    std::mutex mu_;
    std::condition_variable cv_;
    int next_serial_ = 1;
    // Records are never freed: a module that completes a token twice still reads
    // its serial number, and must find a live record there.
    std::deque<TokenRecord> records_;
    std::unordered_map<const void *, TokenState> tokens_;
    std::unordered_map<int, Completion> completions_;
    std::vector<Unsolicited> unsolicited_;
    std::vector<std::string> errors_;
    uint64_t completed_ = 0;
    std::map<int, uint64_t> by_error_;
    bool keep_data_ = true;
    std::atomic<JsonLog *> json_{nullptr};
    std::string stack_path_;
    bool stack_reported_ = false;
    CompletionSink completion_sink_;
    UnsolSink unsol_sink_;
    uint64_t unsolicited_count_ = 0;

    TimerThread timer_;
};

} // namespace zol_host

#endif
