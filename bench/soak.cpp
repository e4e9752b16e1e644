// A long in-process run of the three request kinds in turn, every allocation
// counted: the resident set must stay flat and nothing may be left behind.
#include "groups.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

#include "alloc_count.h"
#include "harness.h"
#include "host.h"
#include "kinds.h"
#include "agent.h"

namespace zol_bench {

int run_soak(const Options &options)
{
    set_log_mode(options.log_formatted ? LogMode::formatted : LogMode::filtered);
    zol_kit::agent::keep_frames(false);
    const RIL_RadioFunctions *radio = load_module(ZOL_BENCH_MODULE);
    if (!expect(radio != nullptr && zol_kit::agent::module_callback() != nullptr,
                "the module did not come up")) {
        return 1;
    }
    const std::vector<RequestKind> kinds = in_process_kinds();
    double expected = 0;
    for (const RequestKind &k : kinds) {
        zol_kit::agent::answer(
            static_cast<uint16_t>((k.request_frame[5] << 8) | k.request_frame[6]), k.answer);
        expected += k.expected_allocations;
    }
    expected /= static_cast<double>(kinds.size());

    Token token;
    auto round_trip = [&](const RequestKind &k) {
        Host &host = Host::get();
        host.arm(k.callbacks);
        radio->onRequest(k.request, const_cast<void *>(k.data), k.datalen, token.next());
        host.wait();
    };
    // Warm up until every lazy first-use cost (pages, binding, caches) is paid.
    const long requests = options.smoke ? 30000 : options.requests;
    const long warm_up = std::min(10000L, requests / 3);
    for (long i = 0; i < warm_up; ++i) {
        round_trip(kinds[static_cast<size_t>(i) % kinds.size()]);
    }
    // The event thread frees each event (and a handler its reply arrays) just
    // after the host has its answer: let the last ones go before counting.
    usleep(100000);

    count_allocations(true);
    const HeapCounts before = heap_counts();
    const long rss_start = rss_kib();
    long rss_max = rss_start;
    const long sample_every = std::max(1L, requests / 100);
    for (long i = 0; i < requests; ++i) {
        round_trip(kinds[static_cast<size_t>(i) % kinds.size()]);
        if (i % sample_every == 0) {
            rss_max = std::max(rss_max, rss_kib());
        }
    }
    usleep(100000);
    const HeapCounts after = heap_counts();
    count_allocations(false);
    const long rss_end = rss_kib();
    rss_max = std::max(rss_max, rss_end);

    Row r;
    r.group = "memory";
    r.path = "soak";
    r.cpus = cpus_label();
    r.samples = static_cast<size_t>(requests);
    r.allocations =
        static_cast<double>(after.allocations - before.allocations) / static_cast<double>(requests);
    r.expected_allocations = expected;
    r.rss_start_kib = rss_start;
    r.rss_end_kib = rss_end;
    r.rss_max_kib = rss_max;
    r.live_blocks = live_blocks(before, after);
    expect(r.allocations == expected, "soak: %.4f heap blocks per request, want %.4f",
           r.allocations, expected);
    expect(r.live_blocks == 0, "soak: %ld heap blocks still live", r.live_blocks);
    // Flat: a little slack for the allocator's bookkeeping, far below a byte per request.
    expect(rss_end - rss_start <= 1024, "soak: RSS grew by %ld KiB", rss_end - rss_start);
    expect_clean_tally();
    if (!options.out.empty() && !write_rows(options.out, {r})) {
        expect(false, "cannot write %s", options.out.c_str());
    }
    return failures() == 0 ? 0 : 1;
}

} // namespace zol_bench
