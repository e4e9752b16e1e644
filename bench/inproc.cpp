// In-process paths: request round trips through the module and the kit
// agent, and stack event throughput; each beside its floor.
#include "groups.h"

#include <cstdio>
#include <string>

#include "alloc_count.h"
#include "bare_loop.h"
#include "harness.h"
#include "host.h"
#include "kinds.h"
#include "agent.h"

namespace zol_bench {

namespace {

constexpr LogMode kLogModes[] = {LogMode::formatted, LogMode::filtered};
constexpr size_t kBursts[] = {1, 16, 256, 4096};

struct InProcess {
    const RIL_RadioFunctions *radio = nullptr;
    ipc_agent_read_cb_type module_cb = nullptr;
    Token token;
    std::vector<uint8_t> event_frame;

    uint64_t module_round_trip(const RequestKind &k)
    {
        Host &host = Host::get();
        host.arm(k.callbacks);
        const uint64_t start = now_ns();
        radio->onRequest(k.request, const_cast<void *>(k.data), k.datalen, token.next());
        host.wait();
        return now_ns() - start;
    }

    // The same hops without the module: the agent's reader thread hands the
    // same answer to the bare loop, whose handler completes.
    static uint64_t floor_round_trip(RequestKind &k)
    {
        Host &host = Host::get();
        ipc_agent_send_type send = {
            k.request_frame.data(), static_cast<int32_t>(k.request_frame.size()), -1, 0, 0, 1};
        host.arm(1);
        const uint64_t start = now_ns();
        ipc_agent_message_send_block_comm(&send);
        host.wait();
        return now_ns() - start;
    }

    // One burst from the agent's side; nanoseconds per event.
    uint64_t burst(ipc_agent_read_cb_type cb, size_t events)
    {
        Host &host = Host::get();
        ipc_agent_recv_type rec = {0, event_frame.data(), static_cast<int32_t>(event_frame.size())};
        host.arm(static_cast<int>(events));
        const uint64_t start = now_ns();
        for (size_t i = 0; i < events; ++i) {
            cb(&rec);
        }
        host.wait();
        return (now_ns() - start) / events;
    }
};

std::string name_of(const std::string &group, const std::string &path, const char *variant)
{
    return group + "/" + path + (variant != nullptr ? std::string("/") + variant : "/floor");
}

} // namespace

int run_in_process(const Options &options)
{
    set_log_mode(LogMode::filtered);
    InProcess ip;
    zol_kit::agent::keep_frames(false);
    ip.radio = load_module(ZOL_BENCH_MODULE);
    ip.module_cb = zol_kit::agent::module_callback();
    if (!expect(ip.radio != nullptr && ip.module_cb != nullptr, "the module did not come up")) {
        return 1;
    }
    std::vector<RequestKind> kinds = in_process_kinds();
    for (const RequestKind &k : kinds) {
        zol_kit::agent::answer(
            static_cast<uint16_t>((k.request_frame[5] << 8) | k.request_frame[6]), k.answer);
    }
    ip.event_frame = progress_indication_frame();
    BareLoop floor(floor_handler, nullptr);
    set_floor_loop(&floor);

    // The event thread starts work a second after RIL_Init: the first answer waits for it.
    for (const RequestKind &k : kinds) {
        for (int i = 0; i < 50; ++i) {
            ip.module_round_trip(k);
        }
    }

    const std::string cpus = cpus_label();
    const int reps = options.smoke ? 1 : 5;
    const int requests = options.smoke ? 200 : 4000;
    auto module_route = [] { zol_kit::agent::route_to(nullptr); };
    auto floor_route = [] { zol_kit::agent::route_to(floor_read_cb); };
    for (RequestKind &k : kinds) {
        add_benchmark(name_of("in-process", k.name, nullptr), requests, reps, floor_route,
                      [&k] { return InProcess::floor_round_trip(k); });
        for (LogMode mode : kLogModes) {
            add_benchmark(
                name_of("in-process", k.name, log_mode_name(mode)), requests, reps,
                [module_route, mode] {
                    module_route();
                    set_log_mode(mode);
                },
                [&ip, &k] { return ip.module_round_trip(k); });
        }
    }
    for (size_t events : kBursts) {
        const std::string path = "burst " + std::to_string(events);
        const int bursts = static_cast<int>((options.smoke ? 2000 : 40000) / events) + 2;
        add_benchmark(
            name_of("events", path, nullptr), bursts, reps, [] {},
            [&ip, events] { return ip.burst(floor_read_cb, events); });
        for (LogMode mode : kLogModes) {
            add_benchmark(
                name_of("events", path, log_mode_name(mode)), bursts, reps,
                [mode] { set_log_mode(mode); },
                [&ip, events] { return ip.burst(ip.module_cb, events); });
        }
    }
    run_benchmarks(options, true);
    zol_kit::agent::route_to(nullptr);
    set_log_mode(LogMode::filtered);

    std::vector<Row> rows;
    auto add_row = [&](const std::string &group, const std::string &path, const char *variant,
                       double allocations, double expected) {
        const Summary s = summary_of(name_of(group, path, variant));
        Row r;
        r.group = group;
        r.path = path;
        r.variant = variant != nullptr ? variant : "";
        r.cpus = cpus;
        r.floor = variant == nullptr;
        r.median_ns = s.median;
        r.p99_ns = s.p99;
        r.samples = s.count;
        r.allocations = allocations;
        r.expected_allocations = expected;
        rows.push_back(r);
    };

    const int counted = options.smoke ? 200 : 2000;
    for (RequestKind &k : kinds) {
        zol_kit::agent::route_to(floor_read_cb);
        const double floor_allocs =
            allocations_per(counted, [&k] { InProcess::floor_round_trip(k); });
        zol_kit::agent::route_to(nullptr);
        const double allocs = allocations_per(counted, [&] { ip.module_round_trip(k); });
        expect(allocs == k.expected_allocations, "%s: %.3f heap blocks per request, want %d",
               k.name.c_str(), allocs, k.expected_allocations);
        expect(Host::get().tally().last_response_len == k.response_len,
               "%s: a response of %zu bytes, want %zu", k.name.c_str(),
               Host::get().tally().last_response_len, k.response_len);
        add_row("in-process", k.name, nullptr, floor_allocs, kFloorAllocations);
        for (LogMode mode : kLogModes) {
            add_row("in-process", k.name, log_mode_name(mode), allocs, k.expected_allocations);
        }
    }
    for (size_t events : kBursts) {
        const std::string path = "burst " + std::to_string(events);
        const double floor_allocs = allocations_per(20, [&] { ip.burst(floor_read_cb, events); }) /
                                    static_cast<double>(events);
        const double allocs = allocations_per(20, [&] { ip.burst(ip.module_cb, events); }) /
                              static_cast<double>(events);
        // Per event: the record and the payload copy, nothing more.
        expect(allocs == 2, "events: %.3f heap blocks per event, want 2", allocs);
        add_row("events", path, nullptr, floor_allocs, kFloorAllocations);
        for (LogMode mode : kLogModes) {
            add_row("events", path, log_mode_name(mode), allocs, 2);
        }
    }
    expect_clean_tally();
    set_floor_loop(nullptr);
    if (!options.out.empty() && !write_rows(options.out, rows)) {
        expect(false, "cannot write %s", options.out.c_str());
    }
    return failures() == 0 ? 0 : 1;
}

} // namespace zol_bench
