// Diagnostics: formatting and writing log lines, assertion reports, the
// call-flow hook, and the tables that turn numbers into names.
#include <android/log.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/zol_messages.h"
#include "log/zol_diag.h"
#include "zol/zol_log.h"

namespace {

struct EventName {
    int32_t id;
    const char *name;
};

// The stack's names of its messages; the three it does not name are left out.
constexpr EventName kStackEventNames[] = {
#define ZOL_EVENT_NAME(name, wire, handler) {ZOL_STACK_EVENT_BASE + (wire), "eTKM_" #name},
    ZOL_DISPATCH_LIST(ZOL_SKIP_REQUEST, ZOL_EVENT_NAME, ZOL_SKIP_EVENT)
#undef ZOL_EVENT_NAME
};
static_assert(std::size(kStackEventNames) == 27);

constexpr const char *kErrnoNames[] = {
    "Success",
    "Radio Not Available",
    "Generic Failure",
    "Password Incorrect",
    "SIM Pin2",
    "SIM Puk2",
    "Request Not Supported",
    "Cancelled",
    "OP Not Allowed During Voice Call",
    "OP Not Allowed Before Reg To NW",
    "SMS Send Fail Retry",
    "SIM Absent",
    "Subscription Not Available",
    "Mode Not Supported",
    "FDN Check Failure",
    "Illegal SIM Or ME",
    "Setup Data Call Failure",
    "Dial Modified To USSD",
    "Dial Modified To SS",
    "Dial Modified To DIAL",
    "USSD Modified To DIAL",
    "USSD Modified To SS",
    "USSD Modified To USSD",
    "SS Modified To DIAL",
    "SS Modified To USSD",
    "SS Modified To SS",
    "Subscription Not Supported",
};
constexpr int32_t kErrnoNameCount = sizeof(kErrnoNames) / sizeof(kErrnoNames[0]);
static_assert(kErrnoNameCount == 27);

// Levels 0 and 1 are errors, 2 to 4 debug trace.
int priority_of(uint32_t level)
{
    return level <= ZOL_LOG_ASSERT ? ANDROID_LOG_ERROR : ANDROID_LOG_DEBUG;
}

} // namespace

