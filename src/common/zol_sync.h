// Locks of the module, annotated so that clang's thread-safety analysis can
// prove which data each lock guards (the attributes are no-ops under g++).
#ifndef ZOL_SYNC_H
#define ZOL_SYNC_H

#include <pthread.h>

#if defined(__clang__)
#define ZOL_TSA(x) __attribute__((x))
#else
#define ZOL_TSA(x)
#endif

#define ZOL_CAPABILITY(x) ZOL_TSA(capability(x))
#define ZOL_SCOPED_CAPABILITY ZOL_TSA(scoped_lockable)
#define ZOL_GUARDED_BY(x) ZOL_TSA(guarded_by(x))
#define ZOL_PT_GUARDED_BY(x) ZOL_TSA(pt_guarded_by(x))
#define ZOL_REQUIRES(...) ZOL_TSA(requires_capability(__VA_ARGS__))
#define ZOL_EXCLUDES(...) ZOL_TSA(locks_excluded(__VA_ARGS__))
#define ZOL_ACQUIRE(...) ZOL_TSA(acquire_capability(__VA_ARGS__))
#define ZOL_RELEASE(...) ZOL_TSA(release_capability(__VA_ARGS__))
#define ZOL_NO_TSA ZOL_TSA(no_thread_safety_analysis)

namespace zol {

// A plain, statically initialised pthread mutex with default attributes.
class ZOL_CAPABILITY("mutex") Mutex {
public:
    constexpr Mutex() = default;
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;

    void lock() ZOL_ACQUIRE() { pthread_mutex_lock(&m_); }
    void unlock() ZOL_RELEASE() { pthread_mutex_unlock(&m_); }
    pthread_mutex_t *native() { return &m_; }

private:
    pthread_mutex_t m_ = PTHREAD_MUTEX_INITIALIZER;
};

class ZOL_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex &m) ZOL_ACQUIRE(m) : m_(m) { m_.lock(); }
    ~MutexLock() ZOL_RELEASE() { m_.unlock(); }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;

private:
    Mutex &m_;
};

class CondVar {
public:
    constexpr CondVar() = default;
    CondVar(const CondVar &) = delete;
    CondVar &operator=(const CondVar &) = delete;

    void wait(Mutex &m) ZOL_REQUIRES(m) { pthread_cond_wait(&c_, m.native()); }
    // Returns false once the absolute CLOCK_REALTIME deadline has passed.
    bool wait_until(Mutex &m, const struct timespec &deadline) ZOL_REQUIRES(m)
    {
        return pthread_cond_timedwait(&c_, m.native(), &deadline) == 0;
    }
    void broadcast() { pthread_cond_broadcast(&c_); }

private:
    pthread_cond_t c_ = PTHREAD_COND_INITIALIZER;
};

} // namespace zol

#endif // ZOL_SYNC_H
