#include "host.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <sys/stat.h>

#include "names.h"

namespace zol_host {
namespace {

std::atomic<Host *> g_current{nullptr};

void env_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    if (Host *host = g_current.load()) {
        host->on_request_complete(t, e, response, len);
    }
}

void env_unsolicited(int number, const void *data, size_t len)
{
    if (Host *host = g_current.load()) {
        host->on_unsolicited(number, data, len);
    }
}

void env_timed_callback(RIL_TimedCallback callback, void *param, const struct timeval *delay)
{
    if (Host *host = g_current.load()) {
        host->on_timed_callback(callback, param, delay);
    }
}

constexpr RIL_Env kEnv = {env_request_complete, env_unsolicited, env_timed_callback};

std::string token_text(const void *t)
{
    char text[32];
    snprintf(text, sizeof text, "%p", t);
    return text;
}

} // namespace

Host::Host(Output &out) : out_(out) {}

Host::~Host()
{
    Host *self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

const RIL_Env *Host::env()
{
    return &kEnv;
}

void Host::set_current(Host *host)
{
    g_current.store(host);
}

void Host::attach(const RIL_RadioFunctions *radio)
{
    radio_ = radio;
}

int Host::send(int request, void *data, size_t len)
{
    const void *t;
    int serial;
    {
        std::lock_guard<std::mutex> lock(mu_);
        serial = next_serial_++;
        records_.push_back({serial, request});
        t = &records_.back();
        tokens_[t] = {serial, request, false};
    }
    static_assert(offsetof(TokenRecord, serial) == 0, "the module reads the serial at offset 0");
    out_.line("> " + request_name(request) + " (" + std::to_string(request) + ") #" +
              std::to_string(serial));
    if (JsonLog *json = json_) {
        json->request(serial, request, len);
    }
    if (radio_ == nullptr || radio_->onRequest == nullptr) {
        host_error("no module attached to send " + request_name(request) + " to");
        return serial;
    }
    // Unlocked: the module may complete the request inside this call.
    radio_->onRequest(request, data, len, const_cast<void *>(t));
    return serial;
}

std::optional<Completion> Host::wait_completion(int serial, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mu_);
    const bool done = cv_.wait_for(lock, timeout, [&] { return completions_.contains(serial); });
    if (!done) {
        return std::nullopt;
    }
    return completions_.at(serial);
}

std::optional<Completion> Host::request(int request, std::chrono::milliseconds timeout)
{
    return wait_completion(send(request, nullptr, 0), timeout);
}

size_t Host::unsol_mark()
{
    std::lock_guard<std::mutex> lock(mu_);
    return unsolicited_.size();
}

int Host::count_unsol_locked(int number, size_t since) const
{
    int n = 0;
    for (size_t i = since; i < unsolicited_.size(); ++i) {
        n += unsolicited_[i].number == number ? 1 : 0;
    }
    return n;
}

int Host::wait_unsol(int number, int count, size_t since, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return count_unsol_locked(number, since) >= count; });
    return count_unsol_locked(number, since);
}

size_t Host::unsol_mark_after(int number, size_t since)
{
    std::lock_guard<std::mutex> lock(mu_);
    for (size_t i = since; i < unsolicited_.size(); ++i) {
        if (unsolicited_[i].number == number) {
            return i + 1;
        }
    }
    return since;
}

std::vector<Unsolicited> Host::unsol_locked(int number, size_t since) const
{
    std::vector<Unsolicited> out;
    for (size_t i = since; i < unsolicited_.size(); ++i) {
        if (unsolicited_[i].number == number) {
            out.push_back(unsolicited_[i]);
        }
    }
    return out;
}

std::vector<Unsolicited> Host::wait_unsol_until(int number, size_t since,
                                                std::chrono::milliseconds timeout,
                                                const UnsolTest &done)
{
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait_for(lock, timeout, [&] { return done(unsol_locked(number, since)); });
    return unsol_locked(number, since);
}

std::vector<std::string> Host::host_errors()
{
    std::lock_guard<std::mutex> lock(mu_);
    return errors_;
}

void Host::host_error(const std::string &text)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        errors_.push_back(text);
    }
    out_.line("!! host error: " + text);
}

