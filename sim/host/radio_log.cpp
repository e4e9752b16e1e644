#include "radio_log.h"

#include <android/log.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace zol_host {
namespace {

std::mutex g_log_mutex;
FILE *g_log_file = nullptr;  // null: lines are dropped

const char *buffer_name(int id)
{
    constexpr const char *kNames[] = {"main", "radio", "events", "system",
                                      "crash", "stats", "security", "kernel"};
    if (id < 0) {
        return "main";  // -1: the default buffer
    }
    return id < static_cast<int>(std::size(kNames)) ? kNames[id] : "unknown";
}

char priority_letter(int priority)
{
    switch (priority) {
    case ANDROID_LOG_VERBOSE:
        return 'V';
    case ANDROID_LOG_DEBUG:
        return 'D';
    case ANDROID_LOG_INFO:
        return 'I';
    case ANDROID_LOG_WARN:
        return 'W';
    case ANDROID_LOG_ERROR:
        return 'E';
    case ANDROID_LOG_FATAL:
        return 'F';
    default:
        return '?';
    }
}

void write_line(const struct __android_logger_data *data, const char *message)
{
    const std::string line = format_log_line(data != nullptr ? data->buffer_id : -1,
                                             data != nullptr ? data->priority : ANDROID_LOG_UNKNOWN,
                                             data != nullptr ? data->tag : nullptr, message);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_log_file != nullptr) {
        fputs(line.c_str(), g_log_file);
        fputc('\n', g_log_file);
        fflush(g_log_file);
    }
}

} // namespace

std::string format_log_line(int buffer_id, int priority, const char *tag, const char *text)
{
    std::string body = text != nullptr ? text : "";
    if (!body.empty() && body.back() == '\n') {
        body.pop_back();
    }
    return std::string(buffer_name(buffer_id)) + " " + priority_letter(priority) + " " +
           (tag != nullptr ? tag : "") + ": " + body;
}

bool install_radio_log(const std::string &target, std::string &error)
{
    FILE *file = nullptr;
    if (target == "-") {
        file = stderr;
    } else if (target != "none") {
        file = fopen(target.c_str(), "w");
        if (file == nullptr) {
            const int err = errno;
            error = "cannot open log file " + target + ": " + strerror(err);
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        g_log_file = file;
    }
    __android_log_set_logger(write_line);
    __android_log_set_minimum_priority(ANDROID_LOG_VERBOSE);
    return true;
}

} // namespace zol_host
