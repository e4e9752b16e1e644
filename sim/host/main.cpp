// zol-host: loads the module like the handset's RIL host does, then runs the
// interactive console or a scenario against it.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

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

constexpr int kExitSetup = 2;

const char kUsage[] =
    "usage: zol-host [--module PATH] [--script FILE] [--imsd-control PATH]\n"
    "                [--log FILE|-|none] [--timeout-ms N] [--help]\n"
    "       zol-host --soak SECONDS [--seed N] [--threads N] [--rate N] [--fault-rate P]\n"
    "                [--imsd PATH [--imsd-log FILE] [--kills N]] [the options above]\n"
    "\n"
    "  --module PATH        module to load (default: " ZOL_HOST_DEFAULT_MODULE ")\n"
    "  --script FILE        run a scenario instead of the console; exit 0 on PASS, 1 on FAIL\n"
    "  --imsd-control PATH  control socket of zol-imsd (default: /tmp/zol-imsd.ctl)\n"
    "  --log FILE|-|none    where the module's radio log goes (default: - for stderr)\n"
    "  --timeout-ms N       how long to wait for a completion or the stack (default: 10000)\n"
    "\n"
    "Soak: request threads send a mix of requests for SECONDS while another thread\n"
    "drives the stack's faults; then the stack answers what it owes and every token\n"
    "must have been completed exactly once. Figures, then PASS (exit 0) or FAIL (exit 1).\n"
    "  --seed N             seeds the requests and the faults (default 1)\n"
    "  --threads N          request threads (default 4)\n"
    "  --rate N             requests a second, all threads together (default 200)\n"
    "  --fault-rate P       share of frames the stack's random mode faults (default 10)\n"
    "  --imsd PATH          run this zol-imsd on $ZOL_IMSD_SOCKET and --imsd-control,\n"
    "                       killing and restarting it now and then; without it a\n"
    "                       running stack is used and never killed\n"
    "  --imsd-log FILE      where that stack's trace goes (default /dev/null)\n"
    "  --kills N            how often it is killed (default one for each started 30 s)\n"
    "\n"
    "Exit status 2: the module could not be loaded or the options are wrong.\n";

struct Options {
    std::string module = ZOL_HOST_DEFAULT_MODULE;
    std::string script;
    std::string imsd_control = kDefaultImsdControl;
    std::string log = "-";
    int timeout_ms = 10000;
    bool help = false;
    int soak_seconds = 0;
    SoakOptions soak;
};

bool parse_options(int argc, char **argv, Options &opt, std::string &error)
{
    // A whole number of at least `low`, or false with the reason.
    auto number = [&](const std::string &name, const std::string &value, int low, auto &into) {
        const auto n = parse_int(value);
        if (!n || *n < low) {
            error = name + " needs a whole number of at least " + std::to_string(low);
            return false;
        }
        into = static_cast<std::remove_reference_t<decltype(into)>>(*n);
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            opt.help = true;
            continue;
        }
        std::optional<std::string> value;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        std::string *text = arg == "--module"         ? &opt.module
                            : arg == "--script"       ? &opt.script
                            : arg == "--imsd-control" ? &opt.imsd_control
                            : arg == "--log"          ? &opt.log
                            : arg == "--imsd"         ? &opt.soak.imsd
                            : arg == "--imsd-log"     ? &opt.soak.imsd_log
                                                      : nullptr;
        static const char *const kNumbers[] = {"--timeout-ms", "--soak", "--seed",  "--threads",
                                               "--rate",       "--fault-rate", "--kills"};
        const bool is_number =
            std::find(std::begin(kNumbers), std::end(kNumbers), arg) != std::end(kNumbers);
        if (text == nullptr && !is_number) {
            error = "unknown option " + arg;
            return false;
        }
        if (!value && i + 1 < argc) {
            value = argv[++i];
        }
        if (!value) {
            error = arg + " needs a value";
            return false;
        }
        if (text != nullptr) {
            *text = *value;
            continue;
        }
        const bool ok = arg == "--timeout-ms"   ? number(arg, *value, 1, opt.timeout_ms)
                        : arg == "--soak"       ? number(arg, *value, 1, opt.soak_seconds)
                        : arg == "--seed"       ? number(arg, *value, 0, opt.soak.seed)
                        : arg == "--threads"    ? number(arg, *value, 1, opt.soak.threads)
                        : arg == "--rate"       ? number(arg, *value, 1, opt.soak.rate)
                        : arg == "--fault-rate" ? number(arg, *value, 0, opt.soak.fault_percent)
                                                : number(arg, *value, 0, opt.soak.kills);
        if (!ok) {
            return false;
        }
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

// The module's threads run for the life of the process and may still call the
// host: leave without running destructors, as a real host never unloads it.
[[noreturn]] void leave(int status)
{
    std::cout.flush();
    std::cerr.flush();
    fflush(nullptr);
    std::_Exit(status);
}

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    std::string error;
    if (!parse_options(argc, argv, opt, error)) {
        std::cerr << "zol-host: " << error << "\n" << kUsage;
        return kExitSetup;
    }
    if (opt.help) {
        std::cout << kUsage;
        return 0;
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

    if (!install_radio_log(opt.log, error)) {
        std::cerr << "zol-host: " << error << "\n";
        return kExitSetup;
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
        const char *socket = getenv("ZOL_IMSD_SOCKET");
        soak_options.imsd_socket = socket != nullptr && *socket != '\0' ? socket
                                                                        : "/tmp/zol-imsd.sock";
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

    const RIL_RadioFunctions *radio = load_module(opt.module, *host, *say, "zol-host: ", error);
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
