// zol-rild: a RIL daemon on the classic rild socket. It loads the module as
// zol-host does and lets a telephony stack nobody here wrote (oFono's
// rilmodem, for one) drive it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

#include "baseband_profile.h"
#include "host.h"
#include "module.h"
#include "names.h"
#include "radio_log.h"
#include "rild_server.h"

#ifndef ZOL_HOST_DEFAULT_MODULE
#define ZOL_HOST_DEFAULT_MODULE "libreference-zol.so"
#endif

namespace {

using namespace zol_host;

constexpr int kExitSetup = 2;

const char kUsage[] =
    "usage: zol-rild [--socket PATH] [--module PATH] [--log FILE|-|none]\n"
    "                [--profile FILE] [--request-timeout-ms N]\n"
    "       zol-rild --print-profile [--profile FILE]\n"
    "\n"
    "  --socket PATH            the rild socket to serve (default: /dev/socket/rild)\n"
    "  --module PATH            module to load (default: " ZOL_HOST_DEFAULT_MODULE ")\n"
    "  --log FILE|-|none        where the module's radio log goes (default: - for stderr)\n"
    "  --profile FILE           baseband values (key = value lines) over the built-in ones\n"
    "  --print-profile          print the baseband profile in that form and exit\n"
    "  --request-timeout-ms N   answer a request the module has not completed by then\n"
    "                           with a failure (default: 10000)\n"
    "\n"
    "One client at a time, as rild serves: it gets RIL_UNSOL_RIL_CONNECTED with the\n"
    "module's RIL version on connecting. Requests the module serves go to it through\n"
    "the framework adaptation; the baseband profile answers radio, SIM, identity and\n"
    "registration requests; the rest get REQUEST_NOT_SUPPORTED. The stack is found\n"
    "through ZOL_IMSD_SOCKET, as by zol-host. SIGTERM or SIGINT end it.\n";

struct Options {
    std::string module = ZOL_HOST_DEFAULT_MODULE;
    std::string log = "-";
    std::string profile;
    bool print_profile = false;
    bool help = false;
    RildOptions rild;
};

bool parse_options(int argc, char **argv, Options &opt, std::string &error)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            opt.help = true;
            continue;
        }
        if (arg == "--print-profile") {
            opt.print_profile = true;
            continue;
        }
        std::optional<std::string> value;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        std::string *text = arg == "--socket"    ? &opt.rild.socket_path
                            : arg == "--module"  ? &opt.module
                            : arg == "--log"     ? &opt.log
                            : arg == "--profile" ? &opt.profile
                                                 : nullptr;
        if (text == nullptr && arg != "--request-timeout-ms") {
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
        const auto n = parse_int(*value);
        if (!n || *n < 1) {
            error = arg + " needs a whole number of at least 1";
            return false;
        }
        opt.rild.request_timeout = std::chrono::milliseconds(*n);
    }
    return true;
}

RildServer *g_server = nullptr;

void on_signal(int)
{
    if (g_server != nullptr) {
        g_server->stop();
    }
}

// The module's threads live as long as the process: leave without
// destructors, as zol-host does.
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
        std::cerr << "zol-rild: " << error << "\n" << kUsage;
        return kExitSetup;
    }
    if (opt.help) {
        std::cout << kUsage;
        return 0;
    }
    static BasebandProfile profile;
    if (!opt.profile.empty()) {
        std::ifstream file(opt.profile);
        std::ostringstream text;
        text << file.rdbuf();
        if (!file || !profile.load(text.str(), error)) {
            std::cerr << "zol-rild: " << opt.profile << ": "
                      << (file ? error : "cannot be read") << "\n";
            return kExitSetup;
        }
    }
    if (opt.print_profile) {
        std::cout << profile.describe();
        return 0;
    }
    if (!install_radio_log(opt.log, error)) {
        std::cerr << "zol-rild: " << error << "\n";
        return kExitSetup;
    }

    // Never destroyed: the module keeps the env and calls it from its threads.
    static Output out(std::cout);
    auto *host = new Host(out);
    Host::set_current(host);
    const RIL_RadioFunctions *radio = load_module(opt.module, *host, out, "zol-rild: ", error);
    if (radio == nullptr) {
        std::cerr << "zol-rild: " << error << "\n";
        leave(kExitSetup);
    }

    auto *server = new RildServer(*host, *radio, profile, out, opt.rild);
    if (!server->listen(error)) {
        std::cerr << "zol-rild: " << error << "\n";
        leave(kExitSetup);
    }
    g_server = server;
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    server->run();
    g_server = nullptr;
    delete server;  // removes the socket
    out.line("zol-rild: stopped");
    leave(0);
}
