// What a benchmark run measured, how it is kept between the runs of one
// comparison (one tab-separated line per row), and the table and JSON that
// bench/run prints and writes.
#ifndef ZOL_BENCH_RESULTS_H
#define ZOL_BENCH_RESULTS_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zol_bench {

struct Summary {
    double median = 0;
    double p99 = 0;
    size_t count = 0;
};

// Nearest-rank median and 99th percentile; all zero for no samples.
Summary summarize(std::vector<uint64_t> samples);

struct Row {
    std::string group;   // in-process, cross-process, events, memory
    std::string path;    // get_current_calls, dial, query_call_forward, burst 256, soak
    std::string variant; // log formatted, log filtered; empty for a floor
    std::string cpus;    // cpu0 when the run was pinned to one CPU, all otherwise
    bool floor = false;
    double median_ns = 0; // per request, or per event for the event paths
    double p99_ns = 0;
    size_t samples = 0;
    double allocations = -1; // heap blocks per request or event; -1 when not counted
    double expected_allocations = -1;
    // Memory soak only.
    long rss_start_kib = 0;
    long rss_end_kib = 0;
    long rss_max_kib = 0;
    long live_blocks = 0;
};

std::string to_line(const Row &row);
std::optional<Row> from_line(const std::string &line);
bool write_rows(const std::string &path, const std::vector<Row> &rows);
// Appends the rows of a file; false when it cannot be read or a line is bad.
bool read_rows(const std::string &path, std::vector<Row> &rows);

// How a path compares with its floor.
struct Verdict {
    const Row *floor = nullptr; // null when the run had none
    double ratio = 0;           // path/floor time; floor/path time for events (a throughput ratio)
    std::string target;         // "<= 1.5", ">= 0.6", or empty
    bool met = true;
};
Verdict judge(const Row &path, const std::vector<Row> &rows);

// Groups in the order of the table, each path's rows together, pinned first;
// paths keep the order in which they came.
void sort_rows(std::vector<Row> &rows);
void print_table(FILE *out, const std::vector<Row> &rows);
std::string to_json(const std::vector<Row> &rows, const std::string &commit);

} // namespace zol_bench

#endif
