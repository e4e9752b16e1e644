// Percentiles, the rows' file format, and how a path is judged against its floor.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "results.h"

using namespace zol_bench;

namespace {

std::vector<uint64_t> one_to(uint64_t n)
{
    std::vector<uint64_t> v(n);
    std::iota(v.begin(), v.end(), 1);
    std::shuffle(v.begin(), v.end(), std::mt19937(7));
    return v;
}

TEST(Summary, NearestRankMedianAndP99)
{
    const struct {
        std::vector<uint64_t> samples;
        double median, p99;
    } cases[] = {{{}, 0, 0},     {{7}, 7, 7},           {{5, 1, 3}, 3, 5},
                 {{4, 1}, 1, 4}, {one_to(100), 50, 99}, {{9, 9, 9, 1000}, 9, 1000}};
    for (const auto &c : cases) {
        const Summary s = summarize(c.samples);
        EXPECT_EQ(s.median, c.median) << c.samples.size();
        EXPECT_EQ(s.p99, c.p99) << c.samples.size();
        EXPECT_EQ(s.count, c.samples.size());
    }
}

Row row(const std::string &group, const std::string &path, const char *variant, double median,
        const std::string &cpus = "all")
{
    Row r;
    r.group = group;
    r.path = path;
    r.variant = variant != nullptr ? variant : "";
    r.floor = variant == nullptr;
    r.cpus = cpus;
    r.median_ns = median;
    return r;
}

TEST(Rows, SurviveTheirFileFormatAndBadLinesAreRefused)
{
    Row r = row("events", "burst 256", "log formatted", 1234567.25, "cpu0");
    r.p99_ns = 2e6;
    r.samples = 12;
    r.allocations = r.expected_allocations = 2;
    Row m = row("memory", "soak", "", 0);
    m.rss_start_kib = 4000;
    m.rss_max_kib = 4200;
    m.live_blocks = -3;
    for (const Row &each : {r, m, row("in-process", "dial", nullptr, 20500.5)}) {
        const std::optional<Row> back = from_line(to_line(each));
        ASSERT_TRUE(back) << to_line(each);
        EXPECT_EQ(to_line(*back), to_line(each));
        EXPECT_EQ(back->live_blocks, each.live_blocks);
    }
    const std::string good = to_line(row("in-process", "dial", "log filtered", 1));
    std::string two_in_floor = good, not_a_number = good, empty_first = good;
    two_in_floor[two_in_floor.find("\tall\t") + 5] = '2';
    not_a_number.replace(not_a_number.find("\t1\t"), 3, "\tx\t");
    empty_first.replace(0, good.find('\t'), ""); // not "\t" + string: GCC 12 -Wrestrict
    for (const std::string &bad : {std::string(), good + "\t1", good.substr(0, good.rfind('\t')),
                                   two_in_floor, not_a_number, empty_first}) {
        EXPECT_FALSE(from_line(bad)) << bad;
    }
}

TEST(Judge, RatiosAgainstTheFloorOfTheSameCpus)
{
    const struct {
        Row path;
        double floor, ratio;
        std::string target;
        bool met;
    } cases[] = {
        {row("in-process", "dial", "log filtered", 30), 20, 1.5, "<= 1.5", true},
        {row("in-process", "dial", "log filtered", 31), 20, 1.55, "<= 1.5", false},
        {row("cross-process", "dial", "log formatted", 25), 20, 1.25, "<= 1.25", true},
        // Event rows compare throughput: the floor's time over the path's.
        {row("events", "burst 256", "log formatted", 300), 100, 1.0 / 3, ">= 0.33", true},
        {row("events", "burst 256", "log formatted", 310), 100, 100.0 / 310, ">= 0.33", false},
        {row("events", "burst 256", "log filtered", 166), 100, 100.0 / 166, ">= 0.6", true},
        {row("events", "burst 16", "log filtered", 1000), 100, 0.1, "", true},
    };
    for (const auto &c : cases) {
        // The first floor is the same path's, pinned: not this row's floor.
        const std::vector<Row> rows = {row(c.path.group, c.path.path, nullptr, 1, "cpu0"),
                                       row(c.path.group, c.path.path, nullptr, c.floor), c.path};
        const Verdict v = judge(rows.back(), rows);
        ASSERT_EQ(v.floor, &rows[1]) << c.path.group << " " << c.path.median_ns;
        EXPECT_NEAR(v.ratio, c.ratio, 1e-9) << c.path.group << " " << c.path.median_ns;
        EXPECT_EQ(v.target, c.target);
        EXPECT_EQ(v.met, c.met) << c.path.group << " " << c.path.median_ns;
        // Without a floor of the same CPUs there is nothing to judge.
        const Verdict alone = judge(rows.back(), {rows[0], rows[2]});
        EXPECT_TRUE(alone.floor == nullptr && alone.met && alone.target.empty());
    }
}

TEST(Json, CarriesVerdictsAndEscapesText)
{
    const std::string json = to_json(
        {row("in-process", "dial", nullptr, 10), row("in-process", "dial", "log filtered", 40)},
        "abc \"dirty\"\n");
    EXPECT_NE(json.find("\"commit\": \"abc \\\"dirty\\\"\\u000a\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"ratio\": 4, \"target\": \"<= 1.5\", \"met\": false"), std::string::npos)
        << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 3);
}

} // namespace
