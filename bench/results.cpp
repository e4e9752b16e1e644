#include "results.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <tuple>

namespace zol_bench {

namespace {

constexpr size_t kFields = 14;

std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

bool to_double(const std::string &text, double &out)
{
    char *end = nullptr;
    out = strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0';
}

bool to_long(const std::string &text, long &out)
{
    char *end = nullptr;
    out = strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0';
}

// 850 ns, 12.3 us, 1.25 ms
std::string duration(double ns)
{
    char text[32];
    if (ns < 1000) {
        snprintf(text, sizeof text, "%.0f ns", ns);
    } else if (ns < 1e6) {
        snprintf(text, sizeof text, "%.1f us", ns / 1e3);
    } else {
        snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    }
    return text;
}

std::string number(double v)
{
    char text[32];
    if (v == std::floor(v)) {
        snprintf(text, sizeof text, "%.0f", v);
    } else {
        snprintf(text, sizeof text, "%.3g", v);
    }
    return text;
}

std::string json_text(const std::string &s)
{
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

struct Target {
    bool lower_is_better;
    double bound;
};

std::optional<Target> target_of(const Row &row)
{
    if (row.group == "in-process") {
        return Target{true, 1.5};
    }
    if (row.group == "cross-process") {
        return Target{true, 1.25};
    }
    if (row.group == "events" && row.path == "burst 256") {
        return Target{false, row.variant == "log filtered" ? 0.6 : 0.33};
    }
    return std::nullopt;
}

} // namespace

Summary summarize(std::vector<uint64_t> samples)
{
    Summary s;
    s.count = samples.size();
    if (samples.empty()) {
        return s;
    }
    auto rank = [&](double p) {
        const auto r =
            static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
        const size_t index = std::max<size_t>(r, 1) - 1;
        std::nth_element(samples.begin(), samples.begin() + static_cast<ptrdiff_t>(index),
                         samples.end());
        return static_cast<double>(samples[index]);
    };
    s.median = rank(50);
    s.p99 = rank(99);
    return s;
}

std::string to_line(const Row &r)
{
    std::ostringstream out;
    out.precision(12);
    out << r.group << '\t' << r.path << '\t' << r.variant << '\t' << r.cpus << '\t'
        << (r.floor ? 1 : 0) << '\t' << r.median_ns << '\t' << r.p99_ns << '\t' << r.samples << '\t'
        << r.allocations << '\t' << r.expected_allocations << '\t' << r.rss_start_kib << '\t'
        << r.rss_end_kib << '\t' << r.rss_max_kib << '\t' << r.live_blocks;
    return out.str();
}

std::optional<Row> from_line(const std::string &line)
{
    const std::vector<std::string> f = split_tabs(line);
    if (f.size() != kFields || f[0].empty() || f[1].empty() || (f[4] != "0" && f[4] != "1")) {
        return std::nullopt;
    }
    Row r;
    r.group = f[0];
    r.path = f[1];
    r.variant = f[2];
    r.cpus = f[3];
    r.floor = f[4] == "1";
    long samples = 0;
    if (!to_double(f[5], r.median_ns) || !to_double(f[6], r.p99_ns) || !to_long(f[7], samples) ||
        samples < 0 || !to_double(f[8], r.allocations) ||
        !to_double(f[9], r.expected_allocations) || !to_long(f[10], r.rss_start_kib) ||
        !to_long(f[11], r.rss_end_kib) || !to_long(f[12], r.rss_max_kib) ||
        !to_long(f[13], r.live_blocks)) {
        return std::nullopt;
    }
    r.samples = static_cast<size_t>(samples);
    return r;
}

bool write_rows(const std::string &path, const std::vector<Row> &rows)
{
    std::ofstream out(path);
    for (const Row &r : rows) {
        out << to_line(r) << '\n';
    }
    return static_cast<bool>(out);
}

bool read_rows(const std::string &path, std::vector<Row> &rows)
{
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::optional<Row> row = from_line(line);
        if (!row) {
            return false;
        }
        rows.push_back(*row);
    }
    return true;
}

Verdict judge(const Row &path, const std::vector<Row> &rows)
{
    Verdict v;
    for (const Row &r : rows) {
        if (r.floor && r.group == path.group && r.path == path.path && r.cpus == path.cpus) {
            v.floor = &r;
            break;
        }
    }
    if (v.floor == nullptr || v.floor->median_ns <= 0 || path.median_ns <= 0) {
        return v;
    }
    const bool throughput = path.group == "events";
    v.ratio =
        throughput ? v.floor->median_ns / path.median_ns : path.median_ns / v.floor->median_ns;
    if (const std::optional<Target> t = target_of(path)) {
        v.target = (t->lower_is_better ? "<= " : ">= ") + number(t->bound);
        v.met = t->lower_is_better ? v.ratio <= t->bound : v.ratio >= t->bound;
    }
    return v;
}

void sort_rows(std::vector<Row> &rows)
{
    static const std::vector<std::string> kGroups = {"in-process", "cross-process", "events",
                                                     "memory"};
    std::vector<std::string> paths;
    for (const Row &r : rows) {
        if (std::find(paths.begin(), paths.end(), r.path) == paths.end()) {
            paths.push_back(r.path);
        }
    }
    auto index = [](const std::vector<std::string> &list, const std::string &s) {
        return std::find(list.begin(), list.end(), s) - list.begin();
    };
    auto key = [&](const Row &r) {
        return std::make_tuple(index(kGroups, r.group), index(paths, r.path), r.variant,
                               r.cpus == "all" ? 1 : 0, r.cpus);
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row &a, const Row &b) { return key(a) < key(b); });
}

