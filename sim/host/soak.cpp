#include "soak.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "imsd_control.h"
#include "names.h"
#include "requests.h"
#include "words.h"

extern char **environ;

namespace zol_host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A request thread inside the module longer than this is stuck: the agent gives
// up on a send after two seconds, and no request sends more than one frame.
constexpr milliseconds kStuckAfter{15000};
constexpr milliseconds kControlTimeout{3000};
constexpr milliseconds kSettleQuiet{3000};
constexpr milliseconds kSettleLimit{30000};
constexpr milliseconds kQuietAfterDrain{500};
constexpr int kProbes = 3;
constexpr int kSecondsPerKill = 30;
constexpr milliseconds kDrainEvery{1000};
constexpr int kProgressEvery = 5; // seconds between progress lines

// Weights follow what a handset asks most: the call list above all.
constexpr SoakRequest kRequests[] = {
    {"calls", 30021, 16},
    {"dial +4915550101#a1#h2", 0, 3},
    {"dial +4915550102#busy", 0, 1},
    {"hangup 1", 30005, 2},
    {"hangup 2", 30005, 1},
    {"hangup-background", 30005, 2},
    {"hangup-foreground", 30005, 2},
    {"swap", 0, 2},
    {"answer", 30004, 1},
    {"reject", 0, 1},
    {"invite-response 1 1", 0, 1},
    {"last-fail-cause", 0, 2},
    {"dtmf-start 5", 30016, 3},
    {"dtmf-stop", 30017, 3},
    {"modify 1 3", 0, 1},
    {"modify-response 1 1", 0, 1},
    {"ims-state", 0, 2},
    {"ims-set-state 1", 0, 1},
    {"ims-config-get 1", 30024, 3},
    {"ims-config-set 5 1", 0, 1},
    {"sms-send - 0001000B919471052143F50000044F3A1B04 7", 30103, 3},
    {"sms-ack 1", 0, 1},
    {"cf-query 0", 30055, 2},
    {"cf-set 1 0 1 +4915550001", 30052, 1},
    {"cf-set 0 0 1 -", 30053, 1},
    {"cf-set 3 1 1 +4915550002", 30056, 1},
    {"cf-set 4 1 1 -", 30054, 1},
    {"cw-query", 30055, 2},
    {"cw-set 1", 30052, 1},
    {"cw-set 0", 30053, 1},
    {"clir-get", 30055, 2},
    {"clir-set 1", 30052, 1},
    {"clir-set 2", 30053, 1},
    {"clip-query", 30055, 1},
    {"colp-set 1", 30052, 1},
    {"colp-query", 30055, 1},
    {"colr-query", 30055, 1},
    {"facility-query AO 0000 1", 30055, 1},
    {"facility-set AO 1 0000 1", 30052, 1},
    {"facility-set AO 0 0000 1", 30053, 1},
    {"request 999", 0, 1},
};

constexpr SoakRequest kAnswerCall = {"answer", 30004, 0};
constexpr SoakRequest kRejectCall = {"reject", 0, 0};
constexpr SoakRequest kProbe = {"calls", 30021, 0};

const char *const kFaultKinds[] = {"drop",     "duplicate", "delay",  "corrupt",
                                   "truncate", "oversize",  "unknown"};

