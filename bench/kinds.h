// The request kinds the benchmarks drive, with the stack's answers to them,
// and the pieces both the paths and their floors use.
#ifndef ZOL_BENCH_KINDS_H
#define ZOL_BENCH_KINDS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bare_loop.h"

namespace zol_bench {

struct RequestKind {
    std::string name;
    int request = 0;            // the host request number
    const void *data = nullptr; // the host's data of the request
    size_t datalen = 0;
    std::vector<uint8_t> request_frame; // the frame the module sends (the floors send it too)
    std::vector<uint8_t> answer;        // the whole frame the stack answers with
    int callbacks = 1;                  // host callbacks that end one round trip
    int expected_allocations = 0;       // heap blocks one round trip of the module takes
    size_t response_len = 0;            // length of the completion's data
};

// GET_CURRENT_CALLS with two calls, DIAL (immediate; its round trip ends with
// the call-state change that the stack's progress indication brings), and
// QUERY_CALL_FORWARD_STATUS answered with the longest forwarding list.
std::vector<RequestKind> in_process_kinds();

// GET_CURRENT_CALLS and QUERY_CALL_FORWARD_STATUS as the simulated stack
// answers them once it has the two calls of `stack_setup_commands()`.
std::vector<RequestKind> cross_process_kinds();
std::vector<std::string> stack_setup_commands();

// The event the throughput benchmarks deliver: a call progress indication,
// which ends in one call-state-changed indication to the host.
std::vector<uint8_t> progress_indication_frame();

// Heap blocks the bare loop takes per event: the record and the payload copy.
constexpr int kFloorAllocations = 2;

// The floors' read callback: unframes like the module and queues the payload
// into the bare loop set here, whose handler ends the round trip.
void set_floor_loop(BareLoop *loop);
int floor_read_cb(void *record);
void floor_handler(void *context, const uint8_t *data, size_t length);

} // namespace zol_bench

#endif
