#include "sip/inbound.h"

#include <string_view>

#include <re.h>

namespace zol::imsd::sip {

namespace {

std::string text_of(const pl &p)
{
    return p.p != nullptr ? std::string(p.p, p.l) : std::string();
}

// The number a URI names: its user part, or for a tel URI what follows the scheme.
std::string identity_in(const uri &u)
{
    if (pl_isset(&u.user)) {
        return text_of(u.user);
    }
    return pl_strcasecmp(&u.scheme, "tel") == 0 ? text_of(u.host) : std::string();
}

} // namespace

std::string caller_of(const sip_msg &msg)
{
    if (const sip_hdr *pai = sip_msg_hdr(&msg, SIP_HDR_P_ASSERTED_IDENTITY)) {
        sip_addr addr{};
        if (sip_addr_decode(&addr, &pai->val) == 0) {
            if (std::string id = identity_in(addr.uri); !id.empty()) {
                return id;
            }
        }
    }
    std::string id = identity_in(msg.from.uri);
    return id.empty() ? "anonymous" : id;
}

std::string reply_uri_of(const sip_msg &msg)
{
    return text_of(msg.from.auri);
}

std::span<const uint8_t> body_of(const sip_msg &msg)
{
    if (msg.mb == nullptr) {
        return {};
    }
    return {mbuf_buf(msg.mb), mbuf_get_left(msg.mb)};
}

bool has_content_type(const sip_msg &msg, const char *type, const char *subtype)
{
    return msg_ctype_cmp(&msg.ctyp, type, subtype);
}

std::optional<char> dtmf_relay_key(const sip_msg &msg)
{
    if (!has_content_type(msg, "application", "dtmf-relay")) {
        return std::nullopt;
    }
    const std::span<const uint8_t> body = body_of(msg);
    const std::string_view text(reinterpret_cast<const char *>(body.data()), body.size());
    const size_t at = text.find("Signal=");
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t key = text.find_first_not_of(' ', at + 7);
    if (key == std::string_view::npos ||
        std::string_view("0123456789*#ABCDabcd").find(text[key]) == std::string_view::npos) {
        return std::nullopt;
    }
    return text[key];
}

} // namespace zol::imsd::sip
