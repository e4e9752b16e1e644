// Host threads send a random mix of every request kind while the stack
// answers, loses, repeats, delays and reorders its answers, fails sends, and
// sends messages nobody asked for. Every request must be completed exactly
// once, by the right thread, with a code its path allows, and once the stack
// has answered everything it held back, nothing may be left pending.
//
// Environment: ZOL_STRESS_SEED, ZOL_STRESS_REQUESTS (default 20000),
// ZOL_STRESS_THREADS (4), ZOL_STRESS_ROUNDS (4).
#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <android/log.h>
#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "reference_zol.h"
#include "stress_agent.h"
#include "stress_model.h"
#include "stress_stack.h"

namespace {

using namespace zol_stress;

constexpr int kMaxThreads = 64;

struct Settings {
    uint64_t seed;
    size_t requests;
    int threads;
    int rounds;
};

uint64_t env_number(const char *name, uint64_t fallback)
{
    const char *v = getenv(name);
    if (v == nullptr || *v == '\0') {
        return fallback;
    }
    return strtoull(v, nullptr, 0);
}

Settings settings_from_env()
{
    Settings s;
    s.seed = env_number("ZOL_STRESS_SEED", (static_cast<uint64_t>(std::random_device{}()) << 32) ^
                                               std::random_device{}());
    s.requests = static_cast<size_t>(env_number("ZOL_STRESS_REQUESTS", 20000));
    s.threads = static_cast<int>(env_number("ZOL_STRESS_THREADS", 4));
    s.rounds = static_cast<int>(env_number("ZOL_STRESS_ROUNDS", 4));
    s.threads = std::clamp(s.threads, 1, kMaxThreads);
    if (s.rounds < 1) {
        s.rounds = 1;
    }
    return s;
}

// ---- the host ------------------------------------------------------------------------------

thread_local bool t_host = false;
thread_local int64_t t_current = -1; // the request this host thread is issuing
thread_local Rng *t_rng = nullptr;

// Neither a host thread nor the stack's reader: the module's own thread.
bool on_module_thread()
{
    return !t_host && !Stack::on_reader_thread();
}

// Where a completion came from.
enum Where : int {
    kNowhere = 0,
    kInline = 1,      // inside the request's own onRequest
    kEventThread = 2, // the module's event thread
    kWrongThread = 3, // another host thread, the stack's reader, or a second module thread
};

constexpr int32_t kFirstSerial = 100000;
constexpr int32_t kStackTokenId = 0xFFFF;

struct Record {
    std::atomic<int> kind{-1};
    std::atomic<bool> refused_data{false};
    std::atomic<int> completions{0};
    std::atomic<int> code{-1};
    std::atomic<int> where{kNowhere};
    std::atomic<int> frames{0};
    std::atomic<int> sent_ok{0};
    std::atomic<int> bad_frames{0}; // wrong message id or token id
    std::atomic<bool> done_inside_send{false};
    std::atomic<int64_t> issued_ns{0};
};

// Host tokens are recycled as soon as their request is completed, the way
// rild frees a request's record inside OnRequestComplete: a completion that
// comes late lands on the token's next request, and a module that still
// reads a completed token reads poisoned memory under AddressSanitizer.
struct Ledger {
    explicit Ledger(size_t n)
        : words(n), owners(new std::atomic<int64_t>[n]), records(new Record[n]), size(n)
    {
        for (size_t i = 0; i < n; ++i) {
            owners[i].store(-1);
        }
        ASAN_POISON_MEMORY_REGION(words.data(), n * sizeof(int32_t));
    }

    // A free token for request i, its word holding the request's serial.
    RIL_Token take_token(size_t i)
    {
        size_t slot;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (free_slots.empty()) {
                slot = fresh_slots++;
            } else {
                slot = free_slots.back();
                free_slots.pop_back();
            }
        }
        ASAN_UNPOISON_MEMORY_REGION(&words[slot], sizeof(int32_t));
        words[slot] = kFirstSerial + static_cast<int32_t>(i);
        owners[slot].store(static_cast<int64_t>(i));
        return &words[slot];
    }

