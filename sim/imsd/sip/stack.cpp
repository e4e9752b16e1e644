#include "sip/stack.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#include <re.h>

#include "sip/engine.h"
#include "timestamp.h"

namespace zol::imsd::sip {

namespace {

constexpr auto kDescribeWait = std::chrono::seconds(2);

using Work = std::function<void(Engine &)>;

void run_work(int id, void *data, void *arg)
{
    (void)id;
    const std::unique_ptr<Work> work(static_cast<Work *>(data));
    (*work)(*static_cast<Engine *>(arg));
}

// The models' side of the network: every request becomes work for the engine's
// thread, and the engine's events wait here until the server takes them.
class SipStack final : public Stack {
public:
    explicit SipStack(const SipOptions &options) : opt_(options) {}
    ~SipStack() override
    {
        stop();
        if (wake_fd_ >= 0) {
            close(wake_fd_);
        }
    }

    bool start(std::string &error);
    void stop() override;

    void set_registered(bool on) override
    {
        run([on](Engine &e) { e.set_registered(on); });
    }
    LegId call(const std::string &number, bool video) override
    {
        const LegId id = leg_ids_.fetch_add(1);
        run([id, number, video](Engine &e) { e.call(id, number, video); });
        return id;
    }
    void ring(LegId leg) override
    {
        run([leg](Engine &e) { e.ring(leg); });
    }
    void answer(LegId leg, bool video) override
    {
        run([leg, video](Engine &e) { e.answer(leg, video); });
    }
    void end(LegId leg, Refusal refusal) override
    {
        run([leg, refusal](Engine &e) { e.end(leg, refusal); });
    }
    void hold(LegId leg, bool held) override
    {
        run([leg, held](Engine &e) { e.hold(leg, held); });
    }
    void modify(LegId leg, bool video) override
    {
        run([leg, video](Engine &e) { e.modify(leg, video); });
    }
    void dtmf(LegId leg, char key, int32_t token) override
    {
        run([leg, key, token](Engine &e) { e.dtmf(leg, key, token); });
    }
    void send_sms(const std::string &tpdu, const std::string &smsc, uint32_t ref,
                  int32_t token) override
    {
        run([tpdu, smsc, ref, token](Engine &e) { e.send_sms(tpdu, smsc, ref, token); });
    }
    void ack_sms(bool accepted, uint32_t cause) override
    {
        run([accepted, cause](Engine &e) { e.ack_sms(accepted, cause); });
    }

    int wake_fd() const override { return wake_fd_; }
    std::vector<NetEvent> take_events() override;
    std::vector<std::string> describe() const override;

private:
    void thread_main(std::promise<std::string> ready);
    void run(Work work) const;
    void post(NetEvent e);

    const SipOptions opt_;
    std::atomic<LegId> leg_ids_{1};
    std::thread thread_;
    mqueue *queue_ = nullptr; // set before start() returns, used by every thread
    int wake_fd_ = -1;
    mutable std::mutex mu_;
    std::deque<NetEvent> events_;
    bool stopped_ = false;
};

bool SipStack::start(std::string &error)
{
    wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) {
        error = "eventfd failed";
        return false;
    }
    std::promise<std::string> ready;
    std::future<std::string> outcome = ready.get_future();
    // The server takes SIGTERM and SIGINT through a descriptor; no other thread
    // may have them delivered.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    thread_ = std::thread(&SipStack::thread_main, this, std::move(ready));
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    error = outcome.get();
    if (!error.empty()) {
        thread_.join();
        return false;
    }
    return true;
}

void SipStack::thread_main(std::promise<std::string> ready)
{
    if (libre_init() != 0) {
        ready.set_value("libre cannot start");
        return;
    }
    {
        Engine engine(
            opt_, [this](NetEvent e) { post(std::move(e)); }, leg_ids_);
        std::string error;
        if (!engine.open(error)) {
            ready.set_value(error);
        } else if (mqueue_alloc(&queue_, run_work, &engine) != 0) {
            ready.set_value("no message queue for the network thread");
        } else {
            ready.set_value("");
            re_main(nullptr);
        }
        queue_ = static_cast<mqueue *>(mem_deref(queue_));
    }
    libre_close();
}

void SipStack::run(Work work) const
{
    auto owned = std::make_unique<Work>(std::move(work));
    if (mqueue_push(queue_, 0, owned.get()) == 0) {
        owned.release();
    }
}

void SipStack::stop()
{
    if (stopped_ || !thread_.joinable()) {
        return;
    }
    stopped_ = true;
    run([](Engine &e) { e.stop([] { re_cancel(); }); });
    thread_.join();
    // The server has stopped: what the network said on its way out goes straight out.
    for (const NetEvent &e : take_events()) {
        if (e.kind == NetEvent::Kind::note) {
            printf("%s imsd    %s\n", zol_sim::timestamp(opt_.clock).c_str(), e.text.c_str());
        }
    }
    fflush(stdout);
}

void SipStack::post(NetEvent e)
{
    {
        std::lock_guard<std::mutex> lock(mu_);
        events_.push_back(std::move(e));
    }
    const uint64_t one = 1;
    ssize_t n;
    do {
        n = write(wake_fd_, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
}

std::vector<NetEvent> SipStack::take_events()
{
    uint64_t count = 0;
    while (read(wake_fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<NetEvent> out(std::make_move_iterator(events_.begin()),
                              std::make_move_iterator(events_.end()));
    events_.clear();
    return out;
}

std::vector<std::string> SipStack::describe() const
{
    if (stopped_) {
        return {"sip stopped"};
    }
    auto answer = std::make_shared<std::promise<std::vector<std::string>>>();
    std::future<std::vector<std::string>> lines = answer->get_future();
    run([answer](Engine &e) { answer->set_value(e.describe()); });
    if (lines.wait_for(kDescribeWait) != std::future_status::ready) {
        return {"sip: the network thread does not answer"};
    }
    return lines.get();
}

} // namespace

std::unique_ptr<Stack> start(const SipOptions &options, std::string &error)
{
    auto stack = std::make_unique<SipStack>(options);
    if (!stack->start(error)) {
        return nullptr;
    }
    return stack;
}

} // namespace zol::imsd::sip
