#include "rild_server.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "names.h"
#include "parcel.h"
#include "rild_numbers.h"

namespace zol_host {
namespace {

std::string errno_text(int err)
{
    return strerror(err);
}

bool fill_address(const std::string &path, sockaddr_un &addr, std::string &error)
{
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        error = "socket path '" + path + "' is empty or longer than " +
                std::to_string(sizeof addr.sun_path - 1) + " bytes";
        return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

RildServer::RildServer(Host &host, const RIL_RadioFunctions &radio, BasebandProfile &profile,
                       Output &out, RildOptions options)
    : host_(host), radio_(radio), profile_(profile), out_(out), options_(std::move(options))
{
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        wake_[0] = wake_[1] = -1;
    }
    host_.set_listener([this](const Completion &c) { queue(c); },
                       [this](const Unsolicited &u) { queue(u); });
}

RildServer::~RildServer()
{
    host_.set_listener(nullptr, nullptr);
    if (client_fd_ >= 0) {
        close(client_fd_);
    }
    if (listen_fd_ >= 0) {
        close(listen_fd_);
        // Only the socket this server made: another may have replaced it since.
        struct stat st {};
        if (stat(options_.socket_path.c_str(), &st) == 0 && st.st_ino == socket_inode_) {
            unlink(options_.socket_path.c_str());
        }
    }
    for (int fd : wake_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool RildServer::listen(std::string &error)
{
    sockaddr_un addr;
    if (!fill_address(options_.socket_path, addr, error)) {
        return false;
    }
    if (wake_[0] < 0) {
        error = "cannot make a pipe: " + errno_text(errno);
        return false;
    }
    const std::string &path = options_.socket_path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path + " exists and is not a socket";
            return false;
        }
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live =
            probe >= 0 && connect(probe, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        if (probe >= 0) {
            close(probe);
        }
        if (live) {
            error = "another server is listening on " + path;
            return false;
        }
        unlink(path.c_str());
    }
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        error = "cannot bind " + path + ": " + errno_text(errno);
        return false;
    }
    // Classic clients connect as the radio user, not as whoever runs this.
    chmod(path.c_str(), 0666);
    if (stat(path.c_str(), &st) == 0) {
        socket_inode_ = st.st_ino;
    }
    if (::listen(listen_fd_, 4) != 0) {
        error = "cannot listen on " + path + ": " + errno_text(errno);
        return false;
    }
    out_.line("rild: listening on " + path);
    return true;
}

void RildServer::stop()
{
    stopping_.store(true);
    const char byte = 's';
    (void)!write(wake_[1], &byte, 1);
}

void RildServer::queue(Event event)
{
    {
        std::lock_guard<std::mutex> lock(events_mu_);
        events_.push_back(std::move(event));
    }
    const char byte = 'e';
    (void)!write(wake_[1], &byte, 1); // a full pipe already holds a wake-up
}

void RildServer::run()
{
    while (!stopping_.load()) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {-1, POLLIN, 0}};
        // Like rild: while a client is served, others wait in the backlog.
        fds[1].fd = client_fd_ >= 0 ? client_fd_ : listen_fd_;
        const int n = poll(fds, 2, poll_timeout_ms(Clock::now()));
        if (n < 0 && errno != EINTR) {
            out_.line("rild: poll failed: " + errno_text(errno));
            return;
        }
        if (fds[0].revents != 0) {
            char buf[64];
            while (read(wake_[0], buf, sizeof buf) > 0) {
            }
            drain_events();
        }
        if (fds[1].revents != 0 && !stopping_.load()) {
            if (client_fd_ >= 0) {
                read_client();
            } else {
                accept_client();
            }
        }
        expire(Clock::now());
    }
    if (client_fd_ >= 0) {
        end_session("zol-rild stops");
    }
}

void RildServer::drain_events()
{
    while (true) {
        Event e;
        {
            std::lock_guard<std::mutex> lock(events_mu_);
            if (events_.empty()) {
                return;
            }
            e = std::move(events_.front());
            events_.pop_front();
        }
        if (const auto *c = std::get_if<Completion>(&e)) {
            on_completion(*c);
        } else {
            on_unsolicited(std::get<Unsolicited>(e));
        }
    }
}