    // The request that holds token t now; -1 for none.
    int64_t owner_of(RIL_Token t) const
    {
        const int64_t slot = slot_of(t);
        return slot < 0 ? -1 : owners[slot].load();
    }

    void give_back(RIL_Token t)
    {
        const int64_t slot = slot_of(t);
        owners[slot].store(-1);
        ASAN_POISON_MEMORY_REGION(&words[static_cast<size_t>(slot)], sizeof(int32_t));
        std::lock_guard<std::mutex> lock(mu);
        free_slots.push_back(static_cast<size_t>(slot));
    }

    int64_t slot_of(RIL_Token t) const
    {
        const auto *p = static_cast<const int32_t *>(t);
        if (p < words.data() || p >= words.data() + size) {
            return -1;
        }
        return p - words.data();
    }

    void note(std::string text)
    {
        std::lock_guard<std::mutex> lock(mu);
        if (notes.size() < 20) {
            notes.push_back(std::move(text));
        }
    }

    std::vector<int32_t> words; // the token words; tokens are their addresses
    std::unique_ptr<std::atomic<int64_t>[]> owners;
    std::unique_ptr<Record[]> records;
    size_t size;
    std::vector<size_t> free_slots; // guarded by mu, most recently freed last
    size_t fresh_slots = 0;         // guarded by mu

    std::atomic<uint64_t> completions{0};
    std::atomic<uint64_t> foreign_completions{0};
    std::atomic<uint64_t> repeated_completions{0};
    std::atomic<uint64_t> unsolicited{0};
    std::atomic<uint64_t> unsolicited_wrong_thread{0};
    std::atomic<uint64_t> unexpected_sends{0};
    std::atomic<pthread_t> event_thread{0}; // the first module thread that completed a request
    std::atomic<uint64_t> checksum{0};
    // Running mean of how long the stack and the event thread take to answer.
    std::atomic<int64_t> answer_ns{200000};

    std::mutex mu;
    std::vector<std::string> notes;
};

Ledger *g_ledger = nullptr;
std::mutex g_timers_mu;
std::vector<std::pair<RIL_TimedCallback, void *>> g_timers;

// Lines of the radio log the test counts; the rest is only counted.
struct LogCounts {
    std::atomic<uint64_t> lines{0};
    std::atomic<uint64_t> list_full{0};
    std::atomic<uint64_t> duplicate_token{0};
    std::atomic<uint64_t> unprocessed{0};
    std::atomic<uint64_t> assertions{0};
    std::atomic<bool> event_loop_running{false};
    std::atomic<uint64_t> slow_lines{0};
};
LogCounts g_log;
std::atomic<uint64_t> g_seed{0};

// A slow log writer on the event thread, where a confirmation handler has
// taken its request and not yet answered it: the request's own thread, whose
// send has just failed, then meets a request already taken.
void slow_log_writer()
{
    thread_local Rng rng(g_seed.load() ^ 0x5DEECE66Dull);
    if (rng.permille(250)) {
        g_log.slow_lines.fetch_add(1, std::memory_order_relaxed);
        std::this_thread::sleep_for(std::chrono::microseconds(50 + rng.below(250)));
    }
}

void count_log(const struct __android_logger_data *data, const char *message)
{
    g_log.lines.fetch_add(1, std::memory_order_relaxed);
    if (message == nullptr) {
        return;
    }
    const std::string_view m(message);
    if (!g_log.event_loop_running.load(std::memory_order_relaxed) &&
        m == "zol_event_main(): Waiting...\n") {
        g_log.event_loop_running.store(true);
    }
    if (on_module_thread() && m.starts_with("Reply to RIL")) {
        slow_log_writer();
    }
    if (data->priority < ANDROID_LOG_ERROR) {
        return;
    }
    if (m == "Error processing event! (4)\n") {
        g_log.unprocessed.fetch_add(1);
    } else if (m.starts_with("Fail to add ReqList entry for token id") &&
               m.ends_with("(no buffer)\n")) {
        g_log.list_full.fetch_add(1);
    } else if (m.starts_with("Fail to add ReqList entry with token id")) {
        g_log.duplicate_token.fetch_add(1);
    } else if (m == "*****ASSERTION FAILED*****") {
        g_log.assertions.fetch_add(1);
    }
}

