// Names of the request, unsolicited-response, error and call-state numbers this
// host knows, and parsing of the forms a user may type for them.
#ifndef ZOL_HOST_NAMES_H
#define ZOL_HOST_NAMES_H

#include <optional>
#include <string>
#include <string_view>

namespace zol_host {

// "RIL_REQUEST_DIAL", or "RIL_REQUEST_<n>" for a number the host does not know.
std::string request_name(int request);
// "RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED", or "RIL_UNSOL_<n>".
std::string unsol_name(int unsol);
// "Request Not Supported", or "error <n>".
std::string errno_name(int error);
// "active", "holding", ... or the number itself.
std::string call_state_name(int state);

// A request or unsolicited number from its decimal form or its name (with or
// without the RIL_REQUEST_ / RIL_UNSOL_ prefix, any case).
std::optional<int> parse_request(std::string_view text);
std::optional<int> parse_unsol(std::string_view text);
// An error from its number, its enum name (SUCCESS, RIL_E_GENERIC_FAILURE) or its
// display name ("Generic Failure"); case, spaces and underscores do not matter.
std::optional<int> parse_errno(std::string_view text);
// A call state from its name or number.
std::optional<int> parse_call_state(std::string_view text);

// A whole decimal integer in int range; no sign-less garbage, no trailing text.
std::optional<int> parse_int(std::string_view text);

} // namespace zol_host

#endif
