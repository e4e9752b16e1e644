// What the host writes for people and scripts to line up: radio log lines,
// output stamps, JSON.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "host.h"
#include "json_log.h"
#include "radio_log.h"

namespace zol_host {
namespace {

TEST(Logs, RadioLogLines)
{
    const LogLineOrigin o{1, 3 /* debug */, "IMS-ref-zol", 4242, 4250};
    EXPECT_EQ(format_log_line(LogFormat::Plain, "12-08 01:02:03.456", o, "Dial\n"),
              "12-08 01:02:03.456 radio D IMS-ref-zol: Dial");
    EXPECT_EQ(format_log_line(LogFormat::Plain, "", o, "Dial"), "radio D IMS-ref-zol: Dial");
    // logcat -v threadtime: time, pid and tid five wide, priority, tag padded to 8.
    EXPECT_EQ(format_log_line(LogFormat::ThreadTime, "12-08 01:02:03.456", o, "Dial\n"),
              "12-08 01:02:03.456  4242  4250 D IMS-ref-zol: Dial");
    const LogLineOrigin short_tag{1, 6 /* error */, "RIL", 7, 8};
    EXPECT_EQ(format_log_line(LogFormat::ThreadTime, "1.000000", short_tag, "x"),
              "1.000000     7     8 E RIL     : x");
}

TEST(Logs, OutputLinesAreStampedAndEscaped)
{
    std::ostringstream text;
    Output out(text);
    out.line("plain\x07");
    out.stamp_with(zol_sim::Clock::monotonic);
    out.block("head", {"detail"});
    const std::regex stamped(R"(plain\\x07\n\d+\.\d{6} head\n\d+\.\d{6}     detail\n)");
    EXPECT_TRUE(std::regex_match(text.str(), stamped)) << text.str();
}

TEST(Logs, JsonOfWhatTheModuleSaid)
{
    EXPECT_EQ(json_string("a\"b\\c\n\x01\xc3\xa4\xff"), R"("a\"b\\c\u000a\u0001ä\u00ff")");
    Decoded calls;
    CallInfo c;
    c.index = 1;
    c.state = 4;
    c.number = "+49";
    calls.calls = std::vector<CallInfo>{c};
    EXPECT_EQ(json_data(calls),
              R"({"calls":[{"index":1,"state":4,"number":"+49","toa":0,"mpty":0,"mt":0,)"
              R"("voice":1,"calltype":0,"attr":0,"text":null}]})");
    Decoded texts;
    texts.strings = std::vector<std::optional<std::string>>{"1", std::nullopt};
    EXPECT_EQ(json_data(texts), R"({"strings":["1",null]})");
    EXPECT_EQ(json_data(Decoded{}), "null");

    char file_text[1024] = {};
    FILE *file = fmemopen(file_text, sizeof file_text, "w");
    ASSERT_NE(file, nullptr);
    JsonLog json(file, zol_sim::Clock::monotonic);
    Completion done{3, 9, 2, 0, {}};
    json.completion(done);
    fclose(file);
    const std::regex line(R"(\{"time":"\d+\.\d{6}","event":"completion","serial":3,"request":9,)"
                          R"("name":"RIL_REQUEST_GET_CURRENT_CALLS","error":2,)"
                          R"("error_name":"Generic Failure","length":0,"data":null\}\n)");
    EXPECT_TRUE(std::regex_match(std::string(file_text), line)) << file_text;
}

} // namespace
} // namespace zol_host
