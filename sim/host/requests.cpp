#include "requests.h"

#include <algorithm>

#include "names.h"
#include "ril.h"

namespace zol_host {
namespace {

using Args = std::vector<Word>;

// Each builder checks the count of its arguments first; these give the reasons.
std::string count_between(const Args &a, size_t low, size_t high)
{
    if (a.size() < low) {
        return "too few arguments";
    }
    if (a.size() > high) {
        return "too many arguments";
    }
    return {};
}

// Whole decimal ints, or the reason naming the first that is not one.
std::string ints_of(const Args &a, size_t from, size_t to, std::vector<int> &values)
{
    for (size_t i = from; i < to && i < a.size(); ++i) {
        const auto n = parse_int(a[i].text);
        if (!n) {
            return "'" + a[i].text + "' is not a number";
        }
        values.push_back(*n);
    }
    return {};
}

// An int argument, or the fallback when it is absent.
std::string int_or(const Args &a, size_t i, int fallback, int &value)
{
    if (i >= a.size()) {
        value = fallback;
        return {};
    }
    std::vector<int> v;
    std::string e = ints_of(a, i, i + 1, v);
    value = v.empty() ? fallback : v[0];
    return e;
}

// A text argument where an unquoted - (or null) gives a null pointer.
OptText text_or_dash(const Word &w)
{
    return !w.quoted && w.text == "-" ? std::nullopt : text_or_null(w);
}

// A key=value option, the value possibly quoted; false when the word is not of that key.
bool option(const Word &w, std::string_view key, std::string &value)
{
    if (!w.raw.starts_with(key) || w.raw.size() <= key.size() || w.raw[key.size()] != '=') {
        return false;
    }
    value = w.text.substr(key.size() + 1);
    return true;
}

std::string build_none(const Args &a, Outgoing &out)
{
    out.data = RequestData::none();
    return a.empty() ? "" : "takes no arguments";
}

// Builders for int arrays of a fixed number of values, with defaults after the
// required ones; Android's host sends the whole array whether given or not.
template <size_t Required, int... Defaults>
std::string build_ints(const Args &a, Outgoing &out)
{
    const std::vector<int> defaults{Defaults...};
    const size_t total = Required + defaults.size();
    if (std::string e = count_between(a, Required, total); !e.empty()) {
        return e;
    }
    std::vector<int> values;
    if (std::string e = ints_of(a, 0, a.size(), values); !e.empty()) {
        return e;
    }
    const size_t given_defaults = values.size() - Required;
    values.insert(values.end(), defaults.begin() + static_cast<std::ptrdiff_t>(given_defaults),
                  defaults.end());
    out.data = RequestData::ints(values);
    return {};
}

std::string build_dial(const Args &a, Outgoing &out)
{
    if (a.empty()) {
        return "no number";
    }
    int kind = 0;
    int call_type = 0;
    for (size_t i = 1; i < a.size(); ++i) {
        std::string value;
        if (a[i].text == "video" && !a[i].quoted) {
            call_type = 3;
        } else if (a[i].text == "conference" && !a[i].quoted) {
            kind = 1;
        } else if (option(a[i], "calltype", value) || option(a[i], "kind", value)) {
            const auto n = parse_int(value);
            if (!n) {
                return "'" + a[i].text + "' needs a number";
            }
            (a[i].text.starts_with("kind") ? kind : call_type) = *n;
        } else {
            return "unknown option '" + a[i].text + "'";
        }
    }
    out.data = RequestData::dial(a[0].text, kind, call_type);
    return {};
}

// Answer's call type is optional: without it the request carries no data at all.
std::string build_answer(const Args &a, Outgoing &out)
{
    if (a.empty()) {
        out.data = RequestData::none();
        return {};
    }
    return build_ints<1>(a, out);
}

std::string build_dtmf(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 1, 1); !e.empty()) {
        return e;
    }
    if (a[0].text.size() != 1) {
        return "the tone is one character, got '" + a[0].text + "'";
    }
    out.data = RequestData::text(a[0].text);
    return {};
}

std::string build_sms_send(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 2, 3); !e.empty()) {
        return e;
    }
    int ref = 0;
    if (std::string e = int_or(a, 2, 0, ref); !e.empty()) {
        return e;
    }
    out.data = RequestData::ims_sms(text_or_dash(a[0]), a[1].text, ref);
    return {};
}

// The query Android's host sends: status 2, no number (type of address 129).
std::string build_cf_query(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 1, 2); !e.empty()) {
        return e;
    }
    std::vector<int> v;
    if (std::string e = ints_of(a, 0, 2, v); !e.empty()) {
        return e;
    }
    const RIL_CallForwardInfo info{2, v[0], v.size() > 1 ? v[1] : 0, 129, nullptr, 0, nullptr};
    out.data = RequestData::call_forward(info, std::nullopt, std::nullopt);
    return {};
}

