// zol_bench: performance benchmarks of the module's request and event paths.
// bench/run builds it and runs every group; see `zol_bench --help`.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "groups.h"
#include "results.h"

namespace {

void usage(FILE *to)
{
    fputs("usage: zol_bench in-process|cross-process|soak [--smoke] [--out FILE]\n"
          "                 [--requests N] [--log-formatted] [--benchmark_...]\n"
          "       zol_bench report FILE... [--json FILE] [--commit TEXT]\n"
          "\n"
          "  in-process     request round trips through the module and the kit agent,  \n"
          "                 and event throughput, each beside its floor\n"
          "  cross-process  request round trips through the socket agent and zol-imsd,\n"
          "                 beside a bare SOCK_SEQPACKET ping-pong with the same stack\n"
          "  soak           N requests (default 1000000), every allocation counted, RSS watched;\n"
          "                 the log library filters debug lines unless --log-formatted\n"
          "  report         prints the table of the rows the runs wrote, and its JSON\n"
          "\n"
          "  --smoke        a few iterations: every check, no timing worth keeping\n"
          "Runs pinned with taskset are labelled with their CPU. The exit status is 1 when\n"
          "a check failed (lost or failed answers, allocations other than expected).\n",
          to);
}

int report(int argc, char **argv)
{
    std::vector<zol_bench::Row> rows;
    std::string json;
    std::string commit;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--json") == 0 && i + 1 < argc) {
            json = argv[++i];
        } else if (strcmp(argv[i], "--commit") == 0 && i + 1 < argc) {
            commit = argv[++i];
        } else if (!zol_bench::read_rows(argv[i], rows)) {
            fprintf(stderr, "zol_bench: cannot read rows from %s\n", argv[i]);
            return 2;
        }
    }
    zol_bench::sort_rows(rows);
    zol_bench::print_table(stdout, rows);
    if (!json.empty()) {
        FILE *f = fopen(json.c_str(), "w");
        if (f == nullptr) {
            perror(json.c_str());
            return 2;
        }
        fputs(zol_bench::to_json(rows, commit).c_str(), f);
        fclose(f);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || strcmp(argv[1], "--help") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string group = argv[1];
    if (group == "report") {
        return report(argc, argv);
    }
    zol_bench::Options options;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            options.smoke = true;
        } else if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (arg == "--requests" && i + 1 < argc) {
            options.requests = atol(argv[++i]);
        } else if (arg == "--log-formatted") {
            options.log_formatted = true;
        } else if (arg.rfind("--benchmark_", 0) == 0) {
            options.benchmark_args.push_back(arg);
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (group == "in-process") {
        return zol_bench::run_in_process(options);
    }
    if (group == "cross-process") {
        return zol_bench::run_cross_process(options);
    }
    if (group == "soak" && options.requests > 0) {
        return zol_bench::run_soak(options);
    }
    usage(stderr);
    return 2;
}