// Reads every byte the module hands over, so a response that does not live
// until the callback returns shows up under AddressSanitizer.
uint64_t touch(const void *data, size_t len)
{
    uint64_t sum = 0;
    const auto *b = static_cast<const uint8_t *>(data);
    for (size_t i = 0; data != nullptr && i < len; ++i) {
        sum = sum * 31 + b[i];
    }
    return sum;
}

int64_t now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int where_now(Ledger &l, int64_t index)
{
    if (t_current == index) {
        return kInline;
    }
    if (!on_module_thread()) {
        return kWrongThread;
    }
    // The first completion off the host threads names the event thread.
    pthread_t expected = 0;
    const pthread_t self = pthread_self();
    if (l.event_thread.compare_exchange_strong(expected, self)) {
        return kEventThread;
    }
    return pthread_equal(expected, self) != 0 ? kEventThread : kWrongThread;
}

void on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    Ledger &l = *g_ledger;
    l.completions.fetch_add(1);
    const int64_t i = l.owner_of(t);
    if (i < 0) {
        l.foreign_completions.fetch_add(1);
        l.note(l.slot_of(t) < 0 ? "completion for a token the host never issued"
                                : "completion for a token already completed and not reused");
        return;
    }
    Record &r = l.records[i];
    const int n = r.completions.fetch_add(1) + 1;
    const int first_code = r.code.exchange(e);
    const int where = where_now(l, i);
    r.where.store(where);
    if (where == kEventThread) {
        const int64_t mean = l.answer_ns.load();
        l.answer_ns.store(mean + (now_ns() - r.issued_ns.load() - mean) / 8);
    }
    if (n > 1) {
        l.repeated_completions.fetch_add(1);
        const int kind = r.kind.load();
        l.note("token " + std::to_string(kFirstSerial + i) + " (" +
               (kind >= 0 ? request_kinds()[static_cast<size_t>(kind)].name : "?") +
               ") completed again: codes " + std::to_string(first_code) + " then " +
               std::to_string(e));
    }
    uint64_t sum = touch(response, len);
    const int kind = r.kind.load();
    if (e == RIL_E_SUCCESS && kind >= 0 &&
        request_kinds()[static_cast<size_t>(kind)].request == RIL_REQUEST_GET_CURRENT_CALLS) {
        // The call list is an array of record pointers; the records and their
        // texts must be alive too.
        const auto *calls = static_cast<RIL_CallIms *const *>(response);
        for (size_t c = 0; response != nullptr && c < len / sizeof(RIL_CallIms *); ++c) {
            sum += touch(calls[c], sizeof(RIL_CallIms));
            sum += strlen(calls[c]->call.number) + strlen(calls[c]->extraText);
        }
    }
    l.checksum.fetch_add(sum, std::memory_order_relaxed);
    if (n == 1) {
        l.give_back(t); // the request is over: its token may serve the next one
    }
}

void on_unsolicited(int, const void *data, size_t len)
{
    Ledger &l = *g_ledger;
    l.unsolicited.fetch_add(1);
    if (!on_module_thread()) {
        l.unsolicited_wrong_thread.fetch_add(1);
    }
    l.checksum.fetch_add(touch(data, len), std::memory_order_relaxed);
}

void request_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *)
{
    std::lock_guard<std::mutex> lock(g_timers_mu);
    g_timers.emplace_back(cb, param);
}

const RIL_Env kEnv = {on_request_complete, on_unsolicited, request_timed_callback};

