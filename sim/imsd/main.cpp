// zol-imsd: a stand-in for the IMS stack that the module talks to through the
// IPC agent library, scriptable through a line-based control socket.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "control.h"
#include "server.h"

namespace {

void usage(FILE *to)
{
    fputs("usage: zol-imsd [--socket PATH] [--control PATH] [--stdin] [--verbose] [--help]\n"
          "\n"
          "  --socket PATH   data socket for the agent (SOCK_SEQPACKET, one frame per packet),\n"
          "                  default /tmp/zol-imsd.sock\n"
          "  --control PATH  control socket (SOCK_STREAM, text lines), default /tmp/zol-imsd.ctl\n"
          "  --stdin         also read control commands from standard input; replies go to\n"
          "                  standard output\n"
          "  --verbose       also trace payload bytes and control commands\n"
          "  --help          this text\n"
          "\n"
          "Every frame is traced to standard output, one line each way:\n"
          "  imsd <- 17 get-current-calls token 5 len 0\n"
          "  imsd -> 30021 eTKM_CALL_CUR_CALL_IND token 5 len 411\n"
          "\n"
          "Control commands, one per line; each reply is zero or more lines and then one\n"
          "line starting with \"ok\" or \"error\". Empty lines and lines starting with # are\n"
          "ignored. Call states: idle dialing incoming active alerting releasing held waiting\n"
          "(or 1..8). Numbers may be written in decimal or as 0x hex.\n",
          to);
    for (const std::string &line : zol::imsd::command_help()) {
        fprintf(to, "  %s\n", line.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    zol::imsd::Options options;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (strcmp(arg, "--socket") == 0 && has_value) {
            options.socket_path = argv[++i];
        } else if (strcmp(arg, "--control") == 0 && has_value) {
            options.control_path = argv[++i];
        } else if (strcmp(arg, "--stdin") == 0) {
            options.use_stdin = true;
        } else if (strcmp(arg, "--verbose") == 0) {
            options.verbose = true;
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
    return zol::imsd::run_server(options);
}
