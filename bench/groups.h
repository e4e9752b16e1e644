// The benchmark groups; each runs in a process of its own, since the module
// can be started only once per process.
#ifndef ZOL_BENCH_GROUPS_H
#define ZOL_BENCH_GROUPS_H

#include "harness.h"

namespace zol_bench {

int run_in_process(const Options &options);
int run_cross_process(const Options &options);
int run_soak(const Options &options);

} // namespace zol_bench

#endif