extern "C" {

const zol_log_name_entry_type zol_log_request_names[ZOL_REQUEST_NAME_ROWS] = {
    {1, "RIL_REQUEST_GET_SIM_STATUS"},
    {2, "RIL_REQUEST_ENTER_SIM_PIN"},
    {3, "RIL_REQUEST_ENTER_SIM_PUK"},
    {4, "RIL_REQUEST_ENTER_SIM_PIN2"},
    {5, "RIL_REQUEST_ENTER_SIM_PUK2"},
    {6, "RIL_REQUEST_CHANGE_SIM_PIN"},
    {7, "RIL_REQUEST_CHANGE_SIM_PIN2"},
    {9, "RIL_REQUEST_GET_CURRENT_CALLS"},
    {10, "RIL_REQUEST_DIAL"},
    {11, "RIL_REQUEST_GET_IMSI"},
    {12, "RIL_REQUEST_HANGUP"},
    {13, "RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND"},
    {14, "RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND"},
    {15, "RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE"},
    {16, "RIL_REQUEST_CONFERENCE"},
    {17, "RIL_REQUEST_UDUB"},
    {18, "RIL_REQUEST_LAST_CALL_FAIL_CAUSE"},
    {19, "RIL_REQUEST_SIGNAL_STRENGTH"},
    {21, "RIL_REQUEST_DATA_REGISTRATION_STATE"},
    {22, "RIL_REQUEST_OPERATOR"},
    {23, "RIL_REQUEST_RADIO_POWER"},
    {24, "RIL_REQUEST_DTMF"},
    {25, "RIL_REQUEST_SEND_SMS"},
    {26, "RIL_REQUEST_SEND_SMS_EXPECT_MORE"},
    {27, "RIL_REQUEST_SETUP_DATA_CALL"},
    {28, "RIL_REQUEST_SIM_IO"},
    {29, "RIL_REQUEST_SEND_USSD"},
    {30, "RIL_REQUEST_CANCEL_USSD"},
    {31, "RIL_REQUEST_GET_CLIR"},
    {32, "RIL_REQUEST_SET_CLIR"},
    {33, "RIL_REQUEST_QUERY_CALL_FORWARD_STATUS"},
    {34, "RIL_REQUEST_SET_CALL_FORWARD"},
    {35, "RIL_REQUEST_QUERY_CALL_WAITING"},
    {36, "RIL_REQUEST_SET_CALL_WAITING"},
    {37, "RIL_REQUEST_SMS_ACKNOWLEDGE"},
    {38, "RIL_REQUEST_GET_IMEI"},
    {39, "RIL_REQUEST_GET_IMEISV"},
    {40, "RIL_REQUEST_ANSWER"},
    {41, "RIL_REQUEST_DEACTIVATE_DATA_CALL"},
    {42, "RIL_REQUEST_QUERY_FACILITY_LOCK"},
    {43, "RIL_REQUEST_SET_FACILITY_LOCK"},
    {44, "RIL_REQUEST_CHANGE_BARRING_PASSWORD"},
    {45, "RIL_REQUEST_QUERY_NETWORK_SELECTION_MODE"},
    {46, "RIL_REQUEST_SET_NETWORK_SELECTION_AUTOMATIC"},
    {47, "RIL_REQUEST_SET_NETWORK_SELECTION_MANUAL"},
    {48, "RIL_REQUEST_QUERY_AVAILABLE_NETWORKS"},
    {49, "RIL_REQUEST_DTMF_START"},
    {50, "RIL_REQUEST_DTMF_STOP"},
    {51, "RIL_REQUEST_BASEBAND_VERSION"},
    {52, "RIL_REQUEST_SEPARATE_CONNECTION"},
    {53, "RIL_REQUEST_SET_MUTE"},
    {54, "RIL_REQUEST_GET_MUTE"},
    {55, "RIL_REQUEST_QUERY_CLIP"},
    {56, "RIL_REQUEST_LAST_DATA_CALL_FAIL_CAUSE"},
    {57, "RIL_REQUEST_DATA_CALL_LIST"},
    {58, "RIL_REQUEST_RESET_RADIO"},
    {59, "RIL_REQUEST_OEM_HOOK_RAW"},
    {60, "RIL_REQUEST_OEM_HOOK_STRINGS"},
    {61, "RIL_REQUEST_SCREEN_STATE"},
    {62, "RIL_REQUEST_SET_SUPP_SVC_NOTIFICATION"},
    {63, "RIL_REQUEST_WRITE_SMS_TO_SIM"},
    {64, "RIL_REQUEST_DELETE_SMS_ON_SIM"},
    {65, "RIL_REQUEST_SET_BAND_MODE"},
    {66, "RIL_REQUEST_QUERY_AVAILABLE_BAND_MODE"},
    {67, "RIL_REQUEST_STK_GET_PROFILE"},
    {68, "RIL_REQUEST_STK_SET_PROFILE"},
    {69, "RIL_REQUEST_STK_SEND_ENVELOPE_COMMAND"},
    {70, "RIL_REQUEST_STK_SEND_TERMINAL_RESPONSE"},
    {71, "RIL_REQUEST_STK_HANDLE_CALL_SETUP_REQUESTED_FROM_SIM"},
    {72, "RIL_REQUEST_EXPLICIT_CALL_TRANSFER"},
    {73, "RIL_REQUEST_SET_PREFERRED_NETWORK_TYPE"},
    {74, "RIL_REQUEST_GET_PREFERRED_NETWORK_TYPE"},
    {75, "RIL_REQUEST_GET_NEIGHBORING_CELL_IDS"},
    {76, "RIL_REQUEST_SET_LOCATION_UPDATES"},
    {77, "RIL_REQUEST_CDMA_SET_SUBSCRIPTION_SOURCE"},
    {78, "RIL_REQUEST_CDMA_SET_ROAMING_PREFERENCE"},
    {79, "RIL_REQUEST_CDMA_QUERY_ROAMING_PREFERENCE"},
    {80, "RIL_REQUEST_SET_TTY_MODE"},
    {81, "RIL_REQUEST_QUERY_TTY_MODE"},
    {82, "RIL_REQUEST_CDMA_SET_PREFERRED_VOICE_PRIVACY_MODE"},
    {83, "RIL_REQUEST_CDMA_QUERY_PREFERRED_VOICE_PRIVACY_MODE"},
    {84, "RIL_REQUEST_CDMA_FLASH"},
    {85, "RIL_REQUEST_CDMA_BURST_DTMF"},
    {86, "RIL_REQUEST_CDMA_VALIDATE_AND_WRITE_AKEY"},
    {87, "RIL_REQUEST_CDMA_SEND_SMS"},
    {88, "RIL_REQUEST_CDMA_SMS_ACKNOWLEDGE"},
    {89, "RIL_REQUEST_GSM_GET_BROADCAST_SMS_CONFIG"},
    {90, "RIL_REQUEST_GSM_SET_BROADCAST_SMS_CONFIG"},
    {91, "RIL_REQUEST_GSM_SMS_BROADCAST_ACTIVATION"},
    {92, "RIL_REQUEST_CDMA_GET_BROADCAST_SMS_CONFIG"},
    {93, "RIL_REQUEST_CDMA_SET_BROADCAST_SMS_CONFIG"},
    {94, "RIL_REQUEST_CDMA_SMS_BROADCAST_ACTIVATION"},
    {95, "RIL_REQUEST_CDMA_SUBSCRIPTION"},
    {96, "RIL_REQUEST_CDMA_WRITE_SMS_TO_RUIM"},
    {97, "RIL_REQUEST_CDMA_DELETE_SMS_ON_RUIM"},
    {98, "RIL_REQUEST_DEVICE_IDENTITY"},
    {99, "RIL_REQUEST_EXIT_EMERGENCY_CALLBACK_MODE"},
    {100, "RIL_REQUEST_GET_SMSC_ADDRESS"},
    {101, "RIL_REQUEST_SET_SMSC_ADDRESS"},
    {102, "RIL_REQUEST_REPORT_SMS_MEMORY_STATUS"},
    {103, "RIL_REQUEST_REPORT_STK_SERVICE_IS_RUNNING"},
    {104, "RIL_REQUEST_CDMA_GET_SUBSCRIPTION_SOURCE"},
    {105, "RIL_REQUEST_ISIM_AUTHENTICATION"},
    {108, "RIL_REQUEST_VOICE_RADIO_TECH"},
    {112, "RIL_REQUEST_IMS_REGISTRATION_STATE"},
    {113, "RIL_REQUEST_IMS_SEND_SMS"},
    {333, "RIL_REQUEST_CALL_MODIFY"},
    {334, "RIL_REQUEST_CALL_MODIFY_RSP"},
    {336, "RIL_REQUEST_IMS_GET_CONFIGRATION"},
    {337, "RIL_REQUEST_IMS_SET_CONFIGRATION"},
    {338, "RIL_REQUEST_IMS_SET_REGISTRATION_STATE"},
    {400, "RIL_REQUEST_UNKOWN"},
};

const zol_log_name_entry_type zol_log_unsol_names[ZOL_UNSOL_NAME_ROWS] = {
    {1000, "RIL_UNSOL_RESPONSE_RADIO_STATE_CHANGED"},
    {1001, "RIL_UNSOL_RESPONSE_CALL_STATE_CHANGED"},
    {1003, "RIL_UNSOL_RESPONSE_NEW_SMS"},
    {1004, "RIL_UNSOL_RESPONSE_NEW_SMS_STATUS_REPORT"},
    {1005, "RIL_UNSOL_RESPONSE_NEW_SMS_ON_SIM"},
    {1006, "RIL_UNSOL_ON_USSD"},
    {1007, "RIL_UNSOL_ON_USSD_REQUEST"},
    {1008, "RIL_UNSOL_NITZ_TIME_RECEIVED"},
    {1009, "RIL_UNSOL_SIGNAL_STRENGTH"},
    {1010, "RIL_UNSOL_DATA_CALL_LIST_CHANGED"},
    {1011, "RIL_UNSOL_SUPP_SVC_NOTIFICATION"},
    {1012, "RIL_UNSOL_STK_SESSION_END"},
    {1013, "RIL_UNSOL_STK_PROACTIVE_COMMAND"},
    {1014, "RIL_UNSOL_STK_EVENT_NOTIFY"},
    {1015, "RIL_UNSOL_STK_CALL_SETUP"},
    {1016, "RIL_UNSOL_SIM_SMS_STORAGE_FULL"},
    {1017, "RIL_UNSOL_SIM_REFRESH"},
    {1018, "RIL_UNSOL_CALL_RING"},
    {1019, "RIL_UNSOL_RESPONSE_SIM_STATUS_CHANGED"},
    {1020, "RIL_UNSOL_RESPONSE_CDMA_NEW_SMS"},
    {1021, "RIL_UNSOL_RESPONSE_NEW_BROADCAST_SMS"},
    {1022, "RIL_UNSOL_CDMA_RUIM_SMS_STORAGE_FULL"},
    {1023, "RIL_UNSOL_RESTRICTED_STATE_CHANGED"},
    {1024, "RIL_UNSOL_ENTER_EMERGENCY_CALLBACK_MODE"},
    {1025, "RIL_UNSOL_CDMA_CALL_WAITING"},
    {1026, "RIL_UNSOL_CDMA_OTA_PROVISION_STATUS"},
    {1027, "RIL_UNSOL_CDMA_INFO_REC"},
    {1028, "RIL_UNSOL_OEM_HOOK_RAW"},
    {1029, "RIL_UNSOL_RINGBACK_TONE"},
    {1030, "RIL_UNSOL_RESEND_INCALL_MUTE"},
    {1031, "RIL_UNSOL_CDMA_SUBSCRIPTION_SOURCE_CHANGED"},
    {1032, "RIL_UNSOL_CDMA_PRL_CHANGED"},
    {1033, "RIL_UNSOL_EXIT_EMERGENCY_CALLBACK_MODE"},
    {1034, "RIL_UNSOL_RIL_CONNECTED"},
    {1035, "RIL_UNSOL_VOICE_RADIO_TECH_CHANGED"},
    {1037, "RIL_UNSOL_RESPONSE_IMS_NETWORK_STATE_CHANGED"},
    {1055, "RIL_UNSOL_RESPONSE_SRVCC"},
    {1056, "RIL_UNSOL_RESPONSE_CALL_MODIFY_IND"},
    {1101, "RIL_UNSOL_UNKOWN"},
};

void zol_format_log_msg(char *buf_ptr, int32_t buf_size, const char *fmt, ...)
{
    bool ok = ::zol::check(buf_ptr != nullptr, "buf_ptr != ((void *)0)");
    ok = ::zol::check(buf_size > 0, "buf_size > 0") && ok;
    if (!ok || fmt == nullptr) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf_ptr, static_cast<size_t>(buf_size), fmt, ap);
    va_end(ap);
}

