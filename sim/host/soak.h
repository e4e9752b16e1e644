// The soak: several threads send a mix of requests for a while, another drives
// faults of the simulated stack (and kills and restarts it when the soak runs
// it), then the stack is made to answer everything outstanding and the host
// checks that every token was completed exactly once.
#ifndef ZOL_HOST_SOAK_H
#define ZOL_HOST_SOAK_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "host.h"

namespace zol_host {

struct SoakOptions {
    int seconds = 60;
    uint64_t seed = 1;
    int threads = 4;
    int rate = 200;         // requests a second, all threads together
    int fault_percent = 10; // the stack's random mode, while the driver has it on
    int kills = -1;         // stack restarts; -1: one for each started 30 s
    std::string imsd;       // zol-imsd to run, kill and restart; empty: use a running one
    std::string imsd_log = "/dev/null";
    std::string imsd_socket; // where the agent finds the stack
    std::string imsd_control;
    std::chrono::milliseconds timeout{10000};
};

// One request of the mix: a console command, the stack message that answers it
// (0 when the module waits for none) and how often it comes up.
struct SoakRequest {
    const char *line;
    uint16_t awaited;
    int weight;
};
std::span<const SoakRequest> soak_requests();

// What a run comes to.
struct SoakFigures {
    TokenTally tokens; // after the drain
    std::vector<std::string> host_errors;
    uint64_t made_up = 0; // confirmations the host asked for once the stack had drained
    int restarts = 0;     // the soak killed the stack and started it again
    int unexpected_exits = 0;
    int stack_exit_status = 0; // of the stack the soak ran, when it was stopped at the end
    int stuck_threads = 0;     // request threads that did not come back from the module
    int probes_failed = 0;     // requests after the drain that did not succeed
};

// One line per broken promise; empty when the run holds.
std::vector<std::string> soak_violations(const SoakFigures &f);

class Soak {
public:
    Soak(SoakOptions options, std::ostream &report);
    ~Soak();
    Soak(const Soak &) = delete;
    Soak &operator=(const Soak &) = delete;

    // Starts the stack if the soak runs it; before the module is loaded, so
    // that the agent finds it at once.
    bool start_stack(std::string &error);
    // Traffic, faults, drain and checks; returns the exit status.
    int run(Host &host);
    // Ends the stack the soak runs, if any.
    void stop_stack();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace zol_host

#endif
