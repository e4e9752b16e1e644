#include "names.h"

#include <cctype>
#include <charconv>

#include "ril.h"
#include "rild_numbers.h"

namespace zol_host {
namespace {

struct Name {
    int number;
    const char *name;
};

#define ZOL_HOST_NAME(x)                                                                           \
    {                                                                                              \
        x, #x                                                                                      \
    }

constexpr Name kRequests[] = {
    ZOL_HOST_NAME(RIL_REQUEST_GET_CURRENT_CALLS),
    ZOL_HOST_NAME(RIL_REQUEST_DIAL),
    ZOL_HOST_NAME(RIL_REQUEST_HANGUP),
    ZOL_HOST_NAME(RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND),
    ZOL_HOST_NAME(RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND),
    ZOL_HOST_NAME(RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE),
    ZOL_HOST_NAME(RIL_REQUEST_UDUB),
    ZOL_HOST_NAME(RIL_REQUEST_LAST_CALL_FAIL_CAUSE),
    ZOL_HOST_NAME(RIL_REQUEST_RADIO_POWER),
    ZOL_HOST_NAME(RIL_REQUEST_GET_CLIR),
    ZOL_HOST_NAME(RIL_REQUEST_SET_CLIR),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_CALL_FORWARD_STATUS),
    ZOL_HOST_NAME(RIL_REQUEST_SET_CALL_FORWARD),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_CALL_WAITING),
    ZOL_HOST_NAME(RIL_REQUEST_SET_CALL_WAITING),
    ZOL_HOST_NAME(RIL_REQUEST_SMS_ACKNOWLEDGE),
    ZOL_HOST_NAME(RIL_REQUEST_ANSWER),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_FACILITY_LOCK),
    ZOL_HOST_NAME(RIL_REQUEST_SET_FACILITY_LOCK),
    ZOL_HOST_NAME(RIL_REQUEST_DTMF_START),
    ZOL_HOST_NAME(RIL_REQUEST_DTMF_STOP),
    ZOL_HOST_NAME(RIL_REQUEST_SET_MUTE),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_CLIP),
    ZOL_HOST_NAME(RIL_REQUEST_SCREEN_STATE),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_REGISTRATION_STATE),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_SEND_SMS),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_MT_INVITE_RSP),
    ZOL_HOST_NAME(RIL_REQUEST_SET_COLP),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_COLP),
    ZOL_HOST_NAME(RIL_REQUEST_QUERY_COLR),
    ZOL_HOST_NAME(RIL_REQUEST_CALL_MODIFY),
    ZOL_HOST_NAME(RIL_REQUEST_CALL_MODIFY_RSP),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_GET_CONFIGRATION),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_SET_CONFIGRATION),
    ZOL_HOST_NAME(RIL_REQUEST_IMS_SET_REGISTRATION_STATE),
    // Classic requests a rild client sends that the module does not serve.
    {rild::kGetSimStatus, "RIL_REQUEST_GET_SIM_STATUS"},
    {rild::kGetImsi, "RIL_REQUEST_GET_IMSI"},
    ZOL_HOST_NAME(RIL_REQUEST_CONFERENCE),
    ZOL_HOST_NAME(RIL_REQUEST_SEPARATE_CONNECTION),
    {rild::kSignalStrength, "RIL_REQUEST_SIGNAL_STRENGTH"},
    {rild::kVoiceRegistrationState, "RIL_REQUEST_VOICE_REGISTRATION_STATE"},
    {rild::kDataRegistrationState, "RIL_REQUEST_DATA_REGISTRATION_STATE"},
    {rild::kOperator, "RIL_REQUEST_OPERATOR"},
    {rild::kDtmf, "RIL_REQUEST_DTMF"},
    {rild::kSendSms, "RIL_REQUEST_SEND_SMS"},
    {rild::kSendSmsExpectMore, "RIL_REQUEST_SEND_SMS_EXPECT_MORE"},
    {rild::kSimIo, "RIL_REQUEST_SIM_IO"},
    {rild::kGetImei, "RIL_REQUEST_GET_IMEI"},
    {rild::kGetImeisv, "RIL_REQUEST_GET_IMEISV"},
    {rild::kQueryNetworkSelectionMode, "RIL_REQUEST_QUERY_NETWORK_SELECTION_MODE"},
    {rild::kSetNetworkSelectionAutomatic, "RIL_REQUEST_SET_NETWORK_SELECTION_AUTOMATIC"},
    {rild::kBasebandVersion, "RIL_REQUEST_BASEBAND_VERSION"},
    {rild::kGetMute, "RIL_REQUEST_GET_MUTE"},
    {rild::kDataCallList, "RIL_REQUEST_DATA_CALL_LIST"},
    {rild::kSetSuppSvcNotification, "RIL_REQUEST_SET_SUPP_SVC_NOTIFICATION"},
    {rild::kSetPreferredNetworkType, "RIL_REQUEST_SET_PREFERRED_NETWORK_TYPE"},
    {rild::kGetPreferredNetworkType, "RIL_REQUEST_GET_PREFERRED_NETWORK_TYPE"},
    {rild::kSetLocationUpdates, "RIL_REQUEST_SET_LOCATION_UPDATES"},
    {rild::kGetSmscAddress, "RIL_REQUEST_GET_SMSC_ADDRESS"},
    {rild::kSetSmscAddress, "RIL_REQUEST_SET_SMSC_ADDRESS"},
    {rild::kReportSmsMemoryStatus, "RIL_REQUEST_REPORT_SMS_MEMORY_STATUS"},
    {rild::kReportStkServiceIsRunning, "RIL_REQUEST_REPORT_STK_SERVICE_IS_RUNNING"},
    {rild::kVoiceRadioTech, "RIL_REQUEST_VOICE_RADIO_TECH"},
};

