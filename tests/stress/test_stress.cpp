// Host threads send a random mix of every request kind to a faulty stack
// (stress_stack.h). Every request must be completed exactly once, by the
// right thread, with a code its path allows, and once the stack has answered
// everything it held back, nothing may be left pending.
// ZOL_STRESS_SEED, _REQUESTS, _THREADS and _ROUNDS shape the run (README).
#include <gtest/gtest.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cinttypes>
#include <memory>
#include <random>
#include <string>

#include "agent.h"
#include "host.h"
#include "reference_zol.h"
#include "stress_stack.h"

namespace {

using namespace zol_stress;
namespace kit = zol_kit;

uint64_t env_number(const char *name, uint64_t fallback)
{
    const char *v = getenv(name);
    return v == nullptr || *v == '\0' ? fallback : strtoull(v, nullptr, 0);
}

struct Settings {
    uint64_t seed = env_number("ZOL_STRESS_SEED",
                               uint64_t{std::random_device{}()} << 32 ^ std::random_device{}());
    size_t requests = env_number("ZOL_STRESS_REQUESTS", 20000);
    size_t threads = std::clamp<size_t>(env_number("ZOL_STRESS_THREADS", 4), 1, 64);
    size_t rounds = std::max<size_t>(1, env_number("ZOL_STRESS_ROUNDS", 4));
};

thread_local Rng *t_rng = nullptr;   // set on host threads only
thread_local int64_t t_current = -1; // the request this host thread is issuing

// Neither a host thread nor the stack's reader: the module's own thread.
bool on_module_thread()
{
    return t_rng == nullptr && !Stack::on_reader_thread();
}

enum Where : int { kNowhere, kInline, kEventThread, kWrongThread };

constexpr int32_t kFirstSerial = 100000;

struct Record {
    std::atomic<int> kind{-1}, completions{0}, code{-1}, where{kNowhere};
    std::atomic<int> frames{0}, sent_ok{0}, bad_frames{0}; // bad: wrong message or token id
    std::atomic<int64_t> issued_ns{0};
};

int64_t now_ns()
{
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

// Host tokens are recycled as soon as their request is completed, the way
// rild frees a request's record inside OnRequestComplete: a completion that
// comes late lands on the token's next request, and a module that still
// reads a completed token reads poisoned memory under AddressSanitizer.
// Each token has an 8-byte shadow granule of its own: host threads poison and
// unpoison tokens at the same time, and two tokens sharing a granule would race
// on its shadow byte.
struct alignas(8) TokenWord {
    int32_t serial;
    int32_t unused;
};
struct Ledger {
    explicit Ledger(size_t n)
        : words(n), owners(new std::atomic<int64_t>[n]), records(new Record[n])
    {
        for (size_t i = 0; i < n; ++i) {
            owners[i].store(-1);
            free_slots.push_back(n - 1 - i);
        }
        ASAN_POISON_MEMORY_REGION(words.data(), n * sizeof(TokenWord));
    }

    RIL_Token take_token(size_t i)
    {
        std::unique_lock<std::mutex> lock(mu);
        const size_t slot = free_slots.back();
        free_slots.pop_back();
        lock.unlock();
        ASAN_UNPOISON_MEMORY_REGION(&words[slot], sizeof(TokenWord));
        words[slot].serial = kFirstSerial + static_cast<int32_t>(i);
        owners[slot].store(static_cast<int64_t>(i));
        return &words[slot].serial;
    }
    int64_t slot_of(RIL_Token t) const
    {
        const auto *p = static_cast<const TokenWord *>(t);
        return p < words.data() || p >= words.data() + words.size() ? -1 : p - words.data();
    }
    int64_t owner_of(RIL_Token t) const { return slot_of(t) < 0 ? -1 : owners[slot_of(t)].load(); }
    void give_back(RIL_Token t)
    {
        const auto slot = static_cast<size_t>(slot_of(t));
        owners[slot].store(-1);
        ASAN_POISON_MEMORY_REGION(&words[slot], sizeof(TokenWord));
        std::lock_guard<std::mutex> lock(mu);
        free_slots.push_back(slot);
    }
    void note(std::string text)
    {
        std::lock_guard<std::mutex> lock(mu);
        if (problems++ < 20) {
            notes.push_back(std::move(text));
        }
    }

    std::vector<TokenWord> words; // tokens are the addresses of their serials
    std::unique_ptr<std::atomic<int64_t>[]> owners;
    std::unique_ptr<Record[]> records;
    std::mutex mu;
    std::vector<size_t> free_slots; // most recently freed last
    std::vector<std::string> notes; // the first problems
    std::atomic<uint64_t> problems{0};
    uint64_t list_full = 0; // pending requests refused at once by the full list
    // Running mean of the stack's and the event thread's answer time.
    std::atomic<int64_t> answer_ns{200000};
};

Ledger *g_ledger = nullptr;

// Radio log lines the test counts.
std::atomic<uint64_t> g_list_full{0}, g_markers{0};
std::atomic<uint64_t> g_seed{0};

void count_log(const struct __android_logger_data *data, const char *message)
{
    const std::string_view m(message != nullptr ? message : "");
    // A slow log writer on the event thread, where a confirmation handler has
    // taken its request and not yet answered it: the request's own thread,
    // whose send has just failed, then meets a request already taken.
    if (on_module_thread() && m.starts_with("Reply to RIL")) {
        thread_local Rng rng{g_seed.load() ^ 0x5DEECE66Dull};
        if (rng.permille(250)) {
            std::this_thread::sleep_for(std::chrono::microseconds(50 + rng.below(250)));
        }
    }
    if (data->priority < ANDROID_LOG_ERROR) {
        return;
    }
    if (m == "Error processing event! (4)\n") {
        g_markers.fetch_add(1);
    } else if (m.starts_with("Fail to add ReqList entry for token id") &&
               m.ends_with("(no buffer)\n")) {
        g_list_full.fetch_add(1);
    }
}

void on_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    Ledger &l = *g_ledger;
    const int64_t i = l.owner_of(t);
    if (i < 0) {
        l.note(l.slot_of(t) < 0 ? "completion for a token the host never issued"
                                : "completion for a token already completed and not reused");
        return;
    }
    Record &r = l.records[i];
    const int n = r.completions.fetch_add(1) + 1;
    r.code.store(e);
    // Inside the request's own onRequest, on the module's event thread, or anywhere else.
    const int where = t_current == i ? kInline : on_module_thread() ? kEventThread : kWrongThread;
    r.where.store(where);
    if (where == kEventThread) {
        const int64_t mean = l.answer_ns.load();
        l.answer_ns.store(mean + (now_ns() - r.issued_ns.load() - mean) / 8);
    }
    const RequestKind &kind = kRequestKinds[static_cast<size_t>(r.kind.load())];
    // The host reads every byte, records and texts too, as rild would. A
    // forwarding query the stack answered with a status instead of a list
    // reaches the host as words, which it cannot tell from a list.
    if (e == RIL_E_SUCCESS && kind.request != RIL_REQUEST_QUERY_CALL_FORWARD_STATUS) {
        kit::read_response(kind.request, response, len);
    }
    if (n == 1) {
        l.give_back(t); // the request is over: its token may serve the next one
    }
}

void on_unsolicited(int, const void *, size_t)
{
    if (!on_module_thread()) {
        g_ledger->note("an unsolicited response off the event thread");
    }
}

// The agent's send, on the host thread inside the request's handler.
int on_send(void *stack, const uint8_t *frame, int32_t length)
{
    Ledger &l = *g_ledger;
    if (t_rng == nullptr || t_current < 0) {
        l.note("a send outside a host request");
        return 0;
    }
    Record &r = l.records[t_current];
    const RequestKind &kind = kRequestKinds[static_cast<size_t>(r.kind.load())];
    const kit::Sent sent = kit::read_frame(kit::Bytes(frame, frame + length));
    // The invite response answers the stack, not a host request: it carries the stack's token.
    const int32_t token = kind.request == RIL_REQUEST_IMS_MT_INVITE_RSP
                              ? 0xFFFF
                              : kFirstSerial + static_cast<int32_t>(t_current);
    if (sent.message != kind.message || sent.token != token) {
        r.bad_frames.fetch_add(1);
    }
    const int rc = static_cast<Stack *>(stack)->on_send(frame, length, *t_rng);
    r.frames.fetch_add(1);
    r.sent_ok.fetch_add(rc == 0 ? 1 : 0);
    return rc;
}

// A host thread keeps a window of requests open: before the next one it
// waits, for a few answer times at most, for the one it issued that many
// requests ago. While the stack stalls it does not wait, and the list fills up.
constexpr size_t kWindow = 10;

void issue(Ledger &l, const Stack &stack, const RIL_RadioFunctions *radio, size_t first, size_t i,
           Rng &rng)
{
    if (i >= first + kWindow && !stack.stalled()) {
        const int64_t until =
            now_ns() + std::clamp<int64_t>(3 * l.answer_ns.load(), 100000, 20000000);
        while (l.records[i - kWindow].completions.load() == 0 && now_ns() < until) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    }
    const auto k = rng.below(static_cast<uint32_t>(kRequestKinds.size()));
    const RequestKind &kind = kRequestKinds[k];
    Bytes d = kind.fill != nullptr ? kind.fill(rng) : Bytes{};
    Record &r = l.records[i];
    r.kind.store(static_cast<int>(k));
    r.issued_ns.store(now_ns());
    t_current = static_cast<int64_t>(i);
    radio->onRequest(kind.request, d.empty() ? nullptr : d.data(), d.size(), l.take_token(i));
    t_current = -1;
}

// What the request's path allows; empty when the record is right.
std::string check_record(const Record &r, Ledger &ledger)
{
    const RequestKind &k = kRequestKinds[static_cast<size_t>(r.kind.load())];
    const int n = r.completions.load(), code = r.code.load(), where = r.where.load();
    const int frames = r.frames.load(), sent_ok = r.sent_ok.load();
    const std::string seen = " (code " + std::to_string(code) + ", where " + std::to_string(where) +
                             ", frames " + std::to_string(frames) + ")";
    const auto expect = [&](bool ok, const std::string &what) {
        return ok ? std::string() : "request " + std::to_string(k.request) + ": " + what + seen;
    };
    if (n != 1 || r.bad_frames.load() != 0) {
        return expect(false, n != 1 ? "completed " + std::to_string(n) + " times"
                                    : "sent a frame with the wrong message or token id");
    }
    switch (k.pattern) {
    case Pattern::local:
        return expect(where == kInline && frames <= (k.message != 0 ? 1 : 0) &&
                          code == RIL_E_SUCCESS,
                      "not answered from the module's state");
    case Pattern::immediate:
        return expect(where == kInline && frames == 1 &&
                          code == (sent_ok == 1 ? RIL_E_SUCCESS : RIL_E_GENERIC_FAILURE),
                      "not answered from its send");
    case Pattern::pending:
        if (frames == 0) { // refused by a full list: nothing sent, code 2 at once
            ledger.list_full++;
            return expect(where == kInline && code == RIL_E_GENERIC_FAILURE,
                          "refused by the list, not with 2 at once");
        }
        // Only a failed send is answered on the request's thread.
        if (frames > 1 || where == kInline) {
            return expect(frames == 1 && sent_ok == 0 && code == k.send_fail_code,
                          "answered on its own thread");
        }
        return expect(where == kEventThread, "completed off the event thread") +
               expect(code == RIL_E_SUCCESS || code == RIL_E_GENERIC_FAILURE ||
                          code == k.send_fail_code,
                      "completed with a code no answer gives");
    }
    return "";
}

// No request may be left behind: all 50 slots of the list are free again.
std::string check_list_empty()
{
    static int32_t probe[ZOL_REQLIST_MAX] = {};
    int added = 0;
    for (; added < ZOL_REQLIST_MAX; ++added) {
        zol_reqlist_entry_type e;
        // An event no handler looks for, so nothing can take these entries.
        zol_reqlist_default_entry(&probe[added], 1, ZOL_REQ_AWAITING_MORE_AMSS_EVENTS,
                                  ZOL_EVENT_NONE, nullptr, &e);
        if (zol_reqlist_new(&e) != 0) {
            break;
        }
    }
    for (int i = 0; i < added; ++i) {
        zol_reqlist_free(&probe[i]);
    }
    return added == ZOL_REQLIST_MAX ? "" : "only " + std::to_string(added) + " free slots";
}

TEST(Stress, EveryRequestIsCompletedExactlyOnce)
{
    const Settings s;
    printf("stress: seed 0x%016" PRIx64 " (ZOL_STRESS_SEED), %zu requests (ZOL_STRESS_REQUESTS), "
           "%zu threads (ZOL_STRESS_THREADS), %zu rounds (ZOL_STRESS_ROUNDS)\n",
           s.seed, s.requests, s.threads, s.rounds);
    fflush(stdout);
    g_seed.store(s.seed);
    kit::Host &host = kit::Host::get();
    host.keep(false);
    kit::Host::capture_log(count_log);
    kit::agent::keep_frames(false);
    const RIL_RadioFunctions *radio = kit::start_module(RIL_Init);
    ASSERT_NE(radio, nullptr);

    // Never freed: if a check fails early, the event thread may still report to it.
    g_ledger = new Ledger(s.requests);
    Ledger &ledger = *g_ledger;
    Stack stack(s.seed, Faults{});
    host.on_complete(on_complete);
    host.on_unsolicited(on_unsolicited);
    kit::agent::on_send(on_send, &stack);
    struct Detach {
        ~Detach() { kit::agent::on_send(nullptr, nullptr); } // before the stack goes away
    } detach;

    size_t next = 0;
    for (size_t round = 0; round < s.rounds && ledger.problems.load() == 0; ++round) {
        const size_t end = s.requests * (round + 1) / s.rounds;
        const auto split = [&](size_t th) { return next + (end - next) * th / s.threads; };
        stack.begin_round();
        std::vector<std::thread> hosts;
        for (size_t th = 0; th < s.threads; ++th) {
            const uint64_t seed = s.seed ^ (0x9E3779B97F4A7C15ull * (round * 64 + th + 1));
            hosts.emplace_back([&, b = split(th), e = split(th + 1), seed] {
                Rng rng{seed};
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
        // The stack answers everything it held back; the marker after it tells
        // when the event thread has handled all of it.
        const uint64_t markers = stack.drain();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (g_markers.load() < markers && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(g_markers.load(), markers)
            << "round " << round << ": the event thread did not get through the stack's answers";
        for (size_t i = next; i < end; ++i) {
            if (const std::string p = check_record(ledger.records[i], ledger); !p.empty()) {
                ledger.note("token " + std::to_string(kFirstSerial + static_cast<int64_t>(i)) +
                            ": " + p);
            }
        }
        if (const std::string p = check_list_empty(); !p.empty()) {
            ledger.note("round " + std::to_string(round) + ": pending list after the drain: " + p);
        }
        next = end;
    }
    {
        std::lock_guard<std::mutex> lock(ledger.mu);
        for (const std::string &n : ledger.notes) {
            ADD_FAILURE() << n;
        }
    }
    // Every pending request refused without a send was refused by the full
    // list, one "(no buffer)" line each: none met its own token still pending.
    EXPECT_EQ(g_list_full.load(), ledger.list_full);
    if (next >= 2000) {
        EXPECT_GT(ledger.list_full, 0u) << "the stalls should have filled the pending list";
    }
}

} // namespace
