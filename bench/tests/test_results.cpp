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
    struct Case {
        std::vector<uint64_t> samples;
        double median, p99;
    } cases[] = {
        {{}, 0, 0},
        {{7}, 7, 7},
        {{5, 1, 3}, 3, 5},
        {{4, 1}, 1, 4},
        {one_to(100), 50, 99},
        {one_to(1000), 500, 990},
        {{9, 9, 9, 1000}, 9, 1000},
    };
    for (const Case &c : cases) {
        const Summary s = summarize(c.samples);
        EXPECT_EQ(s.median, c.median) << c.samples.size();
        EXPECT_EQ(s.p99, c.p99) << c.samples.size();
        EXPECT_EQ(s.count, c.samples.size());
    }
}

Row path_row(const std::string &group, const std::string &path, const std::string &variant,
             double median, const std::string &cpus = "all")
{
    Row r;
    r.group = group;
    r.path = path;
    r.variant = variant;
    r.cpus = cpus;
    r.median_ns = median;
    return r;
}

Row floor_row(const std::string &group, const std::string &path, double median,
              const std::string &cpus = "all")
{
    Row r = path_row(group, path, "", median, cpus);
    r.floor = true;
    return r;
}

TEST(Rows, SurviveTheirFileFormat)
{
    Row r = path_row("events", "burst 256", "log formatted", 1234567.25, "cpu0");
    r.p99_ns = 2e6;
    r.samples = 12;
    r.allocations = 2;
    r.expected_allocations = 2;
    Row m = floor_row("memory", "soak", 0);
    m.floor = false;
    m.rss_start_kib = 4000;
    m.rss_end_kib = 4100;
    m.rss_max_kib = 4200;
    m.live_blocks = -3;
    for (const Row &row : {r, m, floor_row("in-process", "dial", 20500.5)}) {
        const std::optional<Row> back = from_line(to_line(row));
        ASSERT_TRUE(back) << to_line(row);
        EXPECT_EQ(to_line(*back), to_line(row));
        EXPECT_EQ(back->variant, row.variant);
        EXPECT_EQ(back->median_ns, row.median_ns);
        EXPECT_EQ(back->live_blocks, row.live_blocks);
    }
}

TEST(Rows, BadLinesAreRefused)
{
    const std::string good = to_line(path_row("in-process", "dial", "log filtered", 1));
    ASSERT_TRUE(from_line(good));
    std::string two_in_floor = good;
    two_in_floor[two_in_floor.find("\tall\t") + 5] = '2';
    // Built by replace, not "\t" + string: GCC 12 warns (-Wrestrict) about the
    // insert at the front that the latter inlines.
    std::string empty_first = good;
    empty_first.replace(0, good.find('\t'), "");
    for (const std::string &bad : {std::string(), good + "\t1", good.substr(0, good.rfind('\t')),
                                   two_in_floor, empty_first}) {
        EXPECT_FALSE(from_line(bad)) << bad;
    }
    std::string not_a_number = good;
    not_a_number.replace(not_a_number.find("\t1\t"), 3, "\tx\t");
    EXPECT_FALSE(from_line(not_a_number));
}

TEST(Judge, RatiosAgainstTheTargets)
{
    struct Case {
        Row path;
        double floor_median;
        double ratio;
        std::string target;
        bool met;
    } cases[] = {
        {path_row("in-process", "dial", "log filtered", 30), 20, 1.5, "<= 1.5", true},
        {path_row("in-process", "dial", "log filtered", 31), 20, 1.55, "<= 1.5", false},
        {path_row("cross-process", "dial", "log formatted", 25), 20, 1.25, "<= 1.25", true},
        {path_row("cross-process", "dial", "log formatted", 26), 20, 1.3, "<= 1.25", false},
        // Event rows compare throughput: the floor's time over the path's.
        {path_row("events", "burst 256", "log formatted", 300), 100, 1.0 / 3, ">= 0.33", true},
        {path_row("events", "burst 256", "log formatted", 310), 100, 100.0 / 310, ">= 0.33", false},
        {path_row("events", "burst 256", "log filtered", 166), 100, 100.0 / 166, ">= 0.6", true},
        {path_row("events", "burst 256", "log filtered", 170), 100, 100.0 / 170, ">= 0.6", false},
        {path_row("events", "burst 16", "log filtered", 1000), 100, 0.1, "", true},
    };
    for (const Case &c : cases) {
        // The first floor is the same path's, pinned: not this row's floor.
        const std::vector<Row> rows = {floor_row(c.path.group, c.path.path, 1, "cpu0"),
                                       floor_row(c.path.group, c.path.path, c.floor_median), c.path};
        const Verdict v = judge(rows.back(), rows);
        ASSERT_EQ(v.floor, &rows[1]) << c.path.group << " " << c.path.median_ns;
        EXPECT_NEAR(v.ratio, c.ratio, 1e-9) << c.path.group << " " << c.path.median_ns;
        EXPECT_EQ(v.target, c.target);
        EXPECT_EQ(v.met, c.met) << c.path.group << " " << c.path.median_ns;
    }
}

TEST(Judge, AFloorOfAnotherCpuSettingIsNoFloor)
{
    const std::vector<Row> rows = {floor_row("in-process", "dial", 10, "cpu0"),
                                   path_row("in-process", "dial", "log filtered", 40)};
    const Verdict v = judge(rows[1], rows);
    EXPECT_EQ(v.floor, nullptr);
    EXPECT_TRUE(v.met);
    EXPECT_TRUE(v.target.empty());
}

TEST(Json, CarriesVerdictsAndEscapesText)
{
    const std::vector<Row> rows = {floor_row("in-process", "dial", 10),
                                   path_row("in-process", "dial", "log filtered", 40)};
    const std::string json = to_json(rows, "abc \"dirty\"\n");
    EXPECT_NE(json.find("\"commit\": \"abc \\\"dirty\\\"\\u000a\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"ratio\": 4, \"target\": \"<= 1.5\", \"met\": false"), std::string::npos)
        << json;
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), 3);
}

} // namespace
