#include "harness.h"

#include <benchmark/benchmark.h>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <sched.h>

#include "alloc_count.h"
#include "host.h"

namespace zol_bench {

namespace {

std::map<std::string, std::vector<uint64_t>> g_samples;
int g_failures = 0;

// Google Benchmark's own output would only repeat the table bench/run prints.
class QuietReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                expect(false, "%s: %s", run.benchmark_name().c_str(), run.error_message.c_str());
            }
        }
    }
};

} // namespace

std::string cpus_label()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) != 1) {
        return "all";
    }
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            return "cpu" + std::to_string(cpu);
        }
    }
    return "all";
}

void add_benchmark(const std::string &name, int iterations, int repetitions,
                   std::function<void()> prepare, std::function<uint64_t()> once)
{
    std::vector<uint64_t> &samples = g_samples[name];
    samples.reserve(static_cast<size_t>(iterations) * static_cast<size_t>(repetitions));
    benchmark::RegisterBenchmark(name.c_str(),
                                 [&samples, prepare, once](benchmark::State &state) {
                                     prepare();
                                     for (auto _ : state) {
                                         samples.push_back(once());
                                     }
                                 })
        ->Iterations(iterations)
        ->Repetitions(repetitions)
        ->UseRealTime();
}

void run_benchmarks(const Options &options, bool interleave)
{
    std::vector<std::string> args = {"zol_bench"};
    if (interleave) {
        args.emplace_back("--benchmark_enable_random_interleaving=true");
    }
    args.insert(args.end(), options.benchmark_args.begin(), options.benchmark_args.end());
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    int argc = static_cast<int>(argv.size());
    benchmark::Initialize(&argc, argv.data());
    QuietReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();
}

Summary summary_of(const std::string &name)
{
    const auto it = g_samples.find(name);
    return it == g_samples.end() ? Summary{} : summarize(it->second);
}

double allocations_per(int n, const std::function<void()> &op)
{
    for (int i = 0; i < 10; ++i) {
        op();
    }
    count_allocations(true);
    const HeapCounts before = heap_counts();
    for (int i = 0; i < n; ++i) {
        op();
    }
    const HeapCounts after = heap_counts();
    count_allocations(false);
    return static_cast<double>(after.allocations - before.allocations) / n;
}

bool expect(bool ok, const char *fmt, ...)
{
    if (ok) {
        return true;
    }
    ++g_failures;
    va_list ap;
    va_start(ap, fmt);
    fputs("zol_bench: FAILED: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    return false;
}

int failures()
{
    return g_failures;
}

void expect_clean_tally()
{
    const Host::Tally t = Host::get().tally();
    expect(t.failures == 0, "%llu completions carried an error",
           static_cast<unsigned long long>(t.failures));
    expect(t.lost == 0, "%llu round trips lost an answer", static_cast<unsigned long long>(t.lost));
    expect(t.stray == 0, "%llu callbacks came for nobody",
           static_cast<unsigned long long>(t.stray));
    expect(t.other_unsolicited == 0, "%llu unexpected unsolicited responses",
           static_cast<unsigned long long>(t.other_unsolicited));
}

} // namespace zol_bench