void zol_log_msg_to_adb(uint32_t level, const char *text)
{
    if (level > ZOL_LOG_STARTUP || text == nullptr) {
        return;
    }
    __android_log_buf_print(LOG_ID_RADIO, priority_of(level), ZOL_LOG_TAG, "%s", text);
}

void zol_log_assert_failed(const char *cond_text)
{
    ZOL_LOG(ZOL_LOG_ASSERT, "%s", "*****ASSERTION FAILED*****");
    ZOL_LOG(ZOL_LOG_ASSERT, "Cond: %s", cond_text != nullptr ? cond_text : "");
    ZOL_LOG(ZOL_LOG_ASSERT, "%s", "**************************");
}

int zol_log_call_flow_packet(int from, int to, int unsol, const char *text)
{
    // The single place a call-flow trace would be produced; nothing consumes it here.
    (void)from;
    (void)to;
    (void)unsol;
    return text != nullptr ? static_cast<int>(strlen(text)) : 0;
}

int32_t zol_log_get_token_id(RIL_Token t)
{
    if (t == nullptr) {
        return 65534;
    }
    if (t == ZOL_EVENT_TOKEN) {
        return 65535;
    }
    int32_t id;
    memcpy(&id, t, sizeof id);
    return id;
}

const char *zol_log_lookup_errno_name(int32_t code)
{
    return code >= 0 && code < kErrnoNameCount ? kErrnoNames[code] : "<RIL_ERRNO_UNKNOWN> ?";
}