// The agent's send, on the host thread inside the request's handler.
int sink(void *ctx, const uint8_t *frame, int32_t length)
{
    Ledger &l = *g_ledger;
    if (!t_host || t_rng == nullptr || t_current < 0) {
        l.unexpected_sends.fetch_add(1);
        return 0;
    }
    Record &r = l.records[t_current];
    const RequestKind &kind = request_kinds()[static_cast<size_t>(r.kind.load())];
    const auto len = static_cast<size_t>(length);
    // The invite response answers the stack, not a host request: it carries the stack's token.
    const int32_t token_id =
        kind.message == 3 ? kStackTokenId : kFirstSerial + static_cast<int32_t>(t_current);
    if (frame_message(frame, len) != kind.message || frame_token(frame, len) != token_id) {
        r.bad_frames.fetch_add(1);
    }
    const int rc = static_cast<Stack *>(ctx)->on_send(frame, length, *t_rng);
    r.frames.fetch_add(1);
    if (rc == 0) {
        r.sent_ok.fetch_add(1);
    }
    if (r.completions.load() != 0) {
        r.done_inside_send.store(true);
    }
    return rc;
}

// ---- the module ------------------------------------------------------------------------------

struct Module {
    const RIL_RadioFunctions *radio = nullptr;
    zol_stress_attach_fn attach = nullptr;
    zol_stress_deliver_fn deliver = nullptr;
};

// Loads the agent by its path first: the module's dlopen of the bare name
// then finds the library already loaded under that name.
Module &module()
{
    static Module m = [] {
        Module r;
        void *agent = dlopen(ZOL_STRESS_AGENT, RTLD_NOW | RTLD_GLOBAL);
        if (agent == nullptr) {
            fprintf(stderr, "cannot load %s: %s\n", ZOL_STRESS_AGENT, dlerror());
            return r;
        }
        r.attach = reinterpret_cast<zol_stress_attach_fn>(dlsym(agent, "zol_stress_agent_attach"));
        r.deliver = reinterpret_cast<zol_stress_deliver_fn>(dlsym(agent, "zol_stress_agent_deliver"));
        __android_log_set_logger(count_log);
        __android_log_set_minimum_priority(ANDROID_LOG_VERBOSE);
        r.radio = RIL_Init(&kEnv);
        std::vector<std::pair<RIL_TimedCallback, void *>> timers;
        {
            std::lock_guard<std::mutex> lock(g_timers_mu);
            timers.swap(g_timers);
        }
        for (auto &[cb, param] : timers) {
            cb(param); // play the host's timer thread for the start-up timer
        }
        // The event thread starts its loop a second after the release; until
        // then every pending request would only fill the list.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!g_log.event_loop_running.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return r;
    }();
    return m;
}

// ---- one run ---------------------------------------------------------------------------------

struct Tally {
    uint64_t pending = 0, immediate = 0, local = 0, unsupported = 0, refused_data = 0;
    uint64_t list_full = 0, ok = 0, failed = 0;
    // Races the claims settle: completed by the event thread before the
    // request's own send had returned, and among those, sends that then failed.
    uint64_t answered_inside_send = 0, failed_send_answered = 0;
};

// A host thread keeps a window of requests open: before the next one it
// waits, for a few answer times at most, for the one it issued that many
// requests ago. While the stack stalls it does not wait, and the pending list
// fills up.
constexpr size_t kWindow = 10;

void issue(Ledger &l, const Stack &stack, const RIL_RadioFunctions *radio, size_t first, size_t i,
           Rng &rng)
{
    if (i >= first + kWindow && !stack.stalled()) {
        const int64_t wait = std::clamp<int64_t>(3 * l.answer_ns.load(), 100000, 20000000);
        const int64_t until = now_ns() + wait;
        while (l.records[i - kWindow].completions.load() == 0 && now_ns() < until) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    }
    const auto &kinds = request_kinds();
    const auto k = rng.below(static_cast<uint32_t>(kinds.size()));
    const RequestKind &kind = kinds[k];
    const bool refused = kind.fill_refused != nullptr && rng.permille(50);
    HostData d;
    (refused ? kind.fill_refused : kind.fill)(d, rng);
    Record &r = l.records[i];
    r.kind.store(static_cast<int>(k));
    r.refused_data.store(refused);
    r.issued_ns.store(now_ns());
    t_current = static_cast<int64_t>(i);
    radio->onRequest(kind.request, const_cast<void *>(d.data), d.len, l.take_token(i));
    t_current = -1;
    if ((kind.pattern != Pattern::pending || refused) && r.completions.load() != 1) {
        l.note(std::string(kind.name) + ": not answered before onRequest returned");
    }
}

