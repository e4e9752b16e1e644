// zol-host: loads the module like the handset's RIL host does, then runs the
// interactive console or a scenario against it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "cli.h"
#include "console.h"
#include "host.h"
#include "imsd_control.h"
#include "module.h"
#include "names.h"
#include "radio_log.h"
#include "scenario.h"
#include "soak.h"

#ifndef ZOL_HOST_DEFAULT_MODULE
#define ZOL_HOST_DEFAULT_MODULE "libreference-zol.so"
#endif

namespace {

using namespace zol_host;

const char kShortUsage[] =
    "usage: zol-host [--module PATH] [--script FILE | --soak SECONDS] [--log FILE|-|none]\n"
    "                [--clock wall|monotonic] [--json FILE] [other options]\n";

const char kHelp[] =
    "NAME\n"
    "    zol-host - RIL host for libreference-zol.so: console, scenarios, soak\n"
    "\n"
    "SYNOPSIS\n"
    "    zol-host [OPTIONS]                    console: one command a line, from a terminal or a "
    "pipe\n"
    "    zol-host --script FILE [OPTIONS]      run a scenario\n"
    "    zol-host --soak SECONDS [SOAK OPTIONS] [OPTIONS]\n"
    "\n"
    "DESCRIPTION\n"
    "    Loads the module with dlopen, calls RIL_Init with the host's RIL_Env and drives it\n"
    "    as a handset's RIL host does: requests with their host data, completions and\n"
    "    unsolicited responses decoded and printed. The stack behind the module is zol-imsd.\n"
    "    Without --script or --soak it reads console commands: every request command (type\n"
    "    help), stack <command> for zol-imsd, sleep <ms>, wait [<ms>] for completions still\n"
    "    due, wait unsol <number|name> [<ms>], quit. At the end of its input the console\n"
    "    waits up to --timeout-ms for completions still due, saying so.\n"
    "\n"
    "OPTIONS\n"
    "    --module PATH         module to load (default: " ZOL_HOST_DEFAULT_MODULE ")\n"
    "    --script FILE         run this scenario instead of the console (sim/host/README.md)\n"
    "    --imsd-control PATH   control socket of zol-imsd (default: /tmp/zol-imsd.ctl)\n"
    "    --log FILE|-|none     where the module's radio log goes (default: - for stderr)\n"
    "    --log-format plain|threadtime\n"
    "                          radio log lines as \"<time> radio D IMS-ref-zol: text\" (plain,\n"
    "                          the default) or as logcat -v threadtime prints them\n"
    "    --clock wall|monotonic\n"
    "                          clock of every timestamp: output lines, radio log, JSON\n"
    "                          (default: $ZOL_CLOCK, else wall); zol-imsd takes the same\n"
    "    --json FILE           one JSON object a line for every request, completion (with\n"
    "                          its decoded data) and unsolicited response; - for stdout\n"
    "    --timeout-ms N        how long to wait for a completion or the stack (default: 10000)\n"
    "    --version             print the version and exit\n"
    "    --help                this text\n"
    "\n"
    "SOAK OPTIONS\n"
    "    Request threads send a mix of requests for SECONDS while another thread drives the\n"
    "    stack's faults; then the stack answers what it owes and every token must have been\n"
    "    completed exactly once. A progress line every 5 s, figures, then PASS or FAIL.\n"
    "    --seed N              seeds the requests and the faults (default 1)\n"
    "    --threads N           request threads (default 4)\n"
    "    --rate N              requests a second, all threads together (default 200)\n"
    "    --fault-rate P        share of frames the stack's random mode faults (default 10)\n"
    "    --imsd PATH           run this zol-imsd on $ZOL_IMSD_SOCKET and --imsd-control, killing\n"
    "                          and restarting it now and then; without it a running stack is\n"
    "                          used and never killed\n"
    "    --imsd-log FILE       where that stack's trace goes (default /dev/null)\n"
    "    --kills N             how often it is killed (default one for each started 30 s)\n"
    "\n"
    "OUTPUT\n"
    "    Each line starts with a timestamp (MM-DD HH:MM:SS.mmm, or seconds since boot with\n"
    "    --clock monotonic). \"> NAME (n) #serial\" is a request sent, \"< NAME #serial: Error,\n"
    "    summary\" its completion, \"< unsol NAME (n)\" an unsolicited response, \"!! host\n"
    "    error\" a fault of the module. Control characters are shown as \\xNN.\n"
    "\n"
    "ENVIRONMENT\n"
    "    ZOL_IMSD_SOCKET       where the agent inside the module finds the stack (default\n"
    "                          /tmp/zol-imsd.sock); the host says once when none listens there\n"
    "    ZOL_IMSD_CONNECT_TIMEOUT_MS\n"
    "                          how long the agent waits for the stack at start; 200 when the\n"
    "                          host found no stack and it is not set\n"
    "    ZOL_CLOCK             wall or monotonic: the default of --clock\n"
    "\n"
    "EXIT STATUS\n"
    "    0  scenario or soak PASS; the console ended and the module made no host errors\n"
    "    1  FAIL, or host errors (a token completed twice, data that does not fit)\n"
    "    2  bad options, an unreadable scenario, or a module that cannot be loaded\n"
    "\n"
    "EXAMPLES\n"
    "    zol-imsd & zol-host --log /tmp/radio.log\n"
    "    printf 'dial 5551234\\nsleep 2000\\ncalls\\n' | zol-host --log none\n"
    "    zol-host --script tools/demo.scn --json /tmp/host.json --log-format threadtime\n"
    "    zol-host --soak 60 --imsd build/plain/sim/zol-imsd\n"
    "\n"
    "SEE ALSO\n"
    "    zol-imsd --help, zol-rild --help, sim/host/README.md\n";

struct Options {
    CommonOptions common;
    std::string script;
    std::string imsd_control = kDefaultImsdControl;
    int timeout_ms = 10000;
    int soak_seconds = 0;
    SoakOptions soak;
};

bool parse_options(int argc, char **argv, Options &opt, std::string &error)
{
    opt.common.module = ZOL_HOST_DEFAULT_MODULE;
    ArgReader args(argc, argv);
    while (args.next()) {
        switch (take_common(args, opt.common, error)) {
        case Taken::Yes:
            continue;
        case Taken::Error:
            return false;
        case Taken::No:
            break;
        }
        const std::string &name = args.name();
        std::string *text = name == "--script"         ? &opt.script
                            : name == "--imsd-control" ? &opt.imsd_control
                            : name == "--imsd"         ? &opt.soak.imsd
                            : name == "--imsd-log"     ? &opt.soak.imsd_log
                                                       : nullptr;
        if (text != nullptr) {
            const auto v = args.value(error);
            if (!v) {
                return false;
            }
            *text = *v;
            continue;
        }
        struct Number {
            const char *name;
            int low;
            std::function<void(int)> set;
        };
        const Number numbers[] = {
            {"--timeout-ms", 1, [&](int n) { opt.timeout_ms = n; }},
            {"--soak", 1, [&](int n) { opt.soak_seconds = n; }},
            {"--seed", 0, [&](int n) { opt.soak.seed = static_cast<uint64_t>(n); }},
            {"--threads", 1, [&](int n) { opt.soak.threads = n; }},
            {"--rate", 1, [&](int n) { opt.soak.rate = n; }},
            {"--fault-rate", 0, [&](int n) { opt.soak.fault_percent = n; }},
            {"--kills", 0, [&](int n) { opt.soak.kills = n; }},
        };
        const auto it = std::find_if(std::begin(numbers), std::end(numbers),
                                     [&](const Number &n) { return name == n.name; });
        if (it == std::end(numbers)) {
            error = "unknown option " + name;
            return false;
        }
        const auto n = args.number(it->low, error);
        if (!n) {
            return false;
        }
        it->set(*n);
    }
    if (opt.soak.fault_percent > 100) {
        error = "--fault-rate is a percentage";
        return false;
    }
    if (opt.soak_seconds > 0 && !opt.script.empty()) {
        error = "--soak and --script do not go together";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    std::string error;
    const bool parsed = parse_options(argc, argv, opt, error);
    if (const auto done =
            finish_options("zol-host", parsed, error, opt.common, kShortUsage, kHelp)) {
        return *done;
    }

    // Read and check the scenario before the module is loaded, which may take long.
    std::optional<Scenario> scenario;
    if (!opt.script.empty()) {
        std::ifstream file(opt.script);
        if (!file) {
            std::cerr << "zol-host: cannot read scenario " << opt.script << "\n";
            return kExitSetup;
        }
        std::ostringstream text;
        text << file.rdbuf();
        scenario = parse_scenario(text.str(), opt.script);
    }

    // Never destroyed: the module keeps the env and calls it from its own threads.
    // Static, so that a leak checker sees them kept to the end. In a soak the
    // host's lines would come by the thousand: only its figures show.
    static std::ostream quiet(nullptr);
    static Output say_output(std::cout);
    static Output quiet_output(quiet);
    Output *const say = &say_output;
    Output *const out = opt.soak_seconds > 0 ? &quiet_output : say;
    auto *host = new Host(*out);
    Host::set_current(host);
    if (!apply_common(opt.common, say_output, *host, error)) {
        std::cerr << "zol-host: " << error << "\n";
        leave(kExitSetup);
    }

    const RunOptions run_options{
        std::chrono::milliseconds(opt.timeout_ms),
        [path = opt.imsd_control, timeout = opt.timeout_ms](const std::string &command) {
            return control_exchange(path, command, std::chrono::milliseconds(timeout));
        }};
    if (scenario && !scenario->errors.empty()) {
        ScenarioRunner(*host, *out, run_options).run(*scenario);
        leave(1);
    }

    // Never destroyed either: leave() ends the process without destructors.
    static std::optional<Soak> soak_holder;
    Soak *soak = nullptr;
    if (opt.soak_seconds > 0) {
        SoakOptions soak_options = opt.soak;
        soak_options.seconds = opt.soak_seconds;
        soak_options.imsd_control = opt.imsd_control;
        soak_options.timeout = std::chrono::milliseconds(opt.timeout_ms);
        // Where the agent inside the module will look for the stack.
        soak_options.imsd_socket = stack_socket_path();
        soak = &soak_holder.emplace(soak_options, std::cout);
        if (!soak->start_stack(error)) {
            std::cerr << "zol-host: " << error << "\n";
            leave(kExitSetup);
        }
    }
    auto setup_failed = [&] {
        if (soak != nullptr) {
            soak->stop_stack();
        }
        leave(kExitSetup);
    };

    const RIL_RadioFunctions *radio =
        load_module(opt.common.module, *host, *say, "zol-host: ", error);
    if (radio == nullptr) {
        std::cerr << "zol-host: " << error << "\n";
        setup_failed();
    }

    if (soak != nullptr) {
        const int status = soak->run(*host);
        soak->stop_stack();
        leave(status);
    }

    if (scenario) {
        leave(ScenarioRunner(*host, *out, run_options).run(*scenario) ? 0 : 1);
    }
    Console(*host, *out, run_options).run(std::cin, isatty(STDIN_FILENO) != 0);
    // Faults the module made are worth an exit status, also in the console.
    leave(host->host_errors().empty() ? 0 : 1);
}
