// Reading what arrives from the network: the parts of a request the SIP side
// acts on, taken from libre's parsed message. Everything here must cope with any
// message libre's parser lets through.
#ifndef ZOL_IMSD_SIP_INBOUND_H
#define ZOL_IMSD_SIP_INBOUND_H

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct sip_msg;

namespace zol::imsd::sip {

// The caller's identity: the user of P-Asserted-Identity (or the number of a
// tel URI there), else the user of From; "anonymous" when neither has one.
std::string caller_of(const sip_msg &msg);

// The From address as a URI to send requests back to ("sip:user@host").
std::string reply_uri_of(const sip_msg &msg);

// The message body, from the parser's position to its end.
std::span<const uint8_t> body_of(const sip_msg &msg);

bool has_content_type(const sip_msg &msg, const char *type, const char *subtype);

// The key of an application/dtmf-relay body ("Signal=5"), or nullopt.
std::optional<char> dtmf_relay_key(const sip_msg &msg);

} // namespace zol::imsd::sip

#endif
