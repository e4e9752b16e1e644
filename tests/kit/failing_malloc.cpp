// malloc, calloc (the compiler may turn malloc and memset into it) and free as the
// unit program wraps them: an allocation of the test's thread can be made to fail.
#include <atomic>
#include <cstddef>

#include "fixture.h"

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_calloc(size_t n, size_t size);
extern "C" void __real_free(void *p);

namespace zol_kit {

namespace {
constexpr int kWatched = 16;
thread_local AllocationWatch *t_watch = nullptr;
std::atomic<void *> g_blocks[kWatched];
std::atomic<int> g_freed{0};
} // namespace

AllocationWatch::AllocationWatch(int fail_at) : fail_at_(fail_at)
{
    for (auto &b : g_blocks) {
        b.store(nullptr);
    }
    g_freed.store(0);
    t_watch = this;
}

AllocationWatch::~AllocationWatch()
{
    t_watch = nullptr;
}

int AllocationWatch::freed() const
{
    return g_freed.load();
}

} // namespace zol_kit

using zol_kit::g_blocks;
using zol_kit::t_watch;

template <typename Alloc>
static void *watched(Alloc alloc)
{
    if (t_watch == nullptr) {
        return alloc();
    }
    if (t_watch->allocated_++ == t_watch->fail_at_) {
        return nullptr;
    }
    void *p = alloc();
    if (t_watch->allocated_ <= zol_kit::kWatched) {
        g_blocks[t_watch->allocated_ - 1].store(p);
    }
    return p;
}

extern "C" void *__wrap_malloc(size_t size)
{
    return watched([=] { return __real_malloc(size); });
}

extern "C" void *__wrap_calloc(size_t n, size_t size)
{
    return watched([=] { return __real_calloc(n, size); });
}

extern "C" void __wrap_free(void *p)
{
    for (auto &b : g_blocks) {
        void *expected = p;
        if (p != nullptr && b.compare_exchange_strong(expected, nullptr)) {
            zol_kit::g_freed.fetch_add(1);
        }
    }
    __real_free(p);
}
