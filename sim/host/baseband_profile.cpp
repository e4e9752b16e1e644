#include "baseband_profile.h"

#include <cstdio>
#include <cstdlib>

#include "parcel.h"
#include "ril.h"
#include "rild_numbers.h"

namespace zol_host {
namespace {

enum class Kind { Text, Number, Hex };

struct Row {
    const char *key;
    Kind kind;
    const char *value;
    const char *meaning;
};

// The baseband's values. A test network code (999 99) keeps clients from
// mistaking the simulation for a real operator.
constexpr Row kTable[] = {
    {"imsi", Kind::Text, "999990000000001", "subscriber identity (GET_IMSI)"},
    {"imei", Kind::Text, "356938035643809", "device identity (GET_IMEI)"},
    {"imeisv", Kind::Text, "01", "software version of the IMEI (GET_IMEISV)"},
    {"baseband_version", Kind::Text, "zol-sim baseband 1.0", "BASEBAND_VERSION"},
    {"usim_aid", Kind::Text, "a0000000871002ff49ff0589", "application id of the USIM"},
    {"usim_label", Kind::Text, "ZOL USIM", "label of the USIM"},
    {"sim_io_status", Kind::Hex, "6a82", "status words of every SIM file access (6a82: not found)"},
    {"operator_long", Kind::Text, "ZOL Simulated Network", "operator name, long form"},
    {"operator_short", Kind::Text, "ZOL", "operator name, short form"},
    {"operator_numeric", Kind::Text, "99999", "MCC and MNC"},
    {"registration", Kind::Number, "1", "voice and data registration: 1 home, 5 roaming, 0 none"},
    {"radio_tech", Kind::Number, "14", "radio technology of the registration: 14 LTE"},
    {"lac", Kind::Hex, "2a", "tracking area code"},
    {"cell_id", Kind::Hex, "1a2b3c", "cell identity"},
    {"lte_signal", Kind::Number, "99", "LTE signal strength (0..31, 99 unknown)"},
    {"lte_rsrp", Kind::Number, "80", "LTE RSRP in -dBm (44..140)"},
    {"lte_rsrq", Kind::Number, "10", "LTE RSRQ in -dB (3..20)"},
    {"lte_rssnr", Kind::Number, "100", "LTE RS-SNR in 0.1 dB (-200..300)"},
    {"preferred_network_type", Kind::Number, "9",
     "GET_PREFERRED_NETWORK_TYPE (9: LTE, GSM, WCDMA)"},
    {"smsc", Kind::Text, "+99900000000", "SMS service centre (GET_SMSC_ADDRESS)"},
    {"radio", Kind::Number, "0", "radio state at start: 0 off, 10 on"},
};

const Row *find_row(const std::string &key)
{
    for (const Row &r : kTable) {
        if (key == r.key) {
            return &r;
        }
    }
    return nullptr;
}

bool fits(Kind kind, const std::string &v)
{
    if (kind == Kind::Text) {
        return true;
    }
    if (v.empty() || v.size() > 9) {
        return false;
    }
    char *end = nullptr;
    if (kind == Kind::Hex) {
        (void)strtoul(v.c_str(), &end, 16);
    } else {
        (void)strtol(v.c_str(), &end, 10);
    }
    return *end == '\0';
}

std::string trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) {
        return {};
    }
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

bool is_sim_facility(const OptText &facility)
{
    // Call barring belongs to the network; every other facility is the SIM's.
    static const char *const kBarring[] = {"AO", "OI", "OX", "AI", "IR", "AB", "AG", "AC"};
    if (!facility) {
        return false;
    }
    for (const char *b : kBarring) {
        if (*facility == b) {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> int_array(std::initializer_list<int32_t> v)
{
    ParcelWriter w;
    w.ints(std::span<const int32_t>(v.begin(), v.size()));
    return w.take();
}

} // namespace

BasebandProfile::BasebandProfile()
{
    for (const Row &r : kTable) {
        values_[r.key] = r.value;
    }
    radio_state_ = number("radio") == rild::kRadioOn ? rild::kRadioOn : rild::kRadioOff;
}

bool BasebandProfile::load(const std::string &text, std::string &error)
{
    size_t line_no = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++line_no;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const size_t eq = line.find('=');
        const std::string key = eq == std::string::npos ? line : trim(line.substr(0, eq));
        const Row *row = find_row(key);
        if (eq == std::string::npos || row == nullptr) {
            error = "line " + std::to_string(line_no) +
                    (row == nullptr ? ": unknown key '" + key + "'" : ": expected key = value");
            return false;
        }
        const std::string v = trim(line.substr(eq + 1));
        if (!fits(row->kind, v)) {
            error = "line " + std::to_string(line_no) + ": " + key + " takes a " +
                    (row->kind == Kind::Hex ? "hexadecimal" : "decimal") + " number";
            return false;
        }
        values_[key] = v;
    }
    radio_state_ = number("radio") == rild::kRadioOn ? rild::kRadioOn : rild::kRadioOff;
    return true;
}

std::string BasebandProfile::describe() const
{
    std::string out = "# zol-rild baseband profile: key = value\n";
    for (const Row &r : kTable) {
        out += "\n# " + std::string(r.meaning) + "\n" + r.key + " = " + values_.at(r.key) + "\n";
    }
    return out;
}

std::string BasebandProfile::value(const std::string &key) const
{
    const auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

int BasebandProfile::number(const std::string &key) const
{
    const Row *row = find_row(key);
    const std::string v = value(key);
    return static_cast<int>(row != nullptr && row->kind == Kind::Hex
                                ? strtoul(v.c_str(), nullptr, 16)
                                : strtol(v.c_str(), nullptr, 10));
}

std::optional<LocalAnswer> BasebandProfile::answer(int request, std::span<const uint8_t> payload)
{
    using namespace rild;
    ParcelReader in(payload);
    LocalAnswer a;
    ParcelWriter w;
    const auto text = [&](const char *key) { return OptText(value(key)); };
    switch (request) {
    case kGetSimStatus:
        w.i32(kCardPresent);
        w.i32(kPinUnknown); // universal PIN
        w.i32(0);           // GSM/UMTS application index
        w.i32(-1);          // CDMA application index
        w.i32(-1);          // IMS application index
        w.i32(1);           // applications
        w.i32(kAppUsim);
        w.i32(kAppReady);
        w.i32(0); // personalisation substate
        w.text(text("usim_aid"));
        w.text(text("usim_label"));
        w.i32(0); // PIN1 replaced
        w.i32(kPinDisabled);
        w.i32(kPinUnknown);
        break;
    case kGetImsi:
        (void)in.texts(); // the application id, whichever the client names
        w.text(text("imsi"));
        break;
    case kGetImei:
        w.text(text("imei"));
        break;
    case kGetImeisv:
        w.text(text("imeisv"));
        break;
    case kBasebandVersion:
        w.text(text("baseband_version"));
        break;
    case kSimIo: {
        const int sw = number("sim_io_status");
        w.i32((sw >> 8) & 0xFF);
        w.i32(sw & 0xFF);
        w.text(std::nullopt);
        break;
    }
    case kVoiceRegistrationState:
    case kDataRegistrationState: {
        char lac[16];
        char cell[16];
        snprintf(lac, sizeof lac, "%x", number("lac"));
        snprintf(cell, sizeof cell, "%x", number("cell_id"));
        std::vector<OptText> fields = {std::to_string(number("registration")), lac, cell,
                                       std::to_string(number("radio_tech"))};
        if (request == kDataRegistrationState) {
            fields.push_back(std::nullopt); // reason for a denial
            fields.push_back("1");          // data calls at once
        }
        w.texts(fields);
        break;
    }
    case kOperator: {
        const std::vector<OptText> names = {text("operator_long"), text("operator_short"),
                                            text("operator_numeric")};
        w.texts(names);
        break;
    }
    case kSignalStrength:
        for (int32_t v : {99, 99,        // GSM signal and bit error rate: none
                          -1, -1,        // CDMA
                          -1, -1, -1}) { // EVDO
            w.i32(v);
        }
        w.i32(number("lte_signal"));
        w.i32(number("lte_rsrp"));
        w.i32(number("lte_rsrq"));
        w.i32(number("lte_rssnr"));
        w.i32(0x7FFFFFFF); // CQI unknown
        w.i32(0x7FFFFFFF); // timing advance unknown
        break;
    case kVoiceRadioTech:
        return LocalAnswer{0, int_array({number("radio_tech")}), {}, {}};
    case kGetPreferredNetworkType:
        return LocalAnswer{0, int_array({number("preferred_network_type")}), {}, {}};
    case kQueryNetworkSelectionMode:
        return LocalAnswer{0, int_array({0}), {}, {}}; // automatic
    case kGetMute:
        return LocalAnswer{0, int_array({mute_}), {}, {}};
    case kSetMute: {
        const auto v = in.ints();
        if (in.ok() && !v.empty()) {
            mute_ = v[0] != 0 ? 1 : 0;
        }
        break;
    }
    case kGetSmscAddress:
        w.text("\"" + value("smsc") + "\"," + (value("smsc").starts_with("+") ? "145" : "129"));
        break;
    case kSetSmscAddress: {
        // The client sends the address in quotes, as it gets it.
        OptText smsc = in.text();
        if (in.ok() && smsc) {
            std::string s = *smsc;
            const size_t q1 = s.find('"');
            const size_t q2 = q1 == std::string::npos ? q1 : s.find('"', q1 + 1);
            values_["smsc"] = q2 == std::string::npos ? s : s.substr(q1 + 1, q2 - q1 - 1);
        }
        break;
    }
    case kRadioPower: {
        const auto v = in.ints();
        if (!in.ok() || v.empty()) {
            a.problem = in.ok() ? "no power value" : in.problem();
            a.error = RIL_E_GENERIC_FAILURE;
            return a;
        }
        const int state = v[0] != 0 ? kRadioOn : kRadioOff;
        if (state != radio_state_) {
            radio_state_ = state;
            ParcelWriter s;
            s.i32(state);
            a.unsolicited.emplace_back(kRadioStateChanged, s.take());
            // Registration follows the radio: have the client read it again.
            a.unsolicited.emplace_back(kVoiceNetworkStateChanged, std::vector<uint8_t>{});
        }
        break;
    }
    case RIL_REQUEST_QUERY_FACILITY_LOCK: {
        const auto args = in.texts();
        if (!in.ok() || args.empty() || !is_sim_facility(args[0])) {
            return std::nullopt;
        }
        return LocalAnswer{0, int_array({0}), {}, {}}; // no SIM lock is enabled
    }
    case kSetSuppSvcNotification:
    case kScreenState:
    case kSetPreferredNetworkType:
    case kSetNetworkSelectionAutomatic:
    case kSetLocationUpdates:
    case kReportSmsMemoryStatus:
    case kReportStkServiceIsRunning:
        break; // taken note of; nothing to say back
    default:
        return std::nullopt;
    }
    if (!in.ok()) {
        a.problem = in.problem();
        a.error = RIL_E_GENERIC_FAILURE;
        return a;
    }
    a.payload = w.take();
    return a;
}

} // namespace zol_host