std::string hex_bytes(std::mt19937_64 &rng, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned>(rng() & 0xFF);
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

uint64_t between(std::mt19937_64 &rng, uint64_t low, uint64_t high)
{
    return low + rng() % (high - low + 1);
}

// The zol-imsd process the soak runs.
class StackProcess {
public:
    StackProcess(std::string path, std::string socket, std::string control, std::string log)
        : path_(std::move(path)), socket_(std::move(socket)), control_(std::move(control)),
          log_(std::move(log))
    {
    }

    bool start(std::string &error)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<std::string> args = {path_,    "--socket", socket_, "--control",
                                         control_, "--delay",  "100"};
        std::vector<char *> argv;
        for (std::string &a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, path_.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            error = "cannot start " + path_ + ": " + strerror(rc);
            return false;
        }
        pid_ = pid;
        const auto deadline = Clock::now() + milliseconds(10000);
        while (Clock::now() < deadline) {
            if (control_exchange(control_, "status", kControlTimeout).ok()) {
                return true;
            }
            if (exited()) {
                error = path_ + " exited at once; see " + log_;
                return false;
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        error = path_ + " did not answer on " + control_;
        return false;
    }

    bool running() const { return pid_ > 0; }

    void kill_now()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    // True once when the process has gone by itself.
    bool exited()
    {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        return false;
    }

    // SIGTERM, SIGKILL if that does not do; the exit status, or -1 when killed.
    int stop()
    {
        if (pid_ <= 0) {
            return 0;
        }
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        kill_now();
        return -1;
    }

private:
    std::string path_;
    std::string socket_;
    std::string control_;
    std::string log_;
    pid_t pid_ = -1;
};

// The stack's own fault counts, from the ok line of `fault show`.
void add_counts(const std::string &line, std::map<std::string, uint64_t> &into)
{
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const size_t eq = word.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = word.substr(0, eq);
        if (key == "paused" || key == "held" || key == "delayed" || key == "owed") {
            continue; // states, not counts
        }
        const auto n = parse_int(word.substr(eq + 1));
        if (n) {
            into[key] += static_cast<uint64_t>(*n);
        }
    }
}

} // namespace

std::span<const SoakRequest> soak_requests()
{
    return kRequests;
}

std::vector<std::string> soak_violations(const SoakFigures &f)
{
    std::vector<std::string> v;
    for (const std::string &e : f.host_errors) {
        v.push_back("host error: " + e);
    }
    if (f.tokens.completed != f.tokens.issued) {
        v.push_back(
            std::to_string(f.tokens.issued - std::min(f.tokens.issued, f.tokens.completed)) +
            " of " + std::to_string(f.tokens.issued) + " requests never completed");
    }
    for (size_t i = 0; i < f.tokens.open.size() && i < 10; ++i) {
        const auto &[serial, request] = f.tokens.open[i];
        v.push_back("left pending: " + request_name(request) + " #" + std::to_string(serial));
    }
    if (f.made_up > 0 && f.restarts + f.unexpected_exits == 0) {
        v.push_back("the stack drained everything it owed, yet " + std::to_string(f.made_up) +
                    " requests were still pending");
    }
    if (f.unexpected_exits > 0) {
        v.push_back("the stack exited " + std::to_string(f.unexpected_exits) + " times by itself");
    }
    if (f.stack_exit_status != 0) {
        v.push_back("the stack ended with status " + std::to_string(f.stack_exit_status));
    }
    if (f.stuck_threads > 0) {
        v.push_back(std::to_string(f.stuck_threads) + " request threads stuck in the module");
    }
    if (f.probes_failed > 0) {
        v.push_back(std::to_string(f.probes_failed) + " requests after the drain did not succeed");
    }
    return v;
}

struct Soak::State {
    SoakOptions opt;
    std::ostream &report;
    std::optional<StackProcess> stack;
    std::vector<const SoakRequest *> wheel; // each request `weight` times

    std::mutex mu;
    std::condition_variable cv;
    bool stop_driver = false;
    std::map<int, uint16_t> awaited; // by token serial
    std::map<std::string, uint64_t> actions;
    std::map<std::string, uint64_t> stack_counts; // summed over the stack's lives
    int restarts = 0;
    int unexpected_exits = 0;

    std::atomic<bool> stop_traffic{false};
    std::atomic<int> workers_done{0};
    std::atomic<uint64_t> sent{0};
    std::atomic<int64_t> longest_us{0};
    std::vector<std::unique_ptr<std::atomic<int64_t>>> in_flight; // start in us, 0 when idle
    std::atomic<int> stuck{0};

    State(SoakOptions o, std::ostream &r) : opt(std::move(o)), report(r)
    {
        for (const SoakRequest &req : kRequests) {
            for (int i = 0; i < req.weight; ++i) {
                wheel.push_back(&req);
            }
        }
    }

