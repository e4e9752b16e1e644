// zol-imsd: a stand-in for the IMS stack that the module talks to through the
// IPC agent library, scriptable through a line-based control socket.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "calls.h"
#include "control.h"
#include "server.h"
#include "sip/options.h"
#include "sip/stack.h"
#include "text.h"

namespace {

const char kUsage[] =
    "usage: zol-imsd [--socket PATH] [--control PATH] [--stdin] [--verbose]\n"
    "                [--connect-status on|off] [--delay MS] [--pcap FILE]\n"
    "                [--clock wall|monotonic] [--sip-registrar IP[:PORT] [--sip-...]]\n"
    "                [--help] [--version]\n";

void help()
{
    fputs("NAME\n"
          "    zol-imsd - simulated IMS stack for libreference-zol\n"
          "\n"
          "SYNOPSIS\n",
          stdout);
    fputs(kUsage, stdout);
    fputs("\n"
          "DESCRIPTION\n"
          "    Serves the module's IPC agent library on a Unix socket as the handset's IMS\n"
          "    stack would: answers calls, SMS, supplementary-service, registration and\n"
          "    configuration messages from a scripted world, and injects faults on request.\n"
          "    It is driven by text commands on a control socket (zol-host's `stack ...'\n"
          "    steps, or any client such as `socat - UNIX-CONNECT:PATH'), and optionally\n"
          "    on standard input. It runs until `quit', SIGTERM or SIGINT.\n"
          "\n"
          "    The stack starts registered (run status 1) with call waiting and CLIP\n"
          "    active, everything else off and the barring password 0000; `reset' brings\n"
          "    it back there. It keeps its state between agent connections, so one stack\n"
          "    can serve several host sessions in turn.\n"
          "\n"
          "    It refuses to start when another process serves either socket, and at exit\n"
          "    removes only the socket files it created itself.\n"
          "\n"
          "OPTIONS\n"
          "    --socket PATH   data socket for the agent (SOCK_SEQPACKET, one frame per\n"
          "                    packet). Default /tmp/zol-imsd.sock.\n"
          "    --control PATH  control socket (SOCK_STREAM, text lines).\n"
          "                    Default /tmp/zol-imsd.ctl.\n"
          "    --stdin         also read control commands from standard input; replies go\n"
          "                    to standard output. The end of the input does not stop the\n"
          "                    stack.\n"
          "    --verbose       also trace payload bytes and control commands.\n"
          "    --connect-status on|off\n"
          "                    send the run status (30022) to each agent that connects.\n"
          "                    Default on.\n"
          "    --delay MS      pause between two steps of an outgoing call (dialing,\n"
          "                    alerting, active) and before the remote side agrees to a\n"
          "                    modification. Default 300.\n"
          "    --pcap FILE     write every frame that crosses the data socket, both ways,\n"
          "                    to FILE in pcap format (link type DLT_USER0; open it in\n"
          "                    Wireshark with tools/wireshark/zol.lua). The file is\n"
          "                    replaced.\n"
          "    --clock wall|monotonic\n"
          "                    the clock of the trace's time stamps: wall time as logcat\n"
          "                    prints it (MM-DD HH:MM:SS.mmm) or seconds since boot\n"
          "                    (12345.678901). Default: $ZOL_CLOCK, else wall.\n"
          "    --help          this text.\n"
          "    --version       the version, and exit.\n",
          stdout);
    // The SIP options' own text is indented for a two-space list.
    std::istringstream sip_text(zol::imsd::sip::usage());
    for (std::string line; std::getline(sip_text, line);) {
        printf("  %s\n", line.c_str());
    }
    fputs("\n"
          "    With --sip-registrar the run status follows the registrar, and calls (but\n"
          "    conferences), DTMF, hold, modification and SMS go to the network;\n"
          "    supplementary services stay simulated; `sip status' shows the SIP side.\n"
          "\n"
          "TRACE\n"
          "    Standard output gets one time-stamped line per frame each way, and a line\n"
          "    for connections, faults and what the stack owes:\n"
          "        04-02 10:15:07.163 imsd <- 17 get-current-calls token 5 len 0\n"
          "        04-02 10:15:07.163 imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 5 len 411\n"
          "    Replies to commands read from standard input are printed without a stamp.\n"
          "\n"
          "CONTROL COMMANDS\n"
          "    One per line; each reply is zero or more lines and then one line starting\n"
          "    with \"ok\" or \"error\". Empty lines and lines starting with # are ignored.\n"
          "    Call states: idle dialing incoming active alerting releasing held waiting\n"
          "    (or 1..8). Numbers may be written in decimal or as 0x hex.\n",
          stdout);
    for (const std::string &line : zol::imsd::command_help()) {
        printf("    %s\n", line.c_str());
    }
    fputs("\n"
          "CALLS\n",
          stdout);
    for (const std::string &line : zol::imsd::calls_help()) {
        printf("    %s\n", line.c_str());
    }
    fputs("\n"
          "FAULTS\n"
          "    Frames on their way to the agent can be dropped, duplicated, delayed,\n"
          "    corrupted, cut short, padded or sent under an id nobody knows, the next N\n"
          "    of them or a share, by rule or at random from a seed; all of them can be\n"
          "    held back (pause); confirmations nobody asked for can be sent; the\n"
          "    connection can refuse the agent's sends, end, or stop being read.\n"
          "    The module has no request timeouts, so the stack keeps a ledger: a request\n"
          "    whose awaited answer a fault kept from arriving intact, or that the model\n"
          "    left unanswered (an answer with no call ringing, an SMS planned to time\n"
          "    out), is owed an answer. `fault drain' sends what is held, delayed or owed;\n"
          "    `fault off' ends every fault first. What is held or owed belongs to the\n"
          "    module process it was meant for: when an agent from another process\n"
          "    connects it is dropped, never delivered to the new one.\n"
          "\n"
          "ENVIRONMENT\n"
          "    ZOL_CLOCK   default of --clock: wall or monotonic.\n"
          "\n"
          "EXIT STATUS\n"
          "    0 after quit or a signal, 1 when the sockets or the capture file cannot be\n"
          "    set up (for example when another stack serves a socket), 2 for bad options.\n"
          "\n"
          "EXAMPLES\n"
          "    zol-imsd --socket /tmp/a.sock --control /tmp/a.ctl --pcap /tmp/a.pcap &\n"
          "    ZOL_IMSD_SOCKET=/tmp/a.sock zol-host --imsd-control /tmp/a.ctl\n"
          "    tshark -X lua_script:tools/wireshark/zol.lua -r /tmp/a.pcap\n"
          "\n"
          "SEE ALSO\n"
          "    zol-host(1) (sim/host/README.md), README.md in the source tree.\n",
          stdout);
}

int bad_usage(const std::string &why)
{
    fprintf(stderr, "zol-imsd: %s\n%ssee zol-imsd --help\n", why.c_str(), kUsage);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    zol::imsd::Options options;
    options.clock = zol_sim::clock_from_env();
    zol::imsd::sip::SipOptions sip_options;
    for (int i = 1; i < argc; ++i) {
        std::string sip_error;
        if (const int sip_arg = zol::imsd::sip::parse_option(argc, argv, i, sip_options, sip_error);
            sip_arg != 0) {
            if (sip_arg < 0) {
                return bad_usage(sip_error);
            }
            continue;
        }
        const std::string arg = argv[i];
        if (arg == "--help") {
            help();
            return 0;
        }
        if (arg == "--version") {
            printf("zol-imsd %s\n", ZOL_SIM_VERSION);
            return 0;
        }
        if (arg == "--stdin") {
            options.use_stdin = true;
            continue;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        const bool takes_value = arg == "--socket" || arg == "--control" || arg == "--delay" ||
                                 arg == "--connect-status" || arg == "--pcap" || arg == "--clock";
        if (!takes_value) {
            return bad_usage("unknown option '" + arg + "'");
        }
        if (i + 1 >= argc) {
            return bad_usage(arg + " needs a value");
        }
        const std::string value = argv[++i];
        if (arg == "--socket") {
            options.socket_path = value;
        } else if (arg == "--control") {
            options.control_path = value;
        } else if (arg == "--pcap") {
            options.pcap_path = value;
        } else if (arg == "--connect-status") {
            if (value != "on" && value != "off") {
                return bad_usage("--connect-status takes on or off, not '" + value + "'");
            }
            options.report_on_connect = value == "on";
        } else if (arg == "--clock") {
            if (!zol_sim::parse_clock(value.c_str(), options.clock)) {
                return bad_usage("--clock takes wall or monotonic, not '" + value + "'");
            }
        } else {
            const auto ms = zol::imsd::parse_uint(value, 600000);
            if (!ms) {
                return bad_usage("bad delay '" + value + "' (milliseconds, at most 600000)");
            }
            options.call_delay_ms = static_cast<uint32_t>(*ms);
        }
    }
    // A reader of the trace that goes away must not kill the stack.
    signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<zol::imsd::sip::Stack> sip;
    if (sip_options.enabled) {
        sip_options.clock = options.clock;
        std::string error;
        sip = zol::imsd::sip::start(sip_options, error);
        if (!sip) {
            fprintf(stderr, "zol-imsd: %s\n", error.c_str());
            return 1;
        }
        options.network = sip.get();
    }
    const int status = zol::imsd::run_server(options);
    if (sip) {
        sip->stop();
    }
    return status;
}
