// zol-host: loads the module like the handset's RIL host does, then runs the
// interactive console or a scenario against it.
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "console.h"
#include "host.h"
#include "imsd_control.h"
#include "names.h"
#include "radio_log.h"
#include "scenario.h"

#ifndef ZOL_HOST_DEFAULT_MODULE
#define ZOL_HOST_DEFAULT_MODULE "libreference-zol.so"
#endif

namespace {

using namespace zol_host;

constexpr int kExitSetup = 2;

const char kUsage[] =
    "usage: zol-host [--module PATH] [--script FILE] [--imsd-control PATH]\n"
    "                [--log FILE|-|none] [--timeout-ms N] [--help]\n"
    "\n"
    "  --module PATH        module to load (default: " ZOL_HOST_DEFAULT_MODULE ")\n"
    "  --script FILE        run a scenario instead of the console; exit 0 on PASS, 1 on FAIL\n"
    "  --imsd-control PATH  control socket of zol-imsd (default: /tmp/zol-imsd.ctl)\n"
    "  --log FILE|-|none    where the module's radio log goes (default: - for stderr)\n"
    "  --timeout-ms N       how long to wait for a completion or the stack (default: 10000)\n"
    "\n"
    "Exit status 2: the module could not be loaded or the options are wrong.\n";

struct Options {
    std::string module = ZOL_HOST_DEFAULT_MODULE;
    std::string script;
    std::string imsd_control = kDefaultImsdControl;
    std::string log = "-";
    int timeout_ms = 10000;
    bool help = false;
};

bool parse_options(int argc, char **argv, Options &opt, std::string &error)
{
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
        std::string *target = arg == "--module"         ? &opt.module
                              : arg == "--script"       ? &opt.script
                              : arg == "--imsd-control" ? &opt.imsd_control
                              : arg == "--log"          ? &opt.log
                                                        : nullptr;
        if (target == nullptr && arg != "--timeout-ms") {
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
        if (target != nullptr) {
            *target = *value;
            continue;
        }
        const auto n = parse_int(*value);
        if (!n || *n <= 0) {
            error = "--timeout-ms needs a positive number of milliseconds";
            return false;
        }
        opt.timeout_ms = *n;
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
    auto *out = new Output(std::cout);
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

    out->line("zol-host: loading " + opt.module);
    // Never closed: the module's threads live as long as the process.
    void *handle = dlopen(opt.module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::cerr << "zol-host: " << dlerror() << "\n";
        leave(kExitSetup);
    }
    using InitFn = const RIL_RadioFunctions *(*)(const struct RIL_Env *);
    auto init = reinterpret_cast<InitFn>(dlsym(handle, "RIL_Init"));
    if (init == nullptr) {
        std::cerr << "zol-host: " << opt.module << " has no RIL_Init\n";
        leave(kExitSetup);
    }
    out->line("zol-host: calling RIL_Init (the production module waits about 30 s for the IMS "
              "stack before it returns)");
    const RIL_RadioFunctions *radio = init(Host::env());
    if (radio == nullptr || radio->onRequest == nullptr) {
        std::cerr << "zol-host: RIL_Init returned no usable radio functions\n";
        leave(kExitSetup);
    }
    host->attach(radio);
    const char *version = radio->getVersion != nullptr ? radio->getVersion() : nullptr;
    out->line("zol-host: module RIL version " + std::to_string(radio->version) + ", " +
              (version != nullptr ? version : "no version text"));

    if (scenario) {
        leave(ScenarioRunner(*host, *out, run_options).run(*scenario) ? 0 : 1);
    }
    Console(*host, *out, run_options).run(std::cin, isatty(STDIN_FILENO) != 0);
    // Faults the module made are worth an exit status, also in the console.
    leave(host->host_errors().empty() ? 0 : 1);
}
