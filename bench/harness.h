// Running the benchmarks: each Google Benchmark iteration is one timed round
// trip (or one burst), whose time is kept so that the median and p99 can be
// taken over all of them; plus allocation counting and the run's checks.
#ifndef ZOL_BENCH_HARNESS_H
#define ZOL_BENCH_HARNESS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "results.h"

namespace zol_bench {

struct Options {
    bool smoke = false;         // a few iterations: checks everything, times nothing worth keeping
    std::string out;            // where the rows go
    long requests = 1000000;    // soak length
    bool log_formatted = false; // soak with every log line formatted
    std::vector<std::string> benchmark_args; // --benchmark_* flags passed on
};

// "cpu0" when this process may run on one CPU only (taskset -c 0), else "all".
std::string cpus_label();

// `prepare` runs before each repetition, `once` is one iteration and returns
// the nanoseconds to record for it.
void add_benchmark(const std::string &name, int iterations, int repetitions,
                   std::function<void()> prepare, std::function<uint64_t()> once);
void run_benchmarks(const Options &options, bool interleave);
Summary summary_of(const std::string &name);

// Heap blocks per call of op, over n calls after a few uncounted ones.
double allocations_per(int n, const std::function<void()> &op);

// Records a failed check (printed at once); failures() counts them.
bool expect(bool ok, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int failures();
// Checks the host's tally: no failed completion, stray callback or lost answer.
void expect_clean_tally();

} // namespace zol_bench

#endif
