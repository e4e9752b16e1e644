// malloc and friends of the benchmark binary: they count, then hand over to
// glibc. The module resolves malloc through the global scope, which the
// executable heads, so its allocations are counted too.
#include "alloc_count.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *ptr, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *ptr);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_frees{0};

inline void allocated()
{
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

inline void freed()
{
    if (g_counting.load(std::memory_order_relaxed)) {
        g_frees.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

extern "C" {

void *malloc(size_t size)
{
    allocated();
    return __libc_malloc(size);
}

void *calloc(size_t n, size_t size)
{
    allocated();
    return __libc_calloc(n, size);
}

void *realloc(void *ptr, size_t size)
{
    if (ptr == nullptr) {
        allocated();
    } else if (size == 0) {
        freed();
    }
    return __libc_realloc(ptr, size);
}

void free(void *ptr)
{
    if (ptr != nullptr) {
        freed();
    }
    __libc_free(ptr);
}

void *memalign(size_t alignment, size_t size)
{
    allocated();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    allocated();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    allocated();
    void *p = __libc_memalign(alignment, size);
    if (p == nullptr) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}

void *valloc(size_t size)
{
    allocated();
    return __libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size);
}

} // extern "C"

namespace zol_bench {

void count_allocations(bool on)
{
    g_counting.store(on, std::memory_order_seq_cst);
}

HeapCounts heap_counts()
{
    return {g_allocations.load(std::memory_order_seq_cst), g_frees.load(std::memory_order_seq_cst)};
}

long rss_kib()
{
    // Read without stdio: a FILE would be an allocation of its own.
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char text[128];
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) {
        return -1;
    }
    text[n] = '\0';
    long pages = 0;
    long resident = 0;
    if (sscanf(text, "%ld %ld", &pages, &resident) != 2) {
        return -1;
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace zol_bench