// What the request's path allows; empty when the record is right.
std::string check_record(const Record &r, Tally &tally)
{
    const int kind_index = r.kind.load();
    if (kind_index < 0) {
        return "never issued";
    }
    const RequestKind &k = request_kinds()[static_cast<size_t>(kind_index)];
    const int n = r.completions.load(), code = r.code.load(), where = r.where.load();
    const int frames = r.frames.load(), sent_ok = r.sent_ok.load();
    const std::string name = k.name;
    const std::string seen = " (code " + std::to_string(code) + ", where " + std::to_string(where) +
                             ", frames " + std::to_string(frames) + ")";
    (code == RIL_E_SUCCESS ? tally.ok : tally.failed)++;
    if (n != 1) {
        return name + ": completed " + std::to_string(n) + " times" + seen;
    }
    if (r.bad_frames.load() != 0) {
        return name + ": sent a frame with the wrong message or token id" + seen;
    }
    if (r.refused_data.load()) {
        tally.refused_data++;
        return frames == 0 && code == RIL_E_GENERIC_FAILURE && where == kInline
                   ? ""
                   : name + ": refused data not answered with 2 at once" + seen;
    }
    switch (k.pattern) {
    case Pattern::unsupported:
        tally.unsupported++;
        return frames == 0 && code == RIL_E_REQUEST_NOT_SUPPORTED && where == kInline
                   ? ""
                   : name + ": not refused with 6 at once" + seen;
    case Pattern::local:
        tally.local++;
        return frames <= (k.message != 0 ? 1 : 0) && code == RIL_E_SUCCESS && where == kInline
                   ? ""
                   : name + ": not answered from the module's state" + seen;
    case Pattern::immediate:
        tally.immediate++;
        return frames == 1 && code == (sent_ok == 1 ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE) &&
                       where == kInline
                   ? ""
                   : name + ": not answered from its send" + seen;
    case Pattern::pending:
        tally.pending++;
        if (frames == 0) {
            // Refused by a full list: nothing sent, code 2 at once.
            tally.list_full++;
            return code == RIL_E_GENERIC_FAILURE && where == kInline
                       ? ""
                       : name + ": refused by the list but not answered with 2 at once" + seen;
        }
        if (frames > 1) {
            return name + ": sent more than one message" + seen;
        }
        if (where == kInline) {
            // Only a failed send is answered on the request's thread.
            return sent_ok == 0 && code == k.send_fail_code
                       ? ""
                       : name + ": answered on its own thread" + seen;
        }
        if (where != kEventThread) {
            return name + ": completed off the event thread" + seen;
        }
        if (r.done_inside_send.load()) {
            tally.answered_inside_send++;
            tally.failed_send_answered += sent_ok == 0 ? 1 : 0;
        }
        if (code != RIL_E_SUCCESS && code != RIL_E_GENERIC_FAILURE &&
            !(code == RIL_E_SMS_SEND_FAIL_RETRY && k.request == RIL_REQUEST_IMS_SEND_SMS)) {
            return name + ": completed with a code no answer gives" + seen;
        }
        return "";
    }
    return "";
}

// "(no buffer)" lines the check below causes itself.
uint64_t g_probe_refusals = 0;