std::string build_cf_set(const Args &a, Outgoing &out)
{
    if (a.size() < 4) {
        return "too few arguments";
    }
    std::vector<int> v;
    if (std::string e = ints_of(a, 0, 3, v); !e.empty()) {
        return e;
    }
    const OptText number = text_or_dash(a[3]);
    // International numbers go as type 145, as the handset's phone app marks them.
    int toa = number && number->starts_with('+') ? 145 : 129;
    int time = 0;
    OptText interval;
    bool have_time = false;
    for (size_t i = 4; i < a.size(); ++i) {
        std::string value;
        if (option(a[i], "toa", value)) {
            const auto n = parse_int(value);
            if (!n) {
                return "'" + a[i].text + "' needs a number";
            }
            toa = *n;
        } else if (option(a[i], "interval", value)) {
            interval = value;
        } else if (const auto n = parse_int(a[i].text); n && !have_time) {
            time = *n;
            have_time = true;
        } else {
            return "unknown option '" + a[i].text + "'";
        }
    }
    const RIL_CallForwardInfo info{v[0], v[1], v[2], toa, nullptr, time, nullptr};
    out.data = RequestData::call_forward(info, number, interval);
    return {};
}

// Facility, password, service class and application id, as Android's host
// sends a facility query.
std::string build_facility_query(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 3, 3); !e.empty()) {
        return e;
    }
    out.data = RequestData::strings(
        {text_or_null(a[0]), text_or_null(a[1]), text_or_null(a[2]), std::nullopt});
    return {};
}

// Android's five texts (facility, lock, password, class, application id) and a
// sixth: this module reads its password from text 5.
std::string build_facility_set(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 4, 4); !e.empty()) {
        return e;
    }
    const OptText password = text_or_null(a[2]);
    out.data = RequestData::strings({text_or_null(a[0]), text_or_null(a[1]), password,
                                     text_or_null(a[3]), std::nullopt, password});
    return {};
}

std::string build_config_get(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 1, 1); !e.empty()) {
        return e;
    }
    out.data = RequestData::strings({text_or_null(a[0])});
    return {};
}

std::string build_config_set(const Args &a, Outgoing &out)
{
    if (std::string e = count_between(a, 2, 2); !e.empty()) {
        return e;
    }
    out.data = RequestData::strings({text_or_null(a[0]), text_or_null(a[1])});
    return {};
}

// Any request by number or name, with data of a plain shape.
std::string build_raw(const Args &a, Outgoing &out)
{
    if (a.empty()) {
        return "no request";
    }
    const auto n = parse_request(a[0].text);
    if (!n) {
        return "unknown request '" + a[0].text + "'";
    }
    out.request = *n;
    const std::string form = a.size() > 1 ? a[1].text : "";
    const Args rest(a.begin() + std::min<size_t>(a.size(), 2), a.end());
    if (a.size() == 1) {
        out.data = RequestData::none();
    } else if (form == "empty" && rest.empty()) {
        out.data = RequestData::empty();
    } else if (form == "ints") {
        std::vector<int> values;
        if (std::string e = ints_of(rest, 0, rest.size(), values); !e.empty()) {
            return e;
        }
        out.data = RequestData::ints(values);
    } else if (form == "strings") {
        std::vector<OptText> texts;
        for (const Word &w : rest) {
            texts.push_back(text_or_null(w));
        }
        out.data = RequestData::strings(texts);
    } else if (form == "text" && rest.size() == 1) {
        out.data = RequestData::text(rest[0].text);
    } else {
        return "unknown data '" + form + "'";
    }
    return {};
}

