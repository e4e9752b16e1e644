// Counts heap allocations of the whole process (every thread, the module
// included): the benchmark binary replaces malloc and its relatives.
#ifndef ZOL_BENCH_ALLOC_COUNT_H
#define ZOL_BENCH_ALLOC_COUNT_H

#include <cstdint>

namespace zol_bench {

struct HeapCounts {
    uint64_t allocations = 0; // malloc, calloc, realloc of null, memalign and friends
    uint64_t frees = 0;       // free of a non-null pointer, realloc to size 0
};

// Counting costs an atomic increment per call; it is off while timing.
void count_allocations(bool on);
HeapCounts heap_counts();

// Live heap blocks counted since counting was last switched on.
inline int64_t live_blocks(const HeapCounts &from, const HeapCounts &to)
{
    return static_cast<int64_t>(to.allocations - from.allocations) -
           static_cast<int64_t>(to.frees - from.frees);
}

// Resident set size of this process in KiB.
long rss_kib();

} // namespace zol_bench

#endif
