// zol-imsd: a stand-in for the IMS stack that the module talks to through the
// IPC agent library, scriptable through a line-based control socket.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "calls.h"
#include "control.h"
#include "server.h"
#include "sip/options.h"
#include "sip/stack.h"
#include "text.h"

namespace {

void usage(FILE *to)
{
    fputs("usage: zol-imsd [--socket PATH] [--control PATH] [--stdin] [--verbose]\n"
          "                [--connect-status on|off] [--delay MS] [--help]\n"
          "                [--sip-registrar IP[:PORT] [--sip-user USER] [--sip-local IP[:PORT]]\n"
          "                 [--sip-expires S] [--sip-timeout MS]]\n"
          "\n"
          "  --socket PATH   data socket for the agent (SOCK_SEQPACKET, one frame per packet),\n"
          "                  default /tmp/zol-imsd.sock\n"
          "  --control PATH  control socket (SOCK_STREAM, text lines), default /tmp/zol-imsd.ctl\n"
          "  --stdin         also read control commands from standard input; replies go to\n"
          "                  standard output\n"
          "  --verbose       also trace payload bytes and control commands\n"
          "  --connect-status on|off\n"
          "                  send the run status (30022) to each agent that connects,\n"
          "                  default on\n"
          "  --delay MS      between two steps of an outgoing call (dialing, alerting,\n"
          "                  active) and before the remote side agrees to a modification,\n"
          "                  default 300\n"
          "  --help          this text\n",
          to);
    fputs(zol::imsd::sip::usage(), to);
    fputs("\n"
          "Every frame is traced to standard output, one line each way:\n"
          "  imsd <- 17 get-current-calls token 5 len 0\n"
          "  imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 5 len 411\n"
          "\n"
          "Control commands, one per line; each reply is zero or more lines and then one\n"
          "line starting with \"ok\" or \"error\". Empty lines and lines starting with # are\n"
          "ignored. Call states: idle dialing incoming active alerting releasing held waiting\n"
          "(or 1..8). Numbers may be written in decimal or as 0x hex.\n"
          "\n"
          "The stack starts registered (run status 1) with call waiting and CLIP active,\n"
          "everything else off and the barring password 0000. Sends of SMS succeed unless\n"
          "a failure or time-out is planned; SS operations fail when the service refuses\n"
          "them (barring needs the password, activating forwarding needs a number).\n"
          "With --sip-registrar the run status follows the registrar, and calls (but\n"
          "conferences), DTMF, hold, modification and SMS go to the network; supplementary\n"
          "services stay simulated; `sip status` shows the SIP side.\n"
          "\n"
          "Faults (the fault commands below): frames on their way to the agent can be\n"
          "dropped, duplicated, delayed, corrupted, cut short, padded or sent under an id\n"
          "nobody knows, the next N of them or a share, by rule or at random from a seed;\n"
          "all of them can be held back (pause); confirmations nobody asked for can be\n"
          "sent; the connection can refuse the agent's sends, end, or stop being read.\n"
          "The module has no request timeouts, so the stack keeps a ledger: a request\n"
          "whose awaited answer a fault kept from arriving intact, or that the model left\n"
          "unanswered (an answer with no call ringing, an SMS planned to time out), is\n"
          "owed an answer. `fault drain` sends what is held, delayed or owed;\n"
          "`fault off` ends every fault first. The trace marks faulted frames.\n",
          to);
    for (const std::string &line : zol::imsd::command_help()) {
        fprintf(to, "  %s\n", line.c_str());
    }
    fputs("\nCalls (also `help calls`):\n", to);
    for (const std::string &line : zol::imsd::calls_help()) {
        fprintf(to, "  %s\n", line.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    zol::imsd::Options options;
    zol::imsd::sip::SipOptions sip_options;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool has_value = i + 1 < argc;
        std::string sip_error;
        if (const int sip_arg = zol::imsd::sip::parse_option(argc, argv, i, sip_options, sip_error);
            sip_arg != 0) {
            if (sip_arg < 0) {
                fprintf(stderr, "zol-imsd: %s\n", sip_error.c_str());
                return 2;
            }
        } else if (strcmp(arg, "--socket") == 0 && has_value) {
            options.socket_path = argv[++i];
        } else if (strcmp(arg, "--control") == 0 && has_value) {
            options.control_path = argv[++i];
        } else if (strcmp(arg, "--stdin") == 0) {
            options.use_stdin = true;
        } else if (strcmp(arg, "--verbose") == 0) {
            options.verbose = true;
        } else if (strcmp(arg, "--connect-status") == 0 && has_value &&
                   (strcmp(argv[i + 1], "on") == 0 || strcmp(argv[i + 1], "off") == 0)) {
            options.report_on_connect = strcmp(argv[++i], "on") == 0;
        } else if (strcmp(arg, "--delay") == 0 && has_value) {
            const auto ms = zol::imsd::parse_uint(argv[++i], 600000);
            if (!ms) {
                fprintf(stderr, "zol-imsd: bad delay '%s'\n", argv[i]);
                return 2;
            }
            options.call_delay_ms = static_cast<uint32_t>(*ms);
        } else if (strcmp(arg, "--help") == 0) {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "zol-imsd: bad argument '%s'\n", arg);
            usage(stderr);
            return 2;
        }
    }
    // A reader of the trace that goes away must not kill the stack.
    signal(SIGPIPE, SIG_IGN);
    std::unique_ptr<zol::imsd::sip::Stack> sip;
    if (sip_options.enabled) {
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