constexpr Name kUnsols[] = {
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED),
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_NEW_SMS),
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT),
    ZOL_HOST_NAME(RIL_UNSOL_SUPP_SVC_NOTIFICATION),
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED),
    ZOL_HOST_NAME(RIL_UNSOL_IMS_MT_INVITE),
    ZOL_HOST_NAME(RIL_UNSOL_CALL_HOLD_NOTIFICATION),
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_SRVCC),
    ZOL_HOST_NAME(RIL_UNSOL_RESPONSE_CALL_MODIFY_IND),
    // Classic unsolicited responses zol-rild sends on its own.
    {rild::kRadioStateChanged, "RIL_UNSOL_RESPONSE_RADIO_STATE_CHANGED"},
    {rild::kVoiceNetworkStateChanged, "RIL_UNSOL_RESPONSE_VOICE_NETWORK_STATE_CHANGED"},
    {rild::kRilConnected, "RIL_UNSOL_RIL_CONNECTED"},
};

struct ErrnoName {
    int number;
    const char *enum_name;
    const char *display;
};

#define ZOL_HOST_ERRNO(x, display)                                                                 \
    {                                                                                              \
        x, #x, display                                                                             \
    }

constexpr ErrnoName kErrnos[] = {
    ZOL_HOST_ERRNO(RIL_E_SUCCESS, "Success"),
    ZOL_HOST_ERRNO(RIL_E_RADIO_NOT_AVAILABLE, "Radio Not Available"),
    ZOL_HOST_ERRNO(RIL_E_GENERIC_FAILURE, "Generic Failure"),
    ZOL_HOST_ERRNO(RIL_E_PASSWORD_INCORRECT, "Password Incorrect"),
    ZOL_HOST_ERRNO(RIL_E_SIM_PIN2, "SIM Pin2"),
    ZOL_HOST_ERRNO(RIL_E_SIM_PUK2, "SIM Puk2"),
    ZOL_HOST_ERRNO(RIL_E_REQUEST_NOT_SUPPORTED, "Request Not Supported"),
    ZOL_HOST_ERRNO(RIL_E_CANCELLED, "Cancelled"),
    ZOL_HOST_ERRNO(RIL_E_OP_NOT_ALLOWED_DURING_VOICE_CALL, "OP Not Allowed During Voice Call"),
    ZOL_HOST_ERRNO(RIL_E_OP_NOT_ALLOWED_BEFORE_REG_TO_NW, "OP Not Allowed Before Reg To NW"),
    ZOL_HOST_ERRNO(RIL_E_SMS_SEND_FAIL_RETRY, "SMS Send Fail Retry"),
    ZOL_HOST_ERRNO(RIL_E_SIM_ABSENT, "SIM Absent"),
    ZOL_HOST_ERRNO(RIL_E_SUBSCRIPTION_NOT_AVAILABLE, "Subscription Not Available"),
    ZOL_HOST_ERRNO(RIL_E_MODE_NOT_SUPPORTED, "Mode Not Supported"),
    ZOL_HOST_ERRNO(RIL_E_FDN_CHECK_FAILURE, "FDN Check Failure"),
    ZOL_HOST_ERRNO(RIL_E_ILLEGAL_SIM_OR_ME, "Illegal SIM Or ME"),
    ZOL_HOST_ERRNO(RIL_E_SETUP_DATA_CALL_FAILURE, "Setup Data Call Failure"),
    ZOL_HOST_ERRNO(RIL_E_DIAL_MODIFIED_TO_USSD, "Dial Modified To USSD"),
    ZOL_HOST_ERRNO(RIL_E_DIAL_MODIFIED_TO_SS, "Dial Modified To SS"),
    ZOL_HOST_ERRNO(RIL_E_DIAL_MODIFIED_TO_DIAL, "Dial Modified To DIAL"),
    ZOL_HOST_ERRNO(RIL_E_USSD_MODIFIED_TO_DIAL, "USSD Modified To DIAL"),
    ZOL_HOST_ERRNO(RIL_E_USSD_MODIFIED_TO_SS, "USSD Modified To SS"),
    ZOL_HOST_ERRNO(RIL_E_USSD_MODIFIED_TO_USSD, "USSD Modified To USSD"),
    ZOL_HOST_ERRNO(RIL_E_SS_MODIFIED_TO_DIAL, "SS Modified To DIAL"),
    ZOL_HOST_ERRNO(RIL_E_SS_MODIFIED_TO_USSD, "SS Modified To USSD"),
    ZOL_HOST_ERRNO(RIL_E_SS_MODIFIED_TO_SS, "SS Modified To SS"),
    ZOL_HOST_ERRNO(RIL_E_SUBSCRIPTION_NOT_SUPPORTED, "Subscription Not Supported"),
};