void RildServer::accept_client()
{
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        out_.line("rild: accept failed: " + errno_text(errno));
        return;
    }
    // A client that stops reading must not stall the server for ever.
    const timeval send_timeout{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    client_fd_ = fd;
    session_ = ++sessions_;
    frames_ = FrameReader{};
    ucred cred{};
    socklen_t len = sizeof cred;
    std::string who;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) {
        who = " (pid " + std::to_string(cred.pid) + ", uid " + std::to_string(cred.uid) + ")";
    }
    out_.line("rild: client connected" + who + ", session " + std::to_string(session_));
    ParcelWriter connected;
    const int32_t version[] = {radio_.version};
    connected.ints(version);
    send_unsol(rild::kRilConnected, connected.bytes());
    ParcelWriter radio;
    radio.i32(profile_.radio_state());
    send_unsol(rild::kRadioStateChanged, radio.bytes());
}

void RildServer::end_session(const std::string &why)
{
    if (const auto unfinished = frames_.unfinished()) {
        out_.line("rild: " + *unfinished + "; dropped");
    }
    size_t open = 0;
    for (const auto &[serial, p] : pending_) {
        open += p.session == session_ ? 1 : 0;
    }
    out_.line("rild: client of session " + std::to_string(session_) + " gone (" + why + ")" +
              (open > 0 ? ", " + std::to_string(open) +
                              " request(s) still with the module; their answers will be dropped"
                        : ""));
    close(client_fd_);
    client_fd_ = -1;
    session_ = 0;
}

void RildServer::read_client()
{
    uint8_t buf[4096];
    const ssize_t n = recv(client_fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        end_session(n == 0 ? "it closed the connection" : "read failed: " + errno_text(errno));
        return;
    }
    for (FrameReader::Event &e : frames_.feed({buf, static_cast<size_t>(n)})) {
        if (e.kind == FrameReader::Event::Oversized) {
            out_.line("rild: malformed frame: length " + std::to_string(e.length) +
                      " is over the limit of " + std::to_string(kMaxFrameBody) +
                      " bytes; its bytes are skipped");
            continue;
        }
        handle_frame(e.body);
        if (client_fd_ < 0) {
            return; // a reply could not be written
        }
    }
}

void RildServer::handle_frame(std::span<const uint8_t> body)
{
    const auto h = read_request_header(body);
    if (!h) {
        out_.line("rild: malformed frame: " + std::to_string(body.size()) +
                  " bytes cannot hold a request number and serial; dropped");
        return;
    }
    const std::string name = request_name(h->request);
    out_.line("c> " + name + " (" + std::to_string(h->request) + ") #" + std::to_string(h->serial) +
              ", " + std::to_string(h->payload.size()) + " bytes");
    Plan plan = plan_request(h->request, h->payload, [this](int request) {
        return radio_.onSupports != nullptr && radio_.onSupports(request) != 0;
    });
    if (!plan.note.empty()) {
        out_.line("adapt: " + name + " #" + std::to_string(h->serial) + ": " + plan.note);
    }
    switch (plan.route) {
    case Plan::Module: {
        Pending p;
        p.session = session_;
        p.client_serial = h->serial;
        p.client_request = h->request;
        p.plan = std::move(plan);
        p.deadline = Clock::now() + options_.request_timeout;
        start_step(std::move(p));
        return;
    }
    case Plan::Malformed:
        out_.line("rild: malformed " + name + " #" + std::to_string(h->serial) + ": " +
                  plan.problem + "; answered with a failure");
        send_reply(h->serial, h->request, RIL_E_GENERIC_FAILURE, {});
        return;
    case Plan::NotSupported:
        out_.line("rild: " + name + " #" + std::to_string(h->serial) + ": " + plan.problem);
        send_reply(h->serial, h->request, RIL_E_REQUEST_NOT_SUPPORTED, {});
        return;
    case Plan::Other:
        break;
    }
    auto answer = profile_.answer(h->request, h->payload);
    if (!answer) {
        send_reply(h->serial, h->request, RIL_E_REQUEST_NOT_SUPPORTED, {});
        return;
    }
    if (!answer->problem.empty()) {
        out_.line("rild: malformed " + name + " #" + std::to_string(h->serial) + ": " +
                  answer->problem + "; answered with a failure");
    }
    send_reply(h->serial, h->request, answer->error, answer->payload);
    for (const auto &[number, payload] : answer->unsolicited) {
        send_unsol(number, payload);
    }
}

void RildServer::start_step(Pending p)
{
    ModuleStep &step = p.plan.steps[p.step];
    const int serial = host_.send(step.request, step.data.data(), step.data.length());
    step.data = RequestData::none(); // the module must not keep it past onRequest
    // The completion may already be queued; it is handled after this returns.
    pending_[serial] = std::move(p);
}