// The list must have all its slots again: 50 adds succeed and the 51st is refused.
std::string check_list_empty()
{
    for (int32_t event : answer_events()) {
        zol_reqlist_entry_type e;
        if (zol_reqlist_query_by_event_all_states(static_cast<uint32_t>(event), &e) == 0) {
            return "an entry still waits for event " + std::to_string(event) + " (request " +
                   std::to_string(e.request) + ", token id " +
                   std::to_string(zol_log_get_token_id(e.t)) + ")";
        }
    }
    static int32_t probe[ZOL_REQLIST_MAX];
    std::string problem;
    int added = 0;
    for (int i = 0; i < ZOL_REQLIST_MAX; ++i) {
        probe[i] = 90000 + i;
        zol_reqlist_entry_type e;
        // An event no handler looks for, so nothing can take these entries.
        zol_reqlist_default_entry(&probe[i], 1, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, ZOL_EVENT_NONE,
                                  nullptr, &e);
        if (zol_reqlist_new(&e) != 0) {
            problem = "only " + std::to_string(i) + " free slots";
            break;
        }
        ++added;
    }
    if (problem.empty()) {
        zol_reqlist_entry_type e;
        // A null token: the refusal goes to nobody.
        zol_reqlist_default_entry(nullptr, 1, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS, ZOL_EVENT_NONE,
                                  nullptr, &e);
        if (zol_reqlist_new(&e) == ZOL_REQLIST_FULL) {
            ++g_probe_refusals;
        } else {
            problem = "a 51st entry was taken";
            zol_reqlist_free(nullptr);
        }
    }
    for (int i = 0; i < added; ++i) {
        zol_reqlist_free(&probe[i]);
    }
    return problem;
}

// One line of "name value" figures.
class FigureLine {
public:
    explicit FigureLine(std::string head) : line_(std::move(head)) {}
    FigureLine &add(const char *name, uint64_t value, const char *after = ", ")
    {
        line_ += name;
        line_ += ' ';
        line_ += std::to_string(value);
        line_ += after;
        return *this;
    }
    FigureLine &text(const char *t)
    {
        line_ += t;
        return *this;
    }
    const std::string &str() const { return line_; }

private:
    std::string line_;
};

void run_hosts(Ledger &ledger, const Stack &stack, const RIL_RadioFunctions *radio,
               const Settings &s, int round, size_t first, size_t end)
{
    std::vector<std::thread> hosts;
    const size_t count = end - first;
    for (int th = 0; th < s.threads; ++th) {
        const size_t b = first + count * static_cast<size_t>(th) / static_cast<size_t>(s.threads);
        const size_t e = first + count * static_cast<size_t>(th + 1) / static_cast<size_t>(s.threads);
        const uint64_t thread_seed =
            s.seed ^ (0x9E3779B97F4A7C15ull * static_cast<uint64_t>(round * kMaxThreads + th + 1));
        hosts.emplace_back([&ledger, &stack, radio, b, e, thread_seed] {
            t_host = true;
            Rng rng(thread_seed);
            t_rng = &rng;
            for (size_t i = b; i < e; ++i) {
                issue(ledger, stack, radio, b, i, rng);
            }
            t_rng = nullptr;
        });
    }
    for (std::thread &h : hosts) {
        h.join();
    }
}