void Host::on_request_complete(RIL_Token t, RIL_Errno e, void *response, size_t len)
{
    const int error = static_cast<int>(e);
    TokenState token{};
    std::string fault;
    {
        std::lock_guard<std::mutex> lock(mu_);
        const auto it = tokens_.find(t);
        if (it == tokens_.end()) {
            fault = "completion (" + errno_name(error) + ") for unknown token " + token_text(t);
        } else if (it->second.completed) {
            fault = request_name(it->second.request) + " #" + std::to_string(it->second.serial) +
                    " completed twice (again with " + errno_name(error) + ")";
        } else {
            it->second.completed = true;
            token = it->second;
            ++completed_;
            ++by_error_[error];
        }
    }
    if (!fault.empty()) {
        host_error(fault);
        return;
    }

    Completion c{token.serial, token.request, error, len, {}};
    // An error usually comes without data; anything that does come is shown.
    if (error == RIL_E_SUCCESS || response != nullptr || len != 0) {
        c.decoded = decode_response(token.request, response, len);
    }
    std::string head = "< " + request_name(token.request) + " #" + std::to_string(token.serial) +
                       ": " + errno_name(error);
    if (!c.decoded.summary.empty()) {
        head += ", " + c.decoded.summary;
    }
    out_.block(head, c.decoded.details);
    if (!c.decoded.problem.empty()) {
        host_error(request_name(token.request) + " #" + std::to_string(token.serial) + ": " +
                   c.decoded.problem);
    }
    if (JsonLog *json = json_) {
        json->completion(c);
    }
    if (error == RIL_E_GENERIC_FAILURE) {
        check_stack_after_failure();
    }
    CompletionSink sink;
    {
        std::lock_guard<std::mutex> lock(mu_);
        sink = completion_sink_;
        if (!sink) {
            if (!keep_data_) {
                c.decoded = Decoded{};
            }
            completions_.emplace(c.serial, c);
        }
    }
    if (sink) {
        sink(c);
    }
    cv_.notify_all();
}

void Host::on_unsolicited(int number, const void *data, size_t len)
{
    Unsolicited u{number, len, decode_unsol(number, data, len)};
    std::string head = "< unsol " + unsol_name(number) + " (" + std::to_string(number) + ")";
    if (!u.decoded.summary.empty()) {
        head += ": " + u.decoded.summary;
    }
    out_.block(head, u.decoded.details);
    if (!u.decoded.problem.empty()) {
        host_error(unsol_name(number) + ": " + u.decoded.problem);
    }
    if (JsonLog *json = json_) {
        json->unsolicited(u);
    }
    UnsolSink sink;
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++unsolicited_count_;
        sink = unsol_sink_;
        if (keep_data_ && !sink) {
            unsolicited_.push_back(u);
        }
    }
    if (sink) {
        sink(u);
    }
    cv_.notify_all();
}

void Host::set_json(JsonLog *json)
{
    json_ = json;
}

void Host::watch_stack(const std::string &socket_path, bool reachable)
{
    std::lock_guard<std::mutex> lock(mu_);
    stack_path_ = socket_path;
    stack_reported_ = !reachable;
}

void Host::check_stack_after_failure()
{
    // Only a look at the file: a connection would take the stack from the module.
    std::string said;
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stack_path_.empty()) {
            return;
        }
        struct stat st {};
        const bool there = stat(stack_path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
        if (there) {
            stack_reported_ = false;
        } else if (!stack_reported_) {
            stack_reported_ = true;
            said = "the IMS stack's socket " + stack_path_ +
                   " is gone: requests that need the stack fail until one listens there again";
        }
    }
    if (!said.empty()) {
        out_.line(said);
    }
}

void Host::set_listener(CompletionSink on_completion, UnsolSink on_unsolicited)
{
    std::lock_guard<std::mutex> lock(mu_);
    completion_sink_ = std::move(on_completion);
    unsol_sink_ = std::move(on_unsolicited);
}

TokenTally Host::tally()
{
    std::lock_guard<std::mutex> lock(mu_);
    TokenTally t;
    t.issued = tokens_.size();
    t.completed = completed_;
    t.by_error = by_error_;
    for (const auto &[record, state] : tokens_) {
        if (!state.completed) {
            t.open.emplace_back(state.serial, state.request);
        }
    }
    std::sort(t.open.begin(), t.open.end());
    return t;
}

void Host::keep_data(bool keep)
{
    std::lock_guard<std::mutex> lock(mu_);
    keep_data_ = keep;
}

uint64_t Host::unsolicited_count()
{
    std::lock_guard<std::mutex> lock(mu_);
    return unsolicited_count_;
}

void Host::on_timed_callback(RIL_TimedCallback callback, void *param, const struct timeval *delay)
{
    std::chrono::microseconds wait{0};
    if (delay != nullptr) {
        wait = std::chrono::seconds(delay->tv_sec) + std::chrono::microseconds(delay->tv_usec);
    }
    timer_.schedule(wait < std::chrono::microseconds{0} ? std::chrono::microseconds{0} : wait,
                    callback, param);
}

} // namespace zol_host