void print_table(FILE *out, const std::vector<Row> &rows)
{
    fprintf(out, "%-13s %-18s %-13s %-4s %9s %9s %9s %9s %6s %-13s %s\n", "group", "path",
            "variant", "cpus", "median", "p99", "floor", "floor p99", "ratio", "target",
            "allocs (want)");
    for (const Row &r : rows) {
        if (r.floor || r.group == "memory") {
            continue;
        }
        const Verdict v = judge(r, rows);
        std::string allocs = r.allocations < 0 ? "-" : number(r.allocations);
        if (r.expected_allocations >= 0) {
            allocs += " (" + number(r.expected_allocations) + ")";
            if (r.allocations != r.expected_allocations) {
                allocs += " !";
            }
        }
        const std::string target = v.target.empty() ? "-" : v.target + (v.met ? " ok" : " MISSED");
        char ratio[16] = "-";
        if (v.floor != nullptr) {
            snprintf(ratio, sizeof ratio, "%.2f", v.ratio);
        }
        fprintf(out, "%-13s %-18s %-13s %-4s %9s %9s %9s %9s %6s %-13s %s\n", r.group.c_str(),
                r.path.c_str(), r.variant.c_str(), r.cpus.c_str(), duration(r.median_ns).c_str(),
                duration(r.p99_ns).c_str(),
                v.floor != nullptr ? duration(v.floor->median_ns).c_str() : "-",
                v.floor != nullptr ? duration(v.floor->p99_ns).c_str() : "-", ratio, target.c_str(),
                allocs.c_str());
    }
    for (const Row &r : rows) {
        if (r.group != "memory") {
            continue;
        }
        fprintf(out,
                "memory: %zu requests (%s): RSS %ld KiB at the start, %ld KiB at the end, "
                "%ld KiB at most (%+ld KiB); %s heap blocks per request (want %s); "
                "%ld blocks still live\n",
                r.samples, r.cpus.c_str(), r.rss_start_kib, r.rss_end_kib, r.rss_max_kib,
                r.rss_end_kib - r.rss_start_kib, number(r.allocations).c_str(),
                number(r.expected_allocations).c_str(), r.live_blocks);
    }
    fputs("Times are per request; for the event paths per event within a burst, and their\n"
          "ratio is the path's throughput over the floor's. allocs: heap blocks per request.\n",
          out);
}

std::string to_json(const std::vector<Row> &rows, const std::string &commit)
{
    std::ostringstream out;
    out.precision(12);
    out << "{\n  \"commit\": " << json_text(commit) << ",\n  \"rows\": [";
    const char *sep = "\n";
    for (const Row &r : rows) {
        out << sep << "    {\"group\": " << json_text(r.group)
            << ", \"path\": " << json_text(r.path) << ", \"variant\": " << json_text(r.variant)
            << ", \"cpus\": " << json_text(r.cpus)
            << ", \"floor\": " << (r.floor ? "true" : "false") << ", \"median_ns\": " << r.median_ns
            << ", \"p99_ns\": " << r.p99_ns << ", \"samples\": " << r.samples;
        if (r.allocations >= 0) {
            out << ", \"allocations\": " << r.allocations;
        }
        if (r.expected_allocations >= 0) {
            out << ", \"expected_allocations\": " << r.expected_allocations;
        }
        if (r.group == "memory") {
            out << ", \"rss_start_kib\": " << r.rss_start_kib
                << ", \"rss_end_kib\": " << r.rss_end_kib << ", \"rss_max_kib\": " << r.rss_max_kib
                << ", \"live_blocks\": " << r.live_blocks;
        }
        if (!r.floor) {
            const Verdict v = judge(r, rows);
            if (v.floor != nullptr) {
                out << ", \"ratio\": " << v.ratio;
            }
            if (!v.target.empty()) {
                out << ", \"target\": " << json_text(v.target)
                    << ", \"met\": " << (v.met ? "true" : "false");
            }
        }
        out << "}";
        sep = ",\n";
    }
    out << "\n  ]\n}\n";
    return out.str();
}

} // namespace zol_bench