constexpr const char *kCallStates[] = {"active",   "holding",  "dialing",
                                       "alerting", "incoming", "waiting"};

#undef ZOL_HOST_NAME
#undef ZOL_HOST_ERRNO

// Upper case with spaces and dashes folded into underscores, so that
// "Generic Failure", "generic-failure" and "GENERIC_FAILURE" compare equal.
std::string fold(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        out += (c == ' ' || c == '-') ? '_' : static_cast<char>(std::toupper(u));
    }
    return out;
}

std::string_view without_prefix(std::string_view text, std::string_view prefix)
{
    return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

template <size_t N>
const char *find_name(const Name (&table)[N], int number)
{
    for (const Name &row : table) {
        if (row.number == number) {
            return row.name;
        }
    }
    return nullptr;
}

template <size_t N>
std::optional<int> find_number(const Name (&table)[N], std::string_view text,
                               std::string_view prefix)
{
    if (const auto n = parse_int(text)) {
        return n;
    }
    const std::string want = fold(text);
    for (const Name &row : table) {
        const std::string_view name = row.name;
        if (want == name || want == without_prefix(name, prefix)) {
            return row.number;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<int> parse_int(std::string_view text)
{
    int value = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::string request_name(int request)
{
    const char *name = find_name(kRequests, request);
    return name != nullptr ? name : "RIL_REQUEST_" + std::to_string(request);
}

std::string unsol_name(int unsol)
{
    const char *name = find_name(kUnsols, unsol);
    return name != nullptr ? name : "RIL_UNSOL_" + std::to_string(unsol);
}

std::string errno_name(int error)
{
    for (const ErrnoName &row : kErrnos) {
        if (row.number == error) {
            return row.display;
        }
    }
    return "error " + std::to_string(error);
}

std::string call_state_name(int state)
{
    constexpr int count = static_cast<int>(std::size(kCallStates));
    return state >= 0 && state < count ? kCallStates[state] : std::to_string(state);
}

std::optional<int> parse_request(std::string_view text)
{
    return find_number(kRequests, text, "RIL_REQUEST_");
}

std::optional<int> parse_unsol(std::string_view text)
{
    return find_number(kUnsols, text, "RIL_UNSOL_");
}

std::optional<int> parse_errno(std::string_view text)
{
    if (const auto n = parse_int(text)) {
        return n;
    }
    const std::string want = fold(text);
    for (const ErrnoName &row : kErrnos) {
        if (want == row.enum_name || want == without_prefix(row.enum_name, "RIL_E_") ||
            want == fold(row.display)) {
            return row.number;
        }
    }
    return std::nullopt;
}

std::optional<int> parse_call_state(std::string_view text)
{
    if (const auto n = parse_int(text)) {
        return n;
    }
    for (int i = 0; i < static_cast<int>(std::size(kCallStates)); ++i) {
        if (fold(text) == fold(kCallStates[i])) {
            return i;
        }
    }
    return std::nullopt;
}

} // namespace zol_host
