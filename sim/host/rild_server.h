// zol-rild's server: the classic rild socket, one client at a time, with the
// module behind the framework adaptation and the baseband profile beside it.
//
// One thread (run()) owns the socket, the client and every request in
// flight; completions and unsolicited responses arrive on the module's
// threads and are queued for it, so the adaptation never runs concurrently.
#ifndef ZOL_HOST_RILD_SERVER_H
#define ZOL_HOST_RILD_SERVER_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "baseband_profile.h"
#include "framework_adaptation.h"
#include "host.h"
#include "output.h"
#include "rild_wire.h"

namespace zol_host {

struct RildOptions {
    std::string socket_path = "/dev/socket/rild";
    // A request the module has not completed by then is answered with a
    // failure: the classic client waits for each answer before the next request,
    // and the module has no time-outs of its own.
    std::chrono::milliseconds request_timeout{10000};
};

class RildServer {
public:
    RildServer(Host &host, const RIL_RadioFunctions &radio, BasebandProfile &profile, Output &out,
               RildOptions options);
    ~RildServer();
    RildServer(const RildServer &) = delete;
    RildServer &operator=(const RildServer &) = delete;

    // Creates the socket. Refuses a path another server is listening on; a
    // stale socket file is replaced.
    bool listen(std::string &error);
    // Serves clients until stop().
    void run();
    // Safe in a signal handler.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        uint64_t session = 0; // 0: zol-rild's own request
        int32_t client_serial = 0;
        int client_request = 0;
        Plan plan;
        size_t step = 0;
        Clock::time_point deadline;
    };
    using Event = std::variant<Completion, Unsolicited>;

    void queue(Event event);
    void drain_events();
    void accept_client();
    void end_session(const std::string &why);
    void read_client();
    void handle_frame(std::span<const uint8_t> body);
    void start_step(Pending pending);
    void on_completion(const Completion &c);
    void on_unsolicited(const Unsolicited &u);
    void expire(Clock::time_point now);
    int poll_timeout_ms(Clock::time_point now) const;

    void send_reply(int32_t serial, int request, int error, std::span<const uint8_t> payload);
    void send_unsol(int number, std::span<const uint8_t> payload);
    void write_frame(const std::vector<uint8_t> &frame);

    Host &host_;
    const RIL_RadioFunctions &radio_;
    BasebandProfile &profile_;
    Output &out_;
    RildOptions options_;

    int listen_fd_ = -1;
    uint64_t socket_inode_ = 0;
    int wake_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};

    std::mutex events_mu_;
    std::deque<Event> events_;

    int client_fd_ = -1;
    uint64_t session_ = 0;
    uint64_t sessions_ = 0;
    FrameReader frames_;
    std::map<int, Pending> pending_; // by the host's serial
};

} // namespace zol_host

#endif
