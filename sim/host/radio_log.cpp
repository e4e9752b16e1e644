#include "radio_log.h"

#include <android/log.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace zol_host {
namespace {

std::mutex g_log_mutex;
FILE *g_log_file = nullptr; // null: lines are dropped
RadioLogOptions g_options;

const char *buffer_name(int id)
{
    constexpr const char *kNames[] = {"main",  "radio", "events",   "system",
                                      "crash", "stats", "security", "kernel"};
    if (id < 0) {
        return "main"; // -1: the default buffer
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
    LogLineOrigin o;
    if (data != nullptr) {
        o.buffer_id = data->buffer_id;
        o.priority = data->priority;
        o.tag = data->tag;
    }
    o.pid = static_cast<long>(getpid());
    o.tid = static_cast<long>(syscall(SYS_gettid));
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_log_file == nullptr) {
        return;
    }
    const std::string stamp = g_options.clock ? zol_sim::timestamp(*g_options.clock) : "";
    const std::string line = format_log_line(g_options.format, stamp, o, message);
    fputs(line.c_str(), g_log_file);
    fputc('\n', g_log_file);
    fflush(g_log_file);
}

} // namespace

std::string format_log_line(LogFormat format, const std::string &stamp, const LogLineOrigin &o,
                            const char *text)
{
    std::string body = text != nullptr ? text : "";
    if (!body.empty() && body.back() == '\n') {
        body.pop_back();
    }
    const char *tag = o.tag != nullptr ? o.tag : "";
    if (format == LogFormat::ThreadTime) {
        // As logcat -v threadtime prints it.
        char head[64];
        snprintf(head, sizeof head, " %5ld %5ld %c ", o.pid, o.tid, priority_letter(o.priority));
        char tag_field[64];
        snprintf(tag_field, sizeof tag_field, "%-8s", tag);
        return stamp + head + tag_field + ": " + body;
    }
    std::string line = stamp.empty() ? std::string() : stamp + " ";
    line += buffer_name(o.buffer_id);
    line += ' ';
    line += priority_letter(o.priority);
    line += ' ';
    line += tag;
    line += ": ";
    line += body;
    return line;
}

std::optional<LogFormat> parse_log_format(const std::string &text)
{
    if (text == "plain") {
        return LogFormat::Plain;
    }
    if (text == "threadtime") {
        return LogFormat::ThreadTime;
    }
    return std::nullopt;
}

bool install_radio_log(const RadioLogOptions &options, std::string &error)
{
    FILE *file = nullptr;
    if (options.target == "-") {
        file = stderr;
    } else if (options.target != "none") {
        file = fopen(options.target.c_str(), "w");
        if (file == nullptr) {
            const int err = errno;
            error = "cannot open log file " + options.target + ": " + strerror(err);
            return false;
        }
    }
    {
        std::lock_guard<std::mutex> lock(g_log_mutex);
        g_log_file = file;
        g_options = options;
    }
    __android_log_set_logger(write_line);
    __android_log_set_minimum_priority(ANDROID_LOG_VERBOSE);
    return true;
}

} // namespace zol_host