// One row per request; the console lists them in this order.
constexpr RequestCommand kCommands[] = {
    {"calls", "", "get the current calls and show them", RIL_REQUEST_GET_CURRENT_CALLS, build_none},
    {"dial", "<number> [video] [conference] [calltype=<n>] [kind=<n>]",
     "dial a number, or a conference with a participant list", RIL_REQUEST_DIAL, build_dial},
    {"answer", "[calltype]", "answer the incoming call (0 voice, 1-3 video)", RIL_REQUEST_ANSWER,
     build_answer},
    {"reject", "", "reject the incoming call (UDUB)", RIL_REQUEST_UDUB, build_none},
    {"invite-response", "<callid> <accept>", "accept (1) or refuse (0) an invitation",
     RIL_REQUEST_IMS_MT_INVITE_RSP, build_ints<2>},
    {"hangup", "<index>", "hang up the call with this connection index", RIL_REQUEST_HANGUP,
     build_ints<1>},
    {"hangup-background", "", "hang up the waiting or background calls",
     RIL_REQUEST_HANGUP_WAITING_OR_BACKGROUND, build_none},
    {"hangup-foreground", "", "hang up the foreground calls, resume the background",
     RIL_REQUEST_HANGUP_FOREGROUND_RESUME_BACKGROUND, build_none},
    {"swap", "", "switch the waiting or held call and the active one",
     RIL_REQUEST_SWITCH_WAITING_OR_HOLDING_AND_ACTIVE, build_none},
    {"last-fail-cause", "", "the cause of the last call end", RIL_REQUEST_LAST_CALL_FAIL_CAUSE,
     build_none},
    {"dtmf-start", "<c>", "start the DTMF tone c", RIL_REQUEST_DTMF_START, build_dtmf},
    {"dtmf-stop", "", "stop the DTMF tone", RIL_REQUEST_DTMF_STOP, build_none},
    {"modify", "<callid> <calltype>", "ask to change a call's type", RIL_REQUEST_CALL_MODIFY,
     build_ints<2>},
    {"modify-response", "<callid> <calltype>", "answer the remote party's change",
     RIL_REQUEST_CALL_MODIFY_RSP, build_ints<2>},
    {"ims-state", "", "IMS registration state", RIL_REQUEST_IMS_REGISTRATION_STATE, build_none},
    {"ims-set-state", "<n>", "ask for an IMS registration state",
     RIL_REQUEST_IMS_SET_REGISTRATION_STATE, build_ints<1>},
    {"ims-config-get", "<item>", "read an IMS configuration item", RIL_REQUEST_IMS_GET_CONFIGRATION,
     build_config_get},
    {"ims-config-set", "<item> <value>", "write an IMS configuration item",
     RIL_REQUEST_IMS_SET_CONFIGRATION, build_config_set},
    {"sms-send", "<smsc|-> <pdu-hex> [ref]", "send an SMS over IMS (3GPP)",
     RIL_REQUEST_IMS_SEND_SMS, build_sms_send},
    {"sms-ack", "<0|1> [cause]", "acknowledge an incoming SMS", RIL_REQUEST_SMS_ACKNOWLEDGE,
     build_ints<1, 0>},
    {"cf-query", "<reason> [class]", "query call forwarding", RIL_REQUEST_QUERY_CALL_FORWARD_STATUS,
     build_cf_query},
    {"cf-set", "<mode> <reason> <class> <number|-> [time] [toa=<n>] [interval=<text>]",
     "set call forwarding (mode 0 off, 1 on, 2 query, 3 register, 4 erase)",
     RIL_REQUEST_SET_CALL_FORWARD, build_cf_set},
    {"cw-query", "[class]", "query call waiting", RIL_REQUEST_QUERY_CALL_WAITING, build_ints<0, 0>},
    {"cw-set", "<0|1> [class]", "set call waiting", RIL_REQUEST_SET_CALL_WAITING, build_ints<1, 1>},
    {"clir-get", "", "query CLIR", RIL_REQUEST_GET_CLIR, build_none},
    {"clir-set", "<n>", "set CLIR (0 network default, 1 invoke, 2 suppress)", RIL_REQUEST_SET_CLIR,
     build_ints<1>},
    {"clip-query", "", "query CLIP", RIL_REQUEST_QUERY_CLIP, build_none},
    {"colp-set", "<n>", "set COLP", RIL_REQUEST_SET_COLP, build_ints<1>},
    {"colp-query", "", "query COLP", RIL_REQUEST_QUERY_COLP, build_none},
    {"colr-query", "", "query COLR", RIL_REQUEST_QUERY_COLR, build_none},
    {"facility-query", "<fac> <password> <class>", "query a barring facility",
     RIL_REQUEST_QUERY_FACILITY_LOCK, build_facility_query},
    {"facility-set", "<fac> <0|1> <password> <class>", "lock or unlock a barring facility",
     RIL_REQUEST_SET_FACILITY_LOCK, build_facility_set},
    {"request", "<number|name> [empty | ints <v>... | strings <s>... | text <t>]",
     "any request, with plain data", 0, build_raw},
};

} // namespace

std::span<const RequestCommand> request_commands()
{
    return kCommands;
}

const RequestCommand *find_request_command(std::string_view name)
{
    const auto *it = std::find_if(std::begin(kCommands), std::end(kCommands),
                                  [&](const RequestCommand &c) { return name == c.name; });
    return it == std::end(kCommands) ? nullptr : it;
}

std::string prepare_request(const RequestCommand &command, const std::vector<Word> &args,
                            Outgoing &out)
{
    out.request = command.request;
    std::string reason = command.build(args, out);
    if (reason.empty()) {
        return {};
    }
    return reason + "; usage: " + command.name + (*command.usage != '\0' ? " " : "") +
           command.usage;
}

} // namespace zol_host
