#include "sip/options.h"

#include <arpa/inet.h>
#include <cstring>

#include "text.h"

namespace zol::imsd::sip {

namespace {

constexpr uint32_t kMaxExpiresS = 86400;
constexpr uint32_t kMaxTimeoutMs = 60000;

bool valid_user(const std::string &user)
{
    // Characters that may stand unescaped in the user part of a SIP URI.
    static const char kAllowed[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789-_.!~*'()&=+$,;?/";
    return !user.empty() && user.size() <= 64 &&
           user.find_first_not_of(kAllowed) == std::string::npos;
}

} // namespace

std::string Endpoint::text() const
{
    return ip + ":" + std::to_string(port);
}

std::string SipOptions::aor() const
{
    return "sip:" + user + "@" + registrar.ip;
}

bool parse_endpoint(const std::string &text, uint16_t default_port, Endpoint &out)
{
    const size_t colon = text.find(':');
    const std::string ip = text.substr(0, colon);
    in_addr addr{};
    if (inet_pton(AF_INET, ip.c_str(), &addr) != 1) {
        return false;
    }
    uint64_t port = default_port;
    if (colon != std::string::npos) {
        const auto p = parse_uint(std::string_view(text).substr(colon + 1), 65535);
        if (!p) {
            return false;
        }
        port = *p;
    }
    out.ip = ip;
    out.port = static_cast<uint16_t>(port);
    return true;
}

int parse_option(int argc, char **argv, int &i, SipOptions &options, std::string &error)
{
    const char *arg = argv[i];
    if (strncmp(arg, "--sip-", 6) != 0) {
        return 0;
    }
    if (i + 1 >= argc) {
        error = strf("%s needs a value", arg);
        return -1;
    }
    const std::string value = argv[++i];
    if (strcmp(arg, "--sip-registrar") == 0) {
        if (!parse_endpoint(value, 5060, options.registrar) || options.registrar.port == 0) {
            error = "bad --sip-registrar '" + value + "': an IPv4 address, optionally :port";
            return -1;
        }
        options.enabled = true;
    } else if (strcmp(arg, "--sip-user") == 0) {
        // A whole address of record names the user; its domain is the registrar's.
        std::string user = value;
        if (user.rfind("sip:", 0) == 0) {
            user = user.substr(4, user.find('@') == std::string::npos ? std::string::npos
                                                                      : user.find('@') - 4);
        }
        if (!valid_user(user)) {
            error = "bad --sip-user '" + value + "'";
            return -1;
        }
        options.user = user;
    } else if (strcmp(arg, "--sip-local") == 0) {
        if (!parse_endpoint(value, 0, options.local)) {
            error = "bad --sip-local '" + value + "': an IPv4 address, optionally :port";
            return -1;
        }
    } else if (strcmp(arg, "--sip-expires") == 0 || strcmp(arg, "--sip-timeout") == 0) {
        const bool expires = strcmp(arg, "--sip-expires") == 0;
        const auto n = parse_uint(value, expires ? kMaxExpiresS : kMaxTimeoutMs);
        if (!n || *n == 0) {
            error = strf("bad %s '%s'", arg, value.c_str());
            return -1;
        }
        (expires ? options.expires_s : options.timeout_ms) = static_cast<uint32_t>(*n);
    } else {
        error = strf("unknown option %s", arg);
        return -1;
    }
    return 1;
}

const char *usage()
{
    return "  --sip-registrar IP[:PORT]\n"
           "                  talk SIP: register with this registrar (also the outbound\n"
           "                  proxy), place and take calls and send SMS through it\n"
           "  --sip-user USER | sip:USER@...\n"
           "                  user of the address of record sip:USER@<registrar IP>,\n"
           "                  default zol; a dialled number N calls sip:N@<registrar IP>\n"
           "  --sip-local IP[:PORT]\n"
           "                  SIP's own address, default 127.0.0.1 on any free port; RTP\n"
           "                  uses free ports on the same address\n"
           "  --sip-expires S registration expiry asked for, default 600; refreshed at half\n"
           "  --sip-timeout MS\n"
           "                  a request unanswered this long has failed, default 4000\n";
}

} // namespace zol::imsd::sip
