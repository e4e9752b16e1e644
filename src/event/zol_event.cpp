// The event queue and the module's one event thread. Stack messages arrive on
// the IPC agent's thread, are copied into a FIFO here, and are handled one at a
// time on the event thread, woken through a pipe.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/select.h>
#include <unistd.h>

#include "common/zol_sync.h"
#include "event/zol_event_internal.h"
#include "log/zol_diag.h"
#include "zol/zol_event.h"
#include "zol/zol_log.h"
#include "zol/zol_memory.h"

namespace {

// zol_event_init() gives up waiting for the thread after this long rather than
// hang the host's RIL_Init forever.
constexpr time_t kStartTimeoutSeconds = 5;

enum StartState : int { kInitStarted = 0, kHasPipe = 1, kReleased = 2 };

zol::Mutex g_queue_mutex;
zol::Mutex g_start_mutex;
zol::CondVar g_start_cond;

pthread_t g_event_thread;
// Written once before the thread is released; read by producers afterwards.
bool g_event_thread_valid = false;
int g_started ZOL_GUARDED_BY(g_start_mutex) = kInitStarted;

zol_event_type g_sentinel ZOL_GUARDED_BY(g_queue_mutex) = {
    &g_sentinel, &g_sentinel, ZOL_EVENT_NONE, nullptr, 0, nullptr, 0,
};

std::atomic<zol::EventProcessor> g_processor{nullptr};

int g_pipe_read = -1;
int g_pipe_write = -1;
fd_set g_read_set;

bool on_event_thread()
{
    return g_event_thread_valid && pthread_equal(pthread_self(), g_event_thread) != 0;
}

void append_locked(zol_event_type *ev) ZOL_REQUIRES(g_queue_mutex)
{
    ev->next = &g_sentinel;
    ev->prev = g_sentinel.prev;
    g_sentinel.prev->next = ev;
    g_sentinel.prev = ev;
}

void unlink_locked(zol_event_type *ev) ZOL_REQUIRES(g_queue_mutex)
{
    ev->prev->next = ev->next;
    ev->next->prev = ev->prev;
    ev->next = nullptr;
    ev->prev = nullptr;
}

void drain_pipe()
{
    char buf[16];
    for (;;) {
        const ssize_t n = read(g_pipe_read, buf, sizeof buf);
        if (n > 0) {
            ZOL_LOG(ZOL_LOG_TRACE, "zol_event_main(): %d items on queue\n", static_cast<int>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return; // end of file, or EAGAIN once the pipe is empty
    }
}

void process_queue()
{
    zol_event_type *ev;
    {
        zol::MutexLock lock(g_queue_mutex);
        ev = g_sentinel.next;
    }
    for (;;) {
        zol_event_type *next;
        {
            zol::MutexLock lock(g_queue_mutex);
            if (ev == &g_sentinel) {
                return;
            }
            next = ev->next;
            unlink_locked(ev);
        }
        ZOL_LOG(ZOL_LOG_TRACE, "De-queued event %s (%d)\n", zol_log_lookup_event_name(ev->event_id),
                ev->event_id);
        const zol::EventProcessor processor = g_processor.load(std::memory_order_acquire);
        const int result = processor != nullptr
                               ? processor(ev->event_id, ev->data, ev->datalen, ev->t)
                               : ZOL_EVENT_NOT_PROCESSED;
        if (ev->free_data != 0 && ev->data != nullptr) {
            zol_free(ev->data);
        }
        zol_free(ev);
        if (result != 0) {
            ZOL_LOG(ZOL_LOG_ERROR, "Error processing event! (%d)\n", result);
        }
        ev = next;
    }
}

// Runs with the start lock held; false when the thread must end.
bool open_wake_pipe() ZOL_REQUIRES(g_start_mutex)
{
    int fds[2];
    if (pipe(fds) != 0) {
        ZOL_LOG(ZOL_LOG_ERROR, "Error opening pipe (%d)\n", errno);
        return false;
    }
    g_pipe_read = fds[0];
    g_pipe_write = fds[1];
    fcntl(g_pipe_read, F_SETFL, fcntl(g_pipe_read, F_GETFL) | O_NONBLOCK);
    FD_SET(g_pipe_read, &g_read_set);
    return true;
}

} // namespace

namespace zol {

void set_event_processor(EventProcessor processor)
{
    g_processor.store(processor, std::memory_order_release);
}

} // namespace zol

extern "C" {

void zol_event_init(void)
{
    zol::MutexLock lock(g_start_mutex);
    g_started = kInitStarted;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    const int rc = pthread_create(&g_event_thread, &attr, zol_event_main, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        ZOL_LOG(ZOL_LOG_ERROR, "Failed to start event AMSS callback thread!\n");
        return;
    }
    g_event_thread_valid = true;

    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kStartTimeoutSeconds;
    while (g_started == kInitStarted) {
        if (!g_start_cond.wait_until(g_start_mutex, deadline) && g_started == kInitStarted) {
            ZOL_LOG(ZOL_LOG_ERROR, "zol_event_init(): event thread did not start\n");
            return;
        }
    }
    ZOL_LOG(ZOL_LOG_DETAIL, "zol_event_init(): event thread started\n");
}

void zol_event_start(void)
{
    zol::MutexLock lock(g_start_mutex);
    g_started = kReleased;
    g_start_cond.broadcast();
}

void *zol_event_main(void *)
{
    FD_ZERO(&g_read_set);
    {
        zol::MutexLock lock(g_start_mutex);
        g_started = kHasPipe;
        const bool have_pipe = open_wake_pipe();
        // Wake the initialiser even when the pipe failed, so it never waits in vain.
        g_start_cond.broadcast();
        if (!have_pipe) {
            return nullptr;
        }
        while (g_started <= kHasPipe) {
            ZOL_LOG(ZOL_LOG_STARTUP, "Event thread waiting for started == 2 (%d)", g_started);
            g_start_cond.wait(g_start_mutex);
        }
    }
    sleep(1);

    for (;;) {
        fd_set ready = g_read_set;
        ZOL_LOG(ZOL_LOG_TRACE, "zol_event_main(): Waiting...\n");
        if (select(g_pipe_read + 1, &ready, nullptr, nullptr, nullptr) < 0) {
            if (errno == EINTR) {
                continue;
            }
            ZOL_LOG(ZOL_LOG_ERROR, "ZOL event select error (%d)\n", errno);
            return nullptr;
        }
        drain_pipe();
        process_queue();
    }
}

void zol_event_queue(int32_t free_data, uint32_t wire_event_id, void *data, uint32_t datalen,
                     RIL_Token t)
{
    auto *ev = static_cast<zol_event_type *>(zol_malloc(sizeof(zol_event_type)));
    if (!ZOL_NOT_NULL(ev, "ev")) {
        return; // dropped: nothing to queue it in
    }
    const auto event_id = static_cast<int32_t>(wire_event_id + ZOL_STACK_EVENT_BASE);
    ev->event_id = event_id;
    ev->t = t;
    ev->free_data = free_data;
    const char *name = zol_log_lookup_event_name(event_id);

    if (data == nullptr) {
        ZOL_LOG(ZOL_LOG_TRACE, "Event [%s, %d] data was NULL!", name, event_id);
    } else if (free_data == 1) {
        // The producer keeps its buffer; the event owns a copy. A zero-length
        // payload still gets a (possibly empty) block of its own.
        void *copy = zol_malloc(datalen != 0 ? datalen : 1);
        if (!ZOL_NOT_NULL(copy, "ev->data")) {
            zol_free(ev);
            return;
        }
        if (datalen != 0) {
            memcpy(copy, data, datalen);
        }
        ev->data = copy;
        ev->datalen = datalen;
    } else {
        ev->data = data;
        ev->datalen = datalen;
    }

    {
        zol::MutexLock lock(g_queue_mutex);
        append_locked(ev);
    }
    // From here on the event thread may already have processed and freed ev.
    if (on_event_thread()) {
        // The walk in progress picks it up if it is not at the end already.
        ZOL_LOG(ZOL_LOG_ERROR, "zol_event_queue() called from event thread!\n");
        return;
    }
    const char wake = ' ';
    while (write(g_pipe_write, &wake, 1) < 0 && errno == EINTR) {
    }
    ZOL_LOG(ZOL_LOG_TRACE, "Queued event %s(%d), (%d bytes)\n", name, event_id,
            static_cast<int>(datalen));
}

} // extern "C"