int32_t zol_log_lookup_ril_event_index(int32_t id, const zol_log_name_entry_type *table, int32_t lo,
                                       int32_t hi)
{
    const int32_t last = hi;
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (table[mid].id == id) {
            return mid;
        }
        if (table[mid].id > id) {
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    return last;
}

const char *zol_log_lookup_event_name(int32_t id)
{
    if (id < 1000) {
        return zol_log_request_names[zol_log_lookup_ril_event_index(id, zol_log_request_names, 0,
                                                                    ZOL_REQUEST_NAME_ROWS - 1)]
            .name;
    }
    if (id <= 65535) {
        return zol_log_unsol_names[zol_log_lookup_ril_event_index(id, zol_log_unsol_names, 0,
                                                                  ZOL_UNSOL_NAME_ROWS - 1)]
            .name;
    }
    if (id == ZOL_EVENT_NONE) {
        return "<none>";
    }
    for (const EventName &e : kStackEventNames) {
        if (e.id == id) {
            return e.name;
        }
    }
    return "<Unknown event> ?";
}

} // extern "C"

namespace zol {

bool log_level_enabled(unsigned level)
{
    // The question __android_log_buf_print asks before it writes anything, with
    // the same default: a line it would drop is not worth formatting.
    return level <= ZOL_LOG_STARTUP &&
           __android_log_is_loggable(priority_of(level), ZOL_LOG_TAG, ANDROID_LOG_VERBOSE) != 0;
}

} // namespace zol
