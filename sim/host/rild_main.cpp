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
#include "cli.h"
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

const char kShortUsage[] =
    "usage: zol-rild [--socket PATH] [--module PATH] [--log FILE|-|none] [--profile FILE]\n"
    "                [--clock wall|monotonic] [--json FILE] [other options]\n";

const char kHelp[] =
    "NAME\n"
    "    zol-rild - RIL daemon on the classic rild socket, with libreference-zol.so behind it\n"
    "\n"
    "SYNOPSIS\n"
    "    zol-rild [OPTIONS]\n"
    "    zol-rild --print-profile [--profile FILE]\n"
    "\n"
    "DESCRIPTION\n"
    "    Loads the module as zol-host does and serves the classic rild socket, so that a\n"
    "    telephony stack such as oFono (OFONO_RIL_DEVICE=ril) drives it. One client at a\n"
    "    time, as rild serves: it gets RIL_UNSOL_RIL_CONNECTED with the module's RIL\n"
    "    version on connecting; the next waits until it leaves. Requests the module serves\n"
    "    go to it through the framework adaptation (SEND_SMS as IMS SMS, DTMF as start and\n"
    "    stop, the incoming-call invitation accepted here, ...); a baseband profile answers\n"
    "    radio, SIM, identity and registration requests; the rest get REQUEST_NOT_SUPPORTED.\n"
    "    Malformed, truncated or oversized frames are logged and dropped; every request with\n"
    "    a serial is answered.\n"
    "\n"
    "OPTIONS\n"
    "    --socket PATH         the socket to serve (default: /dev/socket/rild, where classic\n"
    "                          clients look); mode 0666, removed at exit; refused when another\n"
    "                          server listens there\n"
    "    --module PATH         module to load (default: " ZOL_HOST_DEFAULT_MODULE ")\n"
    "    --log FILE|-|none     where the module's radio log goes (default: - for stderr)\n"
    "    --log-format plain|threadtime\n"
    "                          radio log lines plain (the default) or as logcat -v threadtime\n"
    "    --clock wall|monotonic\n"
    "                          clock of every timestamp (default: $ZOL_CLOCK, else wall)\n"
    "    --json FILE           one JSON object a line for every request to the module, its\n"
    "                          completion and every unsolicited response; - for stdout\n"
    "    --profile FILE        baseband values as key = value lines over the built-in ones\n"
    "    --print-profile       print the baseband profile in that form and exit\n"
    "    --request-timeout-ms N\n"
    "                          answer a request the module has not completed by then with\n"
    "                          GENERIC_FAILURE (default: 10000); its late answer is dropped\n"
    "    --version             print the version and exit\n"
    "    --help                this text\n"
    "\n"
    "OUTPUT\n"
    "    Each line starts with a timestamp. \"c> NAME (n) #serial\" is a client request,\n"
    "    \"c< NAME #serial: Error\" the reply, \"c< unsol NAME (n)\" an unsolicited response\n"
    "    to the client, \"adapt:\" a translation, \"rild:\" the daemon's own news; \"> ...\" and\n"
    "    \"< ...\" are requests to the module and its answers, as zol-host prints them.\n"
    "\n"
    "ENVIRONMENT\n"
    "    ZOL_IMSD_SOCKET       where the agent inside the module finds the stack (default\n"
    "                          /tmp/zol-imsd.sock)\n"
    "    ZOL_CLOCK             wall or monotonic: the default of --clock\n"
    "\n"
    "EXIT STATUS\n"
    "    0  stopped by SIGTERM or SIGINT\n"
    "    2  bad options or profile, a module that cannot be loaded, a socket that cannot be\n"
    "       served\n"
    "\n"
    "EXAMPLES\n"
    "    sudo ZOL_IMSD_SOCKET=/tmp/zol-imsd.sock zol-rild --log /tmp/radio.log\n"
    "    zol-rild --socket /tmp/rild --profile my-network.conf\n"
    "    zol-rild --print-profile > my-network.conf\n"
    "\n"
    "SEE ALSO\n"
    "    zol-host --help, zol-imsd --help, README.md (\"Drive it with oFono\"),\n"
    "    sim/host/README.md\n";

struct Options {
    CommonOptions common;
    std::string profile;
    bool print_profile = false;
    RildOptions rild;
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
        if (name == "--print-profile") {
            opt.print_profile = true;
        } else if (name == "--socket" || name == "--profile") {
            const auto v = args.value(error);
            if (!v) {
                return false;
            }
            (name == "--socket" ? opt.rild.socket_path : opt.profile) = *v;
        } else if (name == "--request-timeout-ms") {
            const auto n = args.number(1, error);
            if (!n) {
                return false;
            }
            opt.rild.request_timeout = std::chrono::milliseconds(*n);
        } else {
            error = "unknown option " + name;
            return false;
        }
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

} // namespace

int main(int argc, char **argv)
{
    Options opt;
    std::string error;
    const bool parsed = parse_options(argc, argv, opt, error);
    if (const auto done =
            finish_options("zol-rild", parsed, error, opt.common, kShortUsage, kHelp)) {
        return *done;
    }
    static BasebandProfile profile;
    if (!opt.profile.empty()) {
        std::ifstream file(opt.profile);
        std::ostringstream text;
        text << file.rdbuf();
        if (!file || !profile.load(text.str(), error)) {
            std::cerr << "zol-rild: " << opt.profile << ": " << (file ? error : "cannot be read")
                      << "\n";
            return kExitSetup;
        }
    }
    if (opt.print_profile) {
        std::cout << profile.describe();
        return 0;
    }
    // Never destroyed: the module keeps the env and calls it from its threads.
    static Output out(std::cout);
    auto *host = new Host(out);
    Host::set_current(host);
    if (!apply_common(opt.common, out, *host, error)) {
        std::cerr << "zol-rild: " << error << "\n";
        leave(kExitSetup);
    }
    const RIL_RadioFunctions *radio =
        load_module(opt.common.module, *host, out, "zol-rild: ", error);
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
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    server->run();
    g_server = nullptr;
    delete server; // removes the socket
    out.line("zol-rild: stopped");
    leave(0);
}
