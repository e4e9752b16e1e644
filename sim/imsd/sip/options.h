// Command-line options of zol-imsd's SIP side.
#ifndef ZOL_IMSD_SIP_OPTIONS_H
#define ZOL_IMSD_SIP_OPTIONS_H

#include <cstdint>
#include <string>

#include "timestamp.h"

namespace zol::imsd::sip {

// An IPv4 address and port, as given: addresses only, never host names, so
// that nothing is ever looked up.
struct Endpoint {
    std::string ip;
    uint16_t port = 0;
    std::string text() const;
};

struct SipOptions {
    bool enabled = false;                        // --sip-registrar was given
    Endpoint registrar;                          // registrar and outbound proxy
    std::string user = "zol";                    // user part of the address of record
    Endpoint local{"127.0.0.1", 0};              // SIP's own address; port 0: any free one
    uint32_t expires_s = 600;                    // asked for in REGISTER
    uint32_t timeout_ms = 4000;                  // a request unanswered this long has failed
    zol_sim::Clock clock = zol_sim::Clock::wall; // stamps the lines printed after the server stops

    // sip:user@registrar-address, the domain being the registrar's.
    std::string aor() const;
};

// Parses "a.b.c.d" or "a.b.c.d:port"; `default_port` when none is given.
bool parse_endpoint(const std::string &text, uint16_t default_port, Endpoint &out);

// Consumes argv[i] (and its value) when it is a SIP option: returns 1 when it
// was, 0 when it is not a SIP option, -1 with `error` set when it is one but
// malformed.
int parse_option(int argc, char **argv, int &i, SipOptions &options, std::string &error);

// The --help lines of the options above.
const char *usage();

} // namespace zol::imsd::sip

#endif