    static int64_t now_us()
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   Clock::now().time_since_epoch())
            .count();
    }

    // Report lines come from the driver and the main thread.
    std::mutex report_mu;
    void say(const std::string &line)
    {
        std::lock_guard<std::mutex> lock(report_mu);
        report << "soak: " << line << "\n";
        report.flush();
    }

    ControlReply control(const std::string &command)
    {
        return control_exchange(opt.imsd_control, command, kControlTimeout);
    }

    void count(const std::string &action)
    {
        std::lock_guard<std::mutex> lock(mu);
        ++actions[action];
    }

    // Sends one request from a host thread; `slot` is the thread's in-flight clock.
    int issue(Host &host, const SoakRequest &r, std::atomic<int64_t> *slot)
    {
        std::string error;
        const auto words = split_words(r.line, error);
        Outgoing out;
        const RequestCommand *command = words ? find_request_command((*words)[0].text) : nullptr;
        if (command == nullptr ||
            !prepare_request(*command, std::vector<Word>(words->begin() + 1, words->end()), out)
                 .empty()) {
            return 0; // the table is checked by the tests
        }
        const int64_t start = now_us();
        if (slot != nullptr) {
            slot->store(start);
        }
        const int serial = host.send(out.request, out.data.data(), out.data.length());
        const int64_t took = now_us() - start;
        if (slot != nullptr) {
            slot->store(0);
        }
        int64_t longest = longest_us.load();
        while (took > longest && !longest_us.compare_exchange_weak(longest, took)) {
        }
        sent.fetch_add(1);
        std::lock_guard<std::mutex> lock(mu);
        awaited[serial] = r.awaited;
        return serial;
    }

    void worker(Host &host, int index)
    {
        std::mt19937_64 rng(opt.seed * 7919 + static_cast<uint64_t>(index));
        const auto interval =
            std::chrono::microseconds(1000000LL * opt.threads / std::max(1, opt.rate));
        auto next = Clock::now();
        while (!stop_traffic.load()) {
            issue(host, *wheel[rng() % wheel.size()], in_flight[static_cast<size_t>(index)].get());
            // Evenly spread on average, bunched at times.
            next += std::chrono::microseconds(rng() %
                                              (2 * static_cast<uint64_t>(interval.count()) + 1));
            const auto now = Clock::now();
            if (next < now - std::chrono::seconds(1)) {
                next = now; // do not make up for a long blocked send in a burst
            }
            std::this_thread::sleep_until(next);
        }
        workers_done.fetch_add(1);
        cv.notify_all();
    }

    // Sleeps up to `ms`; false when the driver is to stop.
    bool nap(uint64_t ms)
    {
        std::unique_lock<std::mutex> lock(mu);
        return !cv.wait_for(lock, milliseconds(ms), [&] { return stop_driver; });
    }

    void watch_threads()
    {
        const int64_t now = now_us();
        for (auto &slot : in_flight) {
            int64_t since = slot->load();
            // Counted once per stuck request.
            if (since != 0 && now - since > kStuckAfter.count() * 1000 &&
                slot->compare_exchange_strong(since, 0)) {
                ++stuck;
                say("a request thread has been inside the module for more than " +
                    std::to_string(kStuckAfter.count() / 1000) + " s");
            }
        }
    }

    void save_stack_counts()
    {
        const ControlReply r = control("fault show");
        if (r.ok()) {
            std::lock_guard<std::mutex> lock(mu);
            add_counts(r.final_line, stack_counts);
        }
    }

    bool restart_stack(std::mt19937_64 &rng, bool killed)
    {
        if (killed) {
            save_stack_counts();
            stack->kill_now();
            nap(between(rng, 0, 500));
        }
        std::string error;
        if (!stack->start(error)) {
            say(error);
            return false;
        }
        return true;
    }

    // One move against the stack.
    void act(Host &host, std::mt19937_64 &rng)
    {
        struct Move {
            const char *name;
            int weight;
        };
        static constexpr Move kMoves[] = {
            {"rule", 6},     {"random", 1},  {"clear", 3}, {"pause", 2},
            {"spurious", 2}, {"unknown", 1}, {"junk", 1},  {"refuse", 1},
            {"close", 1},    {"stall", 1},   {"drain", 1}, {"incoming", 1},
        };
        int total = 0;
        for (const Move &m : kMoves) {
            total += m.weight;
        }
        int pick = static_cast<int>(rng() % static_cast<uint64_t>(total));
        const Move *move = kMoves;
        while (pick >= move->weight) {
            pick -= move->weight;
            ++move;
        }
        const std::string name = move->name;
        std::string command;
        if (name == "rule") {
            const std::string kind = kFaultKinds[rng() % std::size(kFaultKinds)];
            command = "fault " + kind + " " +
                      (rng() % 2 == 0 ? std::to_string(between(rng, 1, 4))
                                      : std::to_string(between(rng, 2, 15)) + "%");
            if (kind == "delay") {
                command += " " + std::to_string(between(rng, 50, 1500));
            }
        } else if (name == "random") {
            command = rng() % 2 == 0 ? "fault random " + std::to_string(rng() % 100000) + " " +
                                           std::to_string(opt.fault_percent)
                                     : "fault random 0 0";
        } else if (name == "clear") {
            command = "fault clear";
        } else if (name == "pause") {
            count(name);
            control("fault pause");
            nap(between(rng, 50, 800));
            control("fault resume");
            return;
        } else if (name == "spurious") {
            command = "fault spurious any " + std::to_string(between(rng, 1, 3));
        } else if (name == "unknown") {
            static const char *const kIds[] = {"0", "30001", "30025", "30099", "30104", "40000"};
            command = std::string("inject ") + kIds[rng() % std::size(kIds)] + " " +
                      hex_bytes(rng, between(rng, 0, 16));
        } else if (name == "junk") {
            // A header whose length field promises more than comes, or a few bytes.
            command = rng() % 2 == 0 ? "inject-raw 00 00000000 7545 00000100 " + hex_bytes(rng, 2)
                                     : "inject-raw " + hex_bytes(rng, between(rng, 1, 24));
        } else if (name == "refuse") {
            command = "fault refuse " + std::to_string(between(rng, 0, 400));
        } else if (name == "close") {
            command = "fault close " + std::to_string(between(rng, 0, 800));
        } else if (name == "stall") {
            command = "fault stall " + std::to_string(between(rng, 200, 2500));
        } else if (name == "drain") {
            command = "fault drain";
        } else if (name == "incoming") {
            count(name);
            if (control("incoming +4915559" + std::to_string(rng() % 1000)).ok()) {
                nap(between(rng, 20, 300));
                issue(host, rng() % 3 == 0 ? kRejectCall : kAnswerCall, nullptr);
            }
            return;
        }
        count(name);
        control(command);
    }

    void driver(Host &host)
    {
        std::mt19937_64 rng(opt.seed ^ 0x5eedf00dULL);
        const auto start = Clock::now();
        const auto length = std::chrono::seconds(opt.seconds);
        int kills = opt.kills;
        if (kills < 0) {
            kills = stack ? (opt.seconds + kSecondsPerKill - 1) / kSecondsPerKill : 0;
        }
        int killed = 0;
        auto last_drain = start;
        control("fault random " + std::to_string(opt.seed) + " " +
                std::to_string(opt.fault_percent));
        while (nap(between(rng, 100, 600))) {
            watch_threads();
            // Owed answers are paid now and then, or the module's pending list
            // would stay full and most requests fail at once.
            if (Clock::now() - last_drain >= kDrainEvery) {
                last_drain = Clock::now();
                count("drain");
                control("fault drain");
            }
            if (stack && stack->exited()) {
                ++unexpected_exits;
                say("the stack exited by itself");
            }
            if (stack && !stack->running()) {
                restart_stack(rng, false);
                continue;
            }
            // Kills spread evenly over the run.
            if (stack && killed < kills &&
                Clock::now() - start >= length * (killed + 1) / (kills + 1)) {
                ++killed;
                count("kill");
                if (restart_stack(rng, true)) {
                    ++restarts;
                }
                continue;
            }
            act(host, rng);
        }
    }

    // Until no token is open, or nothing moved for a while.
    void settle(Host &host)
    {
        const auto limit = Clock::now() + kSettleLimit;
        size_t last = SIZE_MAX;
        auto last_change = Clock::now();
        while (Clock::now() < limit) {
            const size_t open = host.tally().open.size();
            if (open == 0) {
                return;
            }
            if (open != last) {
                last = open;
                last_change = Clock::now();
            } else if (Clock::now() - last_change > kSettleQuiet) {
                return;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
    }

    bool wait_connected()
    {
        const auto limit = Clock::now() + milliseconds(10000);
        while (Clock::now() < limit) {
            const ControlReply r = control("status");
            if (r.ok() && r.final_line.find("connected=yes") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        return false;
    }
};

Soak::Soak(SoakOptions options, std::ostream &report)
    : state_(std::make_unique<State>(std::move(options), report))
{
    State &s = *state_;
    if (!s.opt.imsd.empty()) {
        s.stack.emplace(s.opt.imsd, s.opt.imsd_socket, s.opt.imsd_control, s.opt.imsd_log);
    }
}

Soak::~Soak()
{
    stop_stack();
}

bool Soak::start_stack(std::string &error)
{
    return !state_->stack || state_->stack->start(error);
}

void Soak::stop_stack()
{
    if (state_->stack) {
        state_->stack->stop();
    }
}

int Soak::run(Host &host)
{
    State &s = *state_;
    std::ostream &out = s.report;
    host.keep_data(false);
    out << "soak: " << s.opt.seconds << " s, seed " << s.opt.seed << ", " << s.opt.threads
        << " request threads, about " << s.opt.rate << " requests/s, random stack faults on "
        << s.opt.fault_percent << "% of frames while on\n";

    const auto started = Clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < s.opt.threads; ++i) {
        s.in_flight.push_back(std::make_unique<std::atomic<int64_t>>(0));
    }
    for (int i = 0; i < s.opt.threads; ++i) {
        workers.emplace_back([&s, &host, i] { s.worker(host, i); });
    }
    std::thread driver([&s, &host] { s.driver(host); });

    for (int second = 1; second <= s.opt.seconds; ++second) {
        std::this_thread::sleep_until(started + std::chrono::seconds(second));
        // A long run shows it is alive: a line every few seconds.
        if (second % kProgressEvery == 0 && second != s.opt.seconds) {
            const TokenTally t = host.tally();
            s.say(std::to_string(second) + " s of " + std::to_string(s.opt.seconds) + ": " +
                  std::to_string(s.sent.load()) + " requests sent, " + std::to_string(t.completed) +
                  " completed, " + std::to_string(t.open.size()) + " open, " +
                  std::to_string(host.unsolicited_count()) + " unsolicited responses");
        }
    }

    // The traffic stops; a thread that does not come back is stuck for good.
    s.stop_traffic = true;
    {
        std::unique_lock<std::mutex> lock(s.mu);
        if (!s.cv.wait_for(lock, kStuckAfter * 2,
                           [&] { return s.workers_done.load() == s.opt.threads; })) {
            lock.unlock();
            s.say("request threads did not come back from the module");
            std::lock_guard<std::mutex> report_lock(s.report_mu);
            out << "FAIL" << std::endl;
            stop_stack();
            return 1;
        }
        s.stop_driver = true;
    }
    s.cv.notify_all();
    for (std::thread &t : workers) {
        t.join();
    }
    driver.join();
    const auto traffic_ended = Clock::now();

    SoakFigures f;
    f.restarts = s.restarts;
    f.unexpected_exits = s.unexpected_exits;
    f.stuck_threads = s.stuck.load();
    if (s.stack) {
        f.unexpected_exits += s.stack->exited() ? 1 : 0;
        std::string error;
        if (!s.stack->running() && !s.stack->start(error)) {
            out << "soak: " << error << "\n";
        }
    }

    // Drain: every fault ends, the agent finds the stack again, and the stack
    // answers what it holds back or owes.
    const ControlReply off = s.control("fault off");
    const bool connected = s.wait_connected();
    const ControlReply drain = s.control("fault drain");
    out << "soak: drain: fault off " << (off.ok() ? off.final_line : "failed: " + off.failure)
        << "; " << (connected ? "agent connected" : "agent NOT connected") << "; fault drain "
        << (drain.ok() ? drain.final_line : "failed: " + drain.failure) << "\n";
    s.settle(host);

    // What a killed stack took with it, the host asks the new one to answer.
    std::map<uint16_t, uint64_t> missing;
    std::string which;
    {
        const TokenTally t = host.tally();
        std::lock_guard<std::mutex> lock(s.mu);
        for (const auto &[serial, request] : t.open) {
            const auto it = s.awaited.find(serial);
            const uint16_t awaited = it != s.awaited.end() ? it->second : 0;
            if (awaited != 0) {
                ++missing[awaited];
            }
            if (which.size() < 400) {
                which += " " + request_name(request) + " #" + std::to_string(serial) + " (" +
                         std::to_string(awaited) + ")";
            }
        }
    }
    for (const auto &[message, n] : missing) {
        for (uint64_t left = n; left > 0;) {
            const uint64_t chunk = std::min<uint64_t>(left, 1000);
            const ControlReply r = s.control("fault spurious " + std::to_string(message) + " " +
                                             std::to_string(chunk));
            if (!r.ok()) {
                break;
            }
            f.made_up += chunk;
            left -= chunk;
        }
    }
    if (!missing.empty()) {
        out << "soak: after the drain " << f.made_up
            << " requests were still pending; the stack was asked to confirm them:" << which
            << "\n";
        s.settle(host);
    }

    for (int i = 0; i < kProbes; ++i) {
        const int serial = s.issue(host, kProbe, nullptr);
        const auto c = host.wait_completion(serial, s.opt.timeout);
        if (!c || c->error != 0) {
            ++f.probes_failed;
        }
    }
    std::this_thread::sleep_for(kQuietAfterDrain); // late double completions show up here
    const auto drained = Clock::now();

    f.tokens = host.tally();
    f.host_errors = host.host_errors();
    s.save_stack_counts();
    if (s.stack) {
        f.stack_exit_status = s.stack->stop();
    }

    std::ostringstream by_error;
    for (const auto &[error, n] : f.tokens.by_error) {
        by_error << (by_error.tellp() > 0 ? ", " : "") << errno_name(error) << " " << n;
    }
    out << "soak: requests " << f.tokens.issued << ", completed " << f.tokens.completed << " ("
        << by_error.str() << "), still open " << f.tokens.open.size() << "\n";
    out << "soak: unsolicited responses " << host.unsolicited_count()
        << ", longest time inside onRequest " << s.longest_us.load() / 1000 << " ms\n";
    std::ostringstream moves;
    for (const auto &[name, n] : s.actions) {
        moves << " " << name << "=" << n;
    }
    out << "soak: moves against the stack:" << moves.str() << "\n";
    std::ostringstream counts;
    for (const auto &[name, n] : s.stack_counts) {
        counts << " " << name << "=" << n;
    }
    out << "soak: faults the stack injected:" << counts.str() << "\n";
    out << "soak: traffic "
        << std::chrono::duration_cast<milliseconds>(traffic_ended - started).count() / 1000.0
        << " s, drain and checks "
        << std::chrono::duration_cast<milliseconds>(drained - traffic_ended).count() / 1000.0
        << " s, stack restarts " << f.restarts << ", confirmations made up " << f.made_up << "\n";

    const std::vector<std::string> violations = soak_violations(f);
    for (const std::string &v : violations) {
        out << "VIOLATION " << v << "\n";
    }
    out << (violations.empty() ? "PASS" : "FAIL") << "\n";
    out.flush();
    return violations.empty() ? 0 : 1;
}

} // namespace zol_host