TEST(Stress, EveryRequestIsCompletedExactlyOnce)
{
    const Settings s = settings_from_env();
    printf("stress: seed 0x%016" PRIx64 " (ZOL_STRESS_SEED), %zu requests (ZOL_STRESS_REQUESTS), "
           "%d threads (ZOL_STRESS_THREADS), %d rounds (ZOL_STRESS_ROUNDS)\n",
           s.seed, s.requests, s.threads, s.rounds);
    fflush(stdout);
    g_seed.store(s.seed);

    Module &m = module();
    ASSERT_NE(m.radio, nullptr) << "RIL_Init failed";
    ASSERT_NE(m.attach, nullptr);
    ASSERT_NE(m.deliver, nullptr);

    // Never freed: if a check fails early, the event thread may still report to it.
    g_ledger = new Ledger(s.requests);
    Ledger &ledger = *g_ledger;
    Stack stack(m.deliver, s.seed, Faults{});
    struct Detach {
        Module &m;
        ~Detach() { m.attach(nullptr, nullptr); } // before the stack goes away
    } detach{m};
    ASSERT_TRUE(m.attach(sink, &stack)) << "the module did not open the agent's channel";

    const auto started = std::chrono::steady_clock::now();
    const uint64_t list_full_before = g_log.list_full.load();
    Tally tally;
    std::vector<std::string> problems;
    size_t next = 0;
    for (int round = 0; round < s.rounds; ++round) {
        const size_t end = s.requests * static_cast<size_t>(round + 1) / static_cast<size_t>(s.rounds);
        stack.begin_round();
        run_hosts(ledger, stack, m.radio, s, round, next, end);

        // The stack answers everything it held back; the marker after it tells
        // when the event thread has handled all of it.
        const uint64_t markers = stack.drain();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (g_log.unprocessed.load() < markers && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(g_log.unprocessed.load(), markers)
            << "round " << round << ": the event thread did not get through the stack's answers";

        for (size_t i = next; i < end; ++i) {
            std::string p = check_record(ledger.records[i], tally);
            if (!p.empty() && problems.size() < 20) {
                problems.push_back("round " + std::to_string(round) + ", token " +
                                   std::to_string(kFirstSerial + static_cast<int64_t>(i)) + ": " + p);
            }
        }
        const std::string list = check_list_empty();
        EXPECT_EQ(list, "") << "round " << round << ": pending list after the drain";
        next = end;
        if (!problems.empty() || !list.empty()) {
            break; // later rounds would only repeat the damage
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const StackFigures &f = stack.figures();
    char head[64];
    snprintf(head, sizeof head, "stress: seed 0x%016" PRIx64 ": ", s.seed);
    FigureLine line(head);
    line.add("requests", next, " (")
        .add("pending", tally.pending)
        .add("immediate", tally.immediate)
        .add("local", tally.local)
        .add("unsupported", tally.unsupported)
        .add("refused for their data", tally.refused_data, "), ")
        .add("completions", ledger.completions.load(), " (")
        .add("ok", tally.ok)
        .add("failed", tally.failed, "), ")
        .add("refused by the full list", tally.list_full)
        .add("answered before their send returned", tally.answered_inside_send, " (")
        .add("failed sends", tally.failed_send_answered, "); ")
        .text("faults: ")
        .add("frames", f.frames.load())
        .add("send failures", f.send_failures.load(), " (")
        .add("seen by the stack", f.failed_but_seen.load(), "), ")
        .add("answered inside the send", f.inline_answers.load())
        .add("slow sends", f.slow_sends.load())
        .add("duplicated", f.duplicates.load())
        .add("late", f.late.load())
        .add("held to the drain", f.held.load())
        .add("stalls", f.stalls.load(), " (")
        .add("answers held", f.stalled_answers.load(), "), ")
        .add("strays", f.strays.load(), " (")
        .add("refused by the read callback", f.refused_by_module.load(), "), ")
        .add("stack messages", f.delivered.load())
        .add("slow log writes", g_log.slow_lines.load())
        .add("assertion reports", g_log.assertions.load(), "; ")
        .add("unsolicited", ledger.unsolicited.load())
        .add("log lines", g_log.lines.load(), "; ");
    printf("%s%.2f s\n", line.str().c_str(), seconds);
    fflush(stdout);

    for (const std::string &p : problems) {
        ADD_FAILURE() << p;
    }
    {
        std::lock_guard<std::mutex> lock(ledger.mu);
        for (const std::string &n : ledger.notes) {
            ADD_FAILURE() << n;
        }
    }
    EXPECT_EQ(ledger.completions.load(), next);
    EXPECT_EQ(ledger.repeated_completions.load(), 0u);
    EXPECT_EQ(ledger.foreign_completions.load(), 0u);
    EXPECT_EQ(ledger.unexpected_sends.load(), 0u);
    EXPECT_EQ(ledger.unsolicited_wrong_thread.load(), 0u)
        << "unsolicited responses come from the event thread only";
    EXPECT_EQ(g_log.duplicate_token.load(), 0u) << "no token was ever pending twice";
    // Every "(no buffer)" line is one pending request refused without a send.
    EXPECT_EQ(g_log.list_full.load() - list_full_before - g_probe_refusals, tally.list_full);
    if (next >= 2000) {
        EXPECT_GT(tally.list_full, 0u) << "the stalls should have filled the pending list";
    }
}

} // namespace