void RildServer::on_completion(const Completion &c)
{
    const auto it = pending_.find(c.serial);
    if (it == pending_.end()) {
        out_.line("rild: late completion of " + request_name(c.request) + " #" +
                  std::to_string(c.serial) + " (" + errno_name(c.error) +
                  ") dropped: its client request was answered already");
        return;
    }
    Pending p = std::move(it->second);
    pending_.erase(it);
    if (p.session == 0) {
        return; // zol-rild's own request; the host has printed its completion
    }
    if (p.session != session_) {
        out_.line("rild: completion of " + request_name(c.request) + " #" +
                  std::to_string(c.serial) + " dropped: the client of session " +
                  std::to_string(p.session) + " has gone");
        return;
    }
    if (c.error == RIL_E_SUCCESS && p.step + 1 < p.plan.steps.size()) {
        ++p.step;
        start_step(std::move(p));
        return;
    }
    const ClientReply reply = client_reply(p.plan.reply, c);
    if (!reply.note.empty()) {
        out_.line("adapt: " + request_name(p.client_request) + " #" +
                  std::to_string(p.client_serial) + ": " + reply.note);
    }
    send_reply(p.client_serial, p.client_request, reply.error, reply.payload);
}

void RildServer::on_unsolicited(const Unsolicited &u)
{
    UnsolAction a = translate_unsol(u);
    if (!a.note.empty()) {
        out_.line("adapt: " + a.note);
    }
    switch (a.kind) {
    case UnsolAction::Forward:
        if (client_fd_ >= 0) {
            send_unsol(a.number, a.payload);
        }
        return;
    case UnsolAction::Request: {
        Pending p;
        p.plan.route = Plan::Module;
        p.plan.steps.push_back(std::move(*a.request));
        p.deadline = Clock::now() + options_.request_timeout;
        start_step(std::move(p));
        return;
    }
    case UnsolAction::Drop:
        return;
    }
}

void RildServer::expire(Clock::time_point now)
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.deadline > now) {
            ++it;
            continue;
        }
        const Pending &p = it->second;
        const std::string what =
            request_name(p.plan.steps[p.step].request) + " #" + std::to_string(it->first);
        if (p.session != 0 && p.session == session_) {
            out_.line("rild: the module did not complete " + what + " within " +
                      std::to_string(options_.request_timeout.count()) + " ms; " +
                      request_name(p.client_request) + " #" + std::to_string(p.client_serial) +
                      " answered with a failure");
            send_reply(p.client_serial, p.client_request, RIL_E_GENERIC_FAILURE, {});
        } else {
            out_.line("rild: the module did not complete " + what + " within " +
                      std::to_string(options_.request_timeout.count()) + " ms; given up");
        }
        it = pending_.erase(it);
    }
}

int RildServer::poll_timeout_ms(Clock::time_point now) const
{
    int timeout = -1;
    for (const auto &[serial, p] : pending_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(p.deadline - now).count();
        const int ms = left < 0 ? 0 : left > 60000 ? 60000 : static_cast<int>(left);
        timeout = timeout < 0 || ms < timeout ? ms : timeout;
    }
    return timeout;
}

void RildServer::send_reply(int32_t serial, int request, int error,
                            std::span<const uint8_t> payload)
{
    auto frame = reply_frame(serial, error, payload);
    if (!frame) {
        out_.line("rild: the reply to " + request_name(request) + " #" + std::to_string(serial) +
                  " would be " + std::to_string(payload.size() + 12) + " bytes, over the " +
                  std::to_string(kMaxFrameBody) + " a client takes; answered with a failure");
        error = RIL_E_GENERIC_FAILURE;
        payload = {};
        frame = reply_frame(serial, error, payload);
    }
    out_.line("c< " + request_name(request) + " #" + std::to_string(serial) + ": " +
              errno_name(error) + ", " + std::to_string(payload.size()) + " bytes");
    write_frame(*frame);
}

void RildServer::send_unsol(int number, std::span<const uint8_t> payload)
{
    const auto frame = unsol_frame(number, payload);
    if (!frame) {
        out_.line("rild: " + unsol_name(number) + " of " + std::to_string(payload.size()) +
                  " bytes is over the " + std::to_string(kMaxFrameBody) +
                  " a client takes; dropped");
        return;
    }
    out_.line("c< unsol " + unsol_name(number) + " (" + std::to_string(number) + "), " +
              std::to_string(payload.size()) + " bytes");
    write_frame(*frame);
}

void RildServer::write_frame(const std::vector<uint8_t> &frame)
{
    if (client_fd_ < 0) {
        return;
    }
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n = send(client_fd_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            end_session("write failed: " + errno_text(errno));
            return;
        }
        done += static_cast<size_t>(n);
    }
}

} // namespace zol_host
