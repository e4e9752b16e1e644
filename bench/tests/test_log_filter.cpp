// A log line is formatted only when the log library would write it, and
// whenever it would: skipping formatting must never lose a line.
#include <gtest/gtest.h>

#include <android/log.h>

#include "log/zol_diag.h"

namespace {

int g_written = 0;

TEST(LogFilter, FormattedExactlyWhenTheLineIsWritten)
{
    __android_log_set_logger([](const struct __android_logger_data *, const char *) { ++g_written; });
    for (int minimum : {ANDROID_LOG_VERBOSE, ANDROID_LOG_DEBUG, ANDROID_LOG_INFO, ANDROID_LOG_WARN, ANDROID_LOG_ERROR,
                        ANDROID_LOG_FATAL, ANDROID_LOG_SILENT, ANDROID_LOG_DEFAULT}) {
        __android_log_set_minimum_priority(minimum);
        for (unsigned level = 0; level <= 6; ++level) {
            g_written = 0;
            zol_log_msg_to_adb(level, "line");
            EXPECT_EQ(zol::log_level_enabled(level), g_written == 1) << "minimum " << minimum << ", level " << level;
        }
    }
    int formatted = 0;
    auto argument = [&formatted] { return ++formatted; };
    __android_log_set_minimum_priority(ANDROID_LOG_INFO);
    ZOL_LOG(ZOL_LOG_TRACE, "trace %d", argument());
    ZOL_LOG(ZOL_LOG_DETAIL, "detail %d", argument());
    EXPECT_EQ(formatted, 0);
    ZOL_LOG(ZOL_LOG_ERROR, "error %d", argument());
    EXPECT_EQ(formatted, 1);
    __android_log_set_minimum_priority(ANDROID_LOG_DEBUG);
    g_written = 0;
    ZOL_LOG(ZOL_LOG_TRACE, "trace %d", argument());
    EXPECT_EQ(formatted, 2);
    EXPECT_EQ(g_written, 1);
    __android_log_set_minimum_priority(ANDROID_LOG_DEFAULT);
}

} // namespace
