// The IPC agent library for Linux: carries the module's frames to zol-imsd over
// a Unix SOCK_SEQPACKET socket, one frame per packet, and hands every received
// packet to the read callback from a single reader thread.
#include "ipc_agent.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "capture.h"
#include "timestamp.h"

#define AGENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char *kDefaultSocket = "/tmp/zol-imsd.sock";
constexpr long kDefaultConnectTimeoutMs = 5000;
constexpr size_t kMaxPacket = 64 * 1024;
constexpr milliseconds kReconnectInterval{100};
constexpr milliseconds kOpenRetryInterval{20};
constexpr milliseconds kFirstAttemptWait{1000};
constexpr time_t kSendTimeoutS = 2;

std::atomic<bool> g_debug{false};

__attribute__((format(printf, 1, 2))) void debug(const char *fmt, ...)
{
    if (!g_debug.load(std::memory_order_relaxed)) {
        return;
    }
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    // Stamped like the stack's trace and the host's output, so all three merge.
    fprintf(stderr, "%s ipc_agent: %s\n", zol_sim::timestamp(zol_sim::clock_from_env()).c_str(),
            line);
}

// One connection to the stack. Senders and the reader each hold a reference, so
// the descriptor is closed only when nobody can still be using it; that way a
// reconnect can never make a sender write into an unrelated, reused descriptor.
class Connection {
public:
    Connection(int fd, uint64_t generation, uint32_t serial)
        : fd_(fd), generation_(generation), serial_(serial)
    {
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { close(fd_); }
    int fd() const { return fd_; }
    // The open this connection was made for.
    uint64_t generation() const { return generation_; }
    // 1 for the first connection this process made, 2 for the next, ...
    uint32_t serial() const { return serial_; }
    // Wakes a reader blocked on this connection; what is queued can still be read.
    void shut() const { shutdown(fd_, SHUT_RDWR); }

private:
    int fd_;
    uint64_t generation_;
    uint32_t serial_;
};

int connect_once(const std::string &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        debug("socket path '%s' has a bad length", path.c_str());
        return -1;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // Non-blocking while connecting: a stack that does not accept (full backlog)
    // makes connect fail at once instead of hanging the caller.
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        debug("socket: %s", strerror(errno));
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    // A stack that stops reading must not block a sender forever.
    const timeval timeout{kSendTimeoutS, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

long env_long(const char *name, long fallback)
{
    const char *text = getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char *end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    return (errno != 0 || *end != '\0' || value < 0) ? fallback : value;
}

class Agent {
public:
    void init(const ipc_agent_param_type &param)
    {
        std::lock_guard<std::mutex> lock(mu_);
        param_ = param;
    }

    int open(const ipc_agent_open_type &rec)
    {
        g_debug.store(getenv("ZOL_AGENT_DEBUG") != nullptr, std::memory_order_relaxed);
        start_capture();
        const char *env_path = getenv("ZOL_IMSD_SOCKET");
        const std::string path =
            env_path != nullptr && *env_path != '\0' ? env_path : kDefaultSocket;
        // Capped at a day so that the deadline cannot overflow.
        const long timeout_ms =
            std::min(env_long("ZOL_IMSD_CONNECT_TIMEOUT_MS", kDefaultConnectTimeoutMs), 86400000L);
        const Clock::time_point deadline = Clock::now() + milliseconds(timeout_ms);

        std::unique_lock<std::mutex> lock(mu_);
        // Opening again starts over: new callback, new path, new connection.
        read_cb_ = rec.read_cb;
        channel_id_ = rec.channel_id;
        path_ = path;
        const uint64_t generation = ++generation_;
        if (conn_) {
            conn_->shut();
            conn_.reset();
        }
        if (!reader_started_) {
            std::thread(&Agent::reader, this).detach();
            reader_started_ = true;
        }
        ++openers_;
        cv_.notify_all();
        debug("open: socket %s, waiting up to %ld ms", path.c_str(), timeout_ms);

        // The reader thread does the connecting: two connections at once would
        // make the stack drop the first in favour of the second.
        auto done = [&] { return conn_ != nullptr || generation != generation_; };
        cv_.wait_until(lock, deadline, done);
        // Even with no time to wait, one attempt is made.
        cv_.wait_for(lock, kFirstAttemptWait,
                     [&] { return done() || attempted_generation_ >= generation; });
        --openers_;
        const bool connected = conn_ != nullptr && generation == generation_;
        debug("open: %s", connected ? "connected" : "not connected, retrying in the background");
        return connected ? 0 : -1;
    }

    int send(const ipc_agent_send_type &rec)
    {
        // An empty packet would read as the end of the connection on the other side.
        if (rec.frame == nullptr || rec.length <= 0) {
            debug("send: bad record (frame %p, length %d)", static_cast<void *>(rec.frame),
                  rec.length);
            return -1;
        }
        std::shared_ptr<Connection> conn;
        {
            std::lock_guard<std::mutex> lock(mu_);
            conn = conn_;
        }
        if (!conn) {
            debug("send: not connected");
            return -1;
        }
        const size_t length = static_cast<size_t>(rec.length);
        ssize_t n;
        do {
            n = ::send(conn->fd(), rec.frame, length, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        const int err = n < 0 ? errno : 0;
        if (n == static_cast<ssize_t>(length)) {
            uint32_t token = 0;
            for (size_t i = 1; i < 5 && i < length; ++i) {
                token = token << 8 | rec.frame[i];
            }
            debug("sent %zu bytes (token %u) on fd %d", length, token, conn->fd());
            capture(zol_sim::CaptureDirection::to_stack, *conn,
                    std::span<const uint8_t>(rec.frame, length), length);
            return 0;
        }
        debug("send of %zu bytes on fd %d failed: %s", length, conn->fd(),
              n < 0 ? strerror(err) : "short send");
        if (err == EPIPE || err == ECONNRESET || err == ENOTCONN) {
            drop(conn);
        }
        return -1;
    }

private:
    // ZOL_AGENT_PCAP names a file that gets every frame in both directions; the
    // first open starts it and it runs for the life of the process.
    void start_capture()
    {
        const char *path = getenv("ZOL_AGENT_PCAP");
        if (path == nullptr || *path == '\0' || capture_started_.exchange(true)) {
            return;
        }
        const std::string why = capture_.open(path, zol_sim::CapturePoint::agent);
        if (!why.empty()) {
            fprintf(stderr, "ipc_agent: cannot capture to %s: %s\n", path, why.c_str());
        }
    }

    void capture(zol_sim::CaptureDirection direction, const Connection &conn,
                 std::span<const uint8_t> bytes, size_t original_size)
    {
        if (capture_.is_open()) {
            capture_.write({direction, conn.serial(), static_cast<uint32_t>(getpid())}, bytes,
                           original_size);
        }
    }

    // Takes `fd` as the connection unless an open came in meanwhile; call with mu_ held.
    void install(int fd, uint64_t generation)
    {
        if (generation != generation_) {
            close(fd);
            return;
        }
        conn_ = std::make_shared<Connection>(fd, generation, ++connections_);
        debug("connected to %s on fd %d", path_.c_str(), fd);
        cv_.notify_all();
    }

    void drop(const std::shared_ptr<Connection> &conn)
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (conn_ == conn) {
            conn_.reset();
            // The reader may be blocked on this connection while the stack keeps
            // it open but takes nothing (it shut its reading side): wake it, so
            // that it reads what is still queued and connects again, instead of
            // leaving every send to fail until the stack happens to write.
            conn->shut();
            debug("disconnected fd %d", conn->fd());
        }
    }

    void reader()
    {
        std::vector<uint8_t> buffer(kMaxPacket);
        // The connection being read. It is read to its end even after a failed
        // send gave it up: what is still queued on it answers frames that were
        // sent before.
        std::shared_ptr<Connection> conn;
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            if (!conn && !conn_) {
                const std::string path = path_;
                const uint64_t generation = generation_;
                lock.unlock();
                const int fd = connect_once(path);
                lock.lock();
                if (fd >= 0) {
                    install(fd, generation);
                }
                attempted_generation_ = std::max(attempted_generation_, generation);
                cv_.notify_all();
                if (!conn_) {
                    // Quicker while someone waits in open.
                    cv_.wait_for(lock, openers_ > 0 ? kOpenRetryInterval : kReconnectInterval,
                                 [&] { return generation != generation_; });
                }
                continue;
            }
            if (!conn) {
                conn = conn_;
            }
            lock.unlock();
            const ssize_t n = recv(conn->fd(), buffer.data(), buffer.size(), MSG_TRUNC);
            if (n < 0 && errno == EINTR) {
                lock.lock();
                continue;
            }
            if (n <= 0) {
                debug("connection on fd %d ended: %s", conn->fd(),
                      n == 0 ? "closed" : strerror(errno));
                drop(conn);
                conn.reset();
                lock.lock();
                continue;
            }
            size_t count = static_cast<size_t>(n);
            if (count > buffer.size()) {
                debug("packet of %zu bytes truncated to %zu", count, buffer.size());
                count = buffer.size();
            }
            capture(zol_sim::CaptureDirection::from_stack, *conn,
                    std::span<const uint8_t>(buffer.data(), count), static_cast<size_t>(n));
            lock.lock();
            const ipc_agent_read_cb_type cb = read_cb_;
            // Only an open since makes what arrives stale.
            const bool current = conn->generation() == generation_;
            lock.unlock();
            if (cb != nullptr && current) {
                ipc_agent_recv_type rec = {0, buffer.data(), static_cast<int32_t>(count)};
                cb(&rec);
            }
            lock.lock();
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    ipc_agent_param_type param_ = {0, 0};
    ipc_agent_read_cb_type read_cb_ = nullptr;
    int32_t *channel_id_ = nullptr;
    std::string path_;
    uint64_t generation_ = 0;           // bumped by each open
    uint64_t attempted_generation_ = 0; // latest generation the reader tried to connect for
    int openers_ = 0;                   // callers waiting in open
    std::shared_ptr<Connection> conn_;
    uint32_t connections_ = 0; // made so far
    bool reader_started_ = false;
    std::atomic<bool> capture_started_{false};
    zol_sim::CaptureWriter capture_;
};

// Built on first use and never destroyed: the reader thread may still be running
// while the process exits.
Agent &agent()
{
    static Agent *const instance = new Agent();
    return *instance;
}

} // namespace

AGENT_EXPORT int ipc_agent_init(ipc_agent_param_type *param)
{
    if (param == nullptr) {
        return -1;
    }
    try {
        agent().init(*param);
        return 0;
    } catch (...) {
        return -1;
    }
}

AGENT_EXPORT int ipc_agent_open(ipc_agent_open_type *rec)
{
    if (rec == nullptr) {
        return -1;
    }
    try {
        return agent().open(*rec);
    } catch (...) {
        return -1;
    }
}

AGENT_EXPORT int ipc_agent_message_send_block_comm(ipc_agent_send_type *rec)
{
    if (rec == nullptr) {
        return -1;
    }
    try {
        return agent().send(*rec);
    } catch (...) {
        return -1;
    }
}
