#include "test_host.h"

#include <android/log.h>
#include <cstring>

namespace zol_test {

void capture_logger(const struct __android_logger_data *data, const char *message)
{
    TestHost::instance().record_log(
        {data->buffer_id, data->priority, data->tag != nullptr ? data->tag : "",
         message != nullptr ? message : ""});
}

TestHost &TestHost::instance()
{
    // Never destroyed: the module's event thread logs for as long as the process lives.
    static TestHost *host = new TestHost;
    return *host;
}

TestHost::TestHost() : env_{on_request_complete, on_unsolicited, request_timed_callback} {}

void TestHost::capture_log()
{
    __android_log_set_logger(capture_logger);
    __android_log_set_minimum_priority(ANDROID_LOG_VERBOSE);
}

void TestHost::reset()
{
    std::lock_guard<std::mutex> lock(mu_);
    completions_.clear();
    unsolicited_.clear();
    timers_.clear();
    log_.clear();
    on_complete_ = nullptr;
}

std::vector<Completion> TestHost::completions()
{
    std::lock_guard<std::mutex> lock(mu_);
    return completions_;
}

std::vector<Completion> TestHost::completions_for(RIL_Token t)
{
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<Completion> out;
    for (const Completion &c : completions_) {
        if (c.t == t) {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<Unsolicited> TestHost::unsolicited()
{
    std::lock_guard<std::mutex> lock(mu_);
    return unsolicited_;
}

std::vector<TimerRequest> TestHost::timers()
{
    std::lock_guard<std::mutex> lock(mu_);
    return timers_;
}

void TestHost::set_on_complete(std::function<void(const Completion &)> hook)
{
    std::lock_guard<std::mutex> lock(mu_);
    on_complete_ = std::move(hook);
}

bool TestHost::wait_until(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (pred()) {
            return true;
        }
        std::unique_lock<std::mutex> lock(mu_);
        if (cv_.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return pred();
        }
    }
}

std::vector<LogLine> TestHost::log_lines()
{
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

bool TestHost::logged(const std::string &text)
{
    return count_logged(text) > 0;
}

size_t TestHost::count_logged(const std::string &text)
{
    std::lock_guard<std::mutex> lock(mu_);
    size_t n = 0;
    for (const LogLine &l : log_) {
        n += l.text == text ? 1 : 0;
    }
    return n;
}

bool TestHost::wait_logged(const std::string &text, std::chrono::milliseconds timeout)
{
    return wait_until([&] { return logged(text); }, timeout);
}

void TestHost::clear_log()
{
    std::lock_guard<std::mutex> lock(mu_);
    log_.clear();
}

void TestHost::record_log(LogLine line)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        log_.push_back(std::move(line));
    }
    cv_.notify_all();
}

void TestHost::on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    TestHost &h = instance();
    Completion c{t, zol_log_get_token_id(t), e, {}, len};
    if (response != nullptr && len != 0) {
        const auto *bytes = static_cast<const uint8_t *>(response);
        c.data.assign(bytes, bytes + len);
    }
    std::function<void(const Completion &)> hook;
    {
        std::lock_guard<std::mutex> lock(h.mu_);
        hook = h.on_complete_;
    }
    if (hook) {
        hook(c);
    }
    {
        std::lock_guard<std::mutex> lock(h.mu_);
        h.completions_.push_back(std::move(c));
    }
    h.cv_.notify_all();
}

void TestHost::on_unsolicited(int number, const void *data, size_t len)
{
    TestHost &h = instance();
    Unsolicited u{number, {}, len};
    if (data != nullptr && len != 0) {
        const auto *bytes = static_cast<const uint8_t *>(data);
        u.data.assign(bytes, bytes + len);
    }
    {
        std::lock_guard<std::mutex> lock(h.mu_);
        h.unsolicited_.push_back(std::move(u));
    }
    h.cv_.notify_all();
}

void TestHost::request_timed_callback(RIL_TimedCallback cb, void *param, const struct timeval *tv)
{
    TestHost &h = instance();
    {
        std::lock_guard<std::mutex> lock(h.mu_);
        h.timers_.push_back({cb, param, tv != nullptr ? *tv : timeval{0, 0}});
    }
    h.cv_.notify_all();
}

ScopedHandler::ScopedHandler(int32_t event_id, zol_handler_type handler)
{
    if (zol_hash_table_lookup(event_id, &row_) == 0) {
        saved_ = row_->handler;
        row_->handler = handler;
    }
}

ScopedHandler::~ScopedHandler()
{
    if (row_ != nullptr) {
        row_->handler = saved_;
    }
}

} // namespace zol_test
