#include "scenario.h"

#include <algorithm>
#include <thread>

#include "names.h"
#include "ril.h"

namespace zol_host {
namespace {

// Words joined by blanks. Appended, not built with "x" + string: GCC 12 warns
// (-Wrestrict, a false positive) about the insert at the front that inlines.
void append_word(std::string &out, std::string_view word)
{
    if (!out.empty()) {
        out += ' ';
    }
    out += word;
}

constexpr std::string_view kSpace = " \t\r\n";

std::string_view trim(std::string_view s)
{
    const size_t begin = s.find_first_not_of(kSpace);
    if (begin == std::string_view::npos) {
        return {};
    }
    return s.substr(begin, s.find_last_not_of(kSpace) - begin + 1);
}

std::optional<int> parse_non_negative(std::string_view text)
{
    const auto n = parse_int(text);
    return n && *n >= 0 ? n : std::nullopt;
}

// A flag byte: its number, or true/yes for 1 and false/no for 0.
std::optional<int> parse_flag(std::string_view text)
{
    if (text == "true" || text == "yes") {
        return 1;
    }
    if (text == "false" || text == "no") {
        return 0;
    }
    const auto n = parse_int(text);
    return n && *n >= 0 && *n <= 255 ? n : std::nullopt;
}

struct KeyName {
    const char *name;
    CallKey key;
};

constexpr KeyName kCallKeys[] = {
    {"state", CallKey::State},       {"number", CallKey::Number}, {"toa", CallKey::Toa},
    {"mpty", CallKey::Mpty},         {"mt", CallKey::Mt},         {"voice", CallKey::Voice},
    {"calltype", CallKey::CallType}, {"attr", CallKey::Attr},     {"text", CallKey::Text},
};

const char *key_name(CallKey key)
{
    for (const KeyName &k : kCallKeys) {
        if (k.key == key) {
            return k.name;
        }
    }
    return "?";
}

// key=value of `expect call`; returns the reason when it is not one.
std::string parse_call_check(const Word &w, CallCheck &check)
{
    const size_t eq = w.text.find('=');
    if (eq == std::string::npos) {
        return "expected key=value, got '" + w.text + "'";
    }
    const std::string key = w.text.substr(0, eq);
    const std::string value = w.text.substr(eq + 1);
    const auto *found = std::find_if(std::begin(kCallKeys), std::end(kCallKeys),
                                     [&](const KeyName &k) { return key == k.name; });
    if (found == std::end(kCallKeys)) {
        return "unknown call key '" + key +
               "' (keys: state number toa mpty mt voice calltype attr text)";
    }
    check.key = found->key;
    std::optional<int> n;
    switch (check.key) {
    case CallKey::Number:
    case CallKey::Text:
        if (value == "null" && !w.quoted) {
            check.text.reset();
        } else {
            check.text = value;
        }
        return {};
    case CallKey::State:
        n = parse_call_state(value);
        break;
    case CallKey::Mpty:
    case CallKey::Mt:
    case CallKey::Voice:
        n = parse_flag(value);
        break;
    case CallKey::Toa:
    case CallKey::CallType:
    case CallKey::Attr:
        n = parse_int(value);
        break;
    }
    if (!n) {
        return "bad value '" + value + "' for " + key;
    }
    check.value = *n;
    return {};
}

// Items of a comma list without quotes: numbers. An empty text has none.
std::vector<std::string_view> split_plain(std::string_view text)
{
    std::vector<std::string_view> items;
    while (!text.empty()) {
        const size_t comma = text.find(',');
        items.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        text = text.substr(comma + 1);
        if (text.empty()) {
            items.emplace_back(); // a trailing comma leaves an empty, bad, item
        }
    }
    return items;
}

struct FieldKey {
    const char *name;
    bool is_text;
};

constexpr FieldKey kForwardKeys[] = {{"status", false}, {"reason", false}, {"class", false},
                                     {"toa", false},    {"number", true},  {"time", false},
                                     {"interval", true}};
constexpr FieldKey kSmsKeys[] = {{"ref", false}, {"ack", true}, {"error", false}};
constexpr FieldKey kSuppKeys[] = {
    {"type", false}, {"code", false}, {"index", false}, {"toa", false}, {"number", true}};

template <size_t N>
std::string key_list(const FieldKey (&keys)[N])
{
    std::string out;
    for (const FieldKey &k : keys) {
        append_word(out, k.name);
    }
    return out;
}

// key=value against a record's keys. Returns the reason when the key is not one
// of them (`unknown` set) or its value does not fit.
template <size_t N>
std::string parse_field(const Word &w, const FieldKey (&keys)[N], const char *what,
                        FieldCheck &check, bool *unknown = nullptr)
{
    const size_t eq = w.text.find('=');
    if (eq == std::string::npos) {
        return "expected key=value, got '" + w.text + "'";
    }
    check.key = w.text.substr(0, eq);
    const std::string value = w.text.substr(eq + 1);
    const auto *found = std::find_if(std::begin(keys), std::end(keys),
                                     [&](const FieldKey &k) { return check.key == k.name; });
    if (found == std::end(keys)) {
        if (unknown != nullptr) {
            *unknown = true;
        }
        return "unknown " + std::string(what) + " key '" + check.key +
               "' (keys: " + key_list(keys) + ")";
    }
    check.is_text = found->is_text;
    if (check.is_text) {
        check.text = value == "null" && !w.quoted ? std::nullopt : std::optional(value);
        return {};
    }
    const auto n = parse_int(value);
    if (!n) {
        return "bad value '" + value + "' for " + check.key;
    }
    check.value = *n;
    return {};
}

// Options of `expect unsol`: how many and how long, and what the latest carries.
std::string parse_unsol_option(const Word &w, Step &step)
{
    const size_t eq = w.text.find('=');
    const std::string key = w.text.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : w.text.substr(eq + 1);
    const int n = parse_non_negative(value).value_or(-1);
    if (key == "count" && n >= 1) {
        step.count = n;
        return {};
    }
    if (key == "within" && n >= 0) {
        step.within_ms = n;
        return {};
    }
    if (key == "count" || key == "within" || eq == std::string::npos) {
        return "expected count=<n> (n >= 1), within=<ms> or a data check, got '" + w.text + "'";
    }
    std::string error;
    if (key == "int" || key == "ints") {
        std::vector<int> ints;
        for (const std::string_view item : split_plain(value)) {
            const auto v = parse_int(item);
            if (!v) {
                return "bad value '" + value + "' for " + key;
            }
            ints.push_back(*v);
        }
        if (key == "int" && ints.size() != 1) {
            return "int= takes one value, got '" + value + "'";
        }
        step.data.ints = std::move(ints);
        return {};
    }
    if (key == "strings" || key == "text") {
        // The raw word keeps the quotes, so that a quoted item may hold a comma.
        const std::string raw = w.raw.substr(w.raw.find('=') + 1);
        auto items = key == "strings" ? split_list(raw, error)
                                      : std::optional(std::vector<std::optional<std::string>>{
                                            text_or_null(Word{value, w.quoted, raw})});
        if (!items) {
            return error;
        }
        step.data.strings = std::move(*items);
        return {};
    }
    FieldCheck check;
    bool unknown = false;
    error = parse_field(w, kSuppKeys, "unsol", check, &unknown);
    if (unknown) {
        return "unknown option '" + key +
               "' (count within int ints strings text, or a notification's " + key_list(kSuppKeys) +
               ")";
    }
    if (error.empty()) {
        step.data.supp.push_back(std::move(check));
    }
    return error;
}

std::string join(const std::vector<Word> &words, size_t from)
{
    std::string out;
    for (size_t i = from; i < words.size(); ++i) {
        out += (i > from ? " " : "") + words[i].text;
    }
    return out;
}

// Fills step from the words of its line; returns the reason when it cannot.
std::string parse_words(const std::vector<Word> &w, Step &step)
{
    const std::string &cmd = w[0].text;
    const std::string sub = w.size() > 1 ? w[1].text : "";
    auto args_exactly = [&](size_t n) { return w.size() == n; };

    if (const RequestCommand *command = find_request_command(cmd)) {
        step.kind = StepKind::Send;
        step.command = command;
        step.args.assign(w.begin() + 1, w.end());
        // Built once here to find faults before anything runs; sent fresh later.
        Outgoing out;
        std::string error = prepare_request(*command, step.args, out);
        step.number = out.request;
        return error;
    }
    if (cmd == "sleep") {
        step.kind = StepKind::Sleep;
        const auto n = args_exactly(2) ? parse_non_negative(sub) : std::nullopt;
        step.number = n.value_or(0);
        return n ? "" : "expected sleep <ms>";
    }
    if (cmd == "clear" && sub == "unsol") {
        step.kind = StepKind::ClearUnsol;
        return args_exactly(2) ? "" : "clear unsol takes no arguments";
    }
    if (cmd == "print" && sub == "calls") {
        step.kind = StepKind::PrintCalls;
        return args_exactly(2) ? "" : "print calls takes no arguments";
    }
    if (cmd != "expect") {
        return "unknown step '" + cmd + "'";
    }

    if (sub == "error") {
        step.kind = StepKind::ExpectError;
        const auto n = w.size() > 2 ? parse_errno(join(w, 2)) : std::nullopt;
        step.number = n.value_or(0);
        return n ? "" : "expected expect error <name|number>, e.g. SUCCESS or 6";
    }
    if (sub == "calls") {
        step.kind = StepKind::ExpectCalls;
        const auto n = args_exactly(3) ? parse_non_negative(w[2].text) : std::nullopt;
        step.number = n.value_or(0);
        return n ? "" : "expected expect calls <n>";
    }
    if (sub == "call") {
        step.kind = StepKind::ExpectCall;
        const auto n = w.size() > 2 ? parse_int(w[2].text) : std::nullopt;
        if (!n) {
            return "expected expect call <index> key=value ...";
        }
        step.number = *n;
        for (size_t i = 3; i < w.size(); ++i) {
            CallCheck check;
            if (std::string e = parse_call_check(w[i], check); !e.empty()) {
                return e;
            }
            step.checks.push_back(std::move(check));
        }
        return {};
    }
    if (sub == "unsol") {
        step.kind = StepKind::ExpectUnsol;
        const auto n = w.size() > 2 ? parse_unsol(w[2].text) : std::nullopt;
        if (!n) {
            return "expected expect unsol <number|name> [count=<n>] [within=<ms>] [checks]";
        }
        step.number = *n;
        for (size_t i = 3; i < w.size(); ++i) {
            if (std::string e = parse_unsol_option(w[i], step); !e.empty()) {
                return e;
            }
        }
        return {};
    }
    if (sub == "no-unsol") {
        step.kind = StepKind::ExpectNoUnsol;
        const auto n = w.size() > 2 ? parse_unsol(w[2].text) : std::nullopt;
        std::optional<int> ms = 0;
        if (w.size() == 4) {
            ms = w[3].text.starts_with("for=") ? parse_non_negative(w[3].text.substr(4))
                                               : std::nullopt;
        }
        if (!n || !ms || w.size() > 4) {
            return "expected expect no-unsol <number|name> [for=<ms>]";
        }
        step.number = *n;
        step.within_ms = ms;
        return {};
    }
    if (sub == "ints") {
        step.kind = StepKind::ExpectData;
        step.data.ints.emplace();
        for (size_t i = 2; i < w.size(); ++i) {
            const auto v = parse_int(w[i].text);
            if (!v) {
                return "bad value '" + w[i].text + "' in expect ints <v>...";
            }
            step.data.ints->push_back(*v);
        }
        return {};
    }
    if (sub == "strings") {
        step.kind = StepKind::ExpectData;
        step.data.strings.emplace();
        for (size_t i = 2; i < w.size(); ++i) {
            step.data.strings->push_back(text_or_null(w[i]));
        }
        return {};
    }
    if (sub == "no-data") {
        step.kind = StepKind::ExpectNoData;
        return args_exactly(2) ? "" : "expect no-data takes no arguments";
    }
    if (sub == "forwardings") {
        step.kind = StepKind::ExpectForwardings;
        const auto n = args_exactly(3) ? parse_non_negative(w[2].text) : std::nullopt;
        step.number = n.value_or(0);
        return n ? "" : "expected expect forwardings <n>";
    }
    if (sub == "sms-response" || sub == "forwarding") {
        const bool sms = sub == "sms-response";
        step.kind = sms ? StepKind::ExpectSmsResponse : StepKind::ExpectForwarding;
        size_t first = 2;
        if (!sms) {
            const auto n = w.size() > 2 ? parse_non_negative(w[2].text) : std::nullopt;
            if (!n) {
                return "expected expect forwarding <position> key=value ...";
            }
            step.number = *n;
            first = 3;
        }
        for (size_t i = first; i < w.size(); ++i) {
            FieldCheck check;
            std::string e = sms ? parse_field(w[i], kSmsKeys, "sms-response", check)
                                : parse_field(w[i], kForwardKeys, "forwarding", check);
            if (!e.empty()) {
                return e;
            }
            step.fields.push_back(std::move(check));
        }
        return {};
    }
    return "unknown expectation '" + sub +
           "' (error, calls, call, ints, strings, no-data, sms-response, forwardings, "
           "forwarding, unsol, no-unsol)";
}

std::string describe(const Completion &c)
{
    return request_name(c.request) + " #" + std::to_string(c.serial);
}

std::string describe_error(int error)
{
    return errno_name(error) + " (" + std::to_string(error) + ")";
}

// The call list of a successful call-list completion, or why there is none.
const std::vector<CallInfo> *call_list(const std::optional<Completion> &list, std::string &why)
{
    if (!list) {
        why = "no call list yet (use calls first)";
        return nullptr;
    }
    if (list->error != RIL_E_SUCCESS) {
        why = "the last call list request, " + describe(*list) + ", failed with " +
              describe_error(list->error);
        return nullptr;
    }
    if (!list->decoded.calls) {
        why = describe(*list) + " carried no call list";
        return nullptr;
    }
    return &*list->decoded.calls;
}

int int_field(const CallInfo &c, CallKey key)
{
    switch (key) {
    case CallKey::Mpty:
        return c.mpty;
    case CallKey::Mt:
        return c.mt;
    case CallKey::Voice:
        return c.voice;
    case CallKey::Toa:
        return c.toa;
    case CallKey::CallType:
        return c.call_type;
    case CallKey::Attr:
        return c.call_attribute;
    default:
        return c.state;
    }
}

std::string mismatch(int index, CallKey key, const std::string &actual, const std::string &expected)
{
    return "call " + std::to_string(index) + ": " + key_name(key) + " is " + actual +
           ", expected " + expected;
}

} // namespace

ParsedLine parse_line(std::string_view raw, int line_number)
{
    ParsedLine out;
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#') {
        return out;
    }
    Step step;
    step.line = line_number;
    step.source = std::string(line);

    // echo and stack take the rest of the line as it is written.
    const size_t cmd_end = line.find_first_of(kSpace);
    const std::string_view cmd = line.substr(0, cmd_end);
    const std::string_view rest =
        cmd_end == std::string_view::npos ? std::string_view{} : trim(line.substr(cmd_end));
    if (cmd == "echo" || cmd == "stack") {
        step.kind = cmd == "echo" ? StepKind::Echo : StepKind::Stack;
        step.text = std::string(rest);
        if (step.kind == StepKind::Stack && rest.empty()) {
            out.error = "expected stack <control command>";
            return out;
        }
        out.step = std::move(step);
        return out;
    }

    std::string error;
    const auto words = split_words(line, error);
    if (words) {
        error = parse_words(*words, step);
    }
    if (error.empty()) {
        out.step = std::move(step);
    } else {
        out.error = error;
    }
    return out;
}

Scenario parse_scenario(std::string_view text, const std::string &file)
{
    Scenario scenario;
    scenario.file = file;
    int line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ParsedLine parsed = parse_line(line, line_number);
        if (!parsed.error.empty()) {
            scenario.errors.push_back(file + ":" + std::to_string(line_number) + ": " +
                                      parsed.error);
        } else if (parsed.step) {
            scenario.steps.push_back(std::move(*parsed.step));
        }
    }
    return scenario;
}

std::optional<std::string> check_error(const std::optional<Completion> &last, int expected)
{
    if (!last) {
        return "no completion yet";
    }
    if (last->error == expected) {
        return std::nullopt;
    }
    return describe(*last) + " completed with " + describe_error(last->error) + ", expected " +
           describe_error(expected);
}

std::optional<std::string> check_call_count(const std::optional<Completion> &list, int expected)
{
    std::string why;
    const std::vector<CallInfo> *calls = call_list(list, why);
    if (calls == nullptr) {
        return why;
    }
    if (static_cast<int>(calls->size()) == expected) {
        return std::nullopt;
    }
    return describe(*list) + " has " + std::to_string(calls->size()) + " calls, expected " +
           std::to_string(expected);
}

std::optional<std::string> check_call(const std::optional<Completion> &list, int index,
                                      const std::vector<CallCheck> &checks)
{
    std::string why;
    const std::vector<CallInfo> *calls = call_list(list, why);
    if (calls == nullptr) {
        return why;
    }
    const auto it = std::find_if(calls->begin(), calls->end(),
                                 [&](const CallInfo &c) { return c.index == index; });
    if (it == calls->end()) {
        std::string have;
        for (const CallInfo &c : *calls) {
            have += (have.empty() ? "" : ", ") + std::to_string(c.index);
        }
        return "no call " + std::to_string(index) + " in " + describe(*list) +
               " (calls: " + (have.empty() ? "none" : have) + ")";
    }
    const CallInfo &c = *it;
    for (const CallCheck &check : checks) {
        switch (check.key) {
        case CallKey::State:
            if (c.state != check.value) {
                return mismatch(index, check.key, call_state_name(c.state),
                                call_state_name(check.value));
            }
            break;
        case CallKey::Number:
        case CallKey::Text: {
            const auto &actual = check.key == CallKey::Number ? c.number : c.extra_text;
            if (actual != check.text) {
                return mismatch(index, check.key, quote(actual), quote(check.text));
            }
            break;
        }
        case CallKey::Mpty:
        case CallKey::Mt:
        case CallKey::Voice:
        case CallKey::Toa:
        case CallKey::CallType:
        case CallKey::Attr: {
            const int actual = int_field(c, check.key);
            if (actual != check.value) {
                return mismatch(index, check.key, std::to_string(actual),
                                std::to_string(check.value));
            }
            break;
        }
        }
    }
    return std::nullopt;
}

namespace {

// The completion, with its error when it failed: the data checks say which.
std::string head(const Completion &c)
{
    return describe(c) + (c.error != RIL_E_SUCCESS ? " (" + describe_error(c.error) + ")" : "");
}

std::string carried(const Decoded &d, size_t length)
{
    if (length == 0) {
        return "no data";
    }
    return d.summary.empty() ? std::to_string(length) + " bytes" : d.summary;
}

std::string int_list(const std::vector<int> &values)
{
    std::string out;
    for (const int v : values) {
        append_word(out, std::to_string(v));
    }
    return out.empty() ? "none" : out;
}

std::string text_list(const std::vector<std::optional<std::string>> &texts)
{
    std::string out;
    for (const auto &t : texts) {
        append_word(out, quote(t));
    }
    return out.empty() ? "none" : out;
}

struct FieldValue {
    const char *key;
    int number;
    std::optional<std::string> text;
};

std::vector<FieldValue> fields_of(const ForwardInfo &f)
{
    return {{"status", f.status, {}},   {"reason", f.reason, {}}, {"class", f.service_class, {}},
            {"toa", f.toa, {}},         {"number", 0, f.number},  {"time", f.time, {}},
            {"interval", 0, f.interval}};
}

std::vector<FieldValue> fields_of(const SmsResponseInfo &r)
{
    return {{"ref", r.ref, {}}, {"ack", 0, r.ack}, {"error", r.error, {}}};
}

std::vector<FieldValue> fields_of(const SuppSvcInfo &n)
{
    return {{"type", n.type, {}},
            {"code", n.code, {}},
            {"index", n.index, {}},
            {"toa", n.toa, {}},
            {"number", 0, n.number}};
}

std::optional<std::string> compare_fields(const std::vector<FieldValue> &have,
                                          const std::vector<FieldCheck> &want,
                                          const std::string &prefix)
{
    for (const FieldCheck &check : want) {
        const auto it = std::find_if(have.begin(), have.end(),
                                     [&](const FieldValue &f) { return check.key == f.key; });
        if (it == have.end()) {
            return prefix + "no key " + check.key;
        }
        if (check.is_text && it->text != check.text) {
            return prefix + check.key + " is " + quote(it->text) + ", expected " +
                   quote(check.text);
        }
        if (!check.is_text && it->number != check.value) {
            return prefix + check.key + " is " + std::to_string(it->number) + ", expected " +
                   std::to_string(check.value);
        }
    }
    return std::nullopt;
}

std::optional<std::string> data_mismatch(const Decoded &d, size_t length, const DataCheck &want)
{
    if (want.ints) {
        if (!d.ints) {
            return "carried " + carried(d, length) + ", expected ints " + int_list(*want.ints);
        }
        if (*d.ints != *want.ints) {
            return "ints are " + int_list(*d.ints) + ", expected " + int_list(*want.ints);
        }
    }
    if (want.strings) {
        if (!d.strings) {
            return "carried " + carried(d, length) + ", expected strings " +
                   text_list(*want.strings);
        }
        if (*d.strings != *want.strings) {
            return "strings are " + text_list(*d.strings) + ", expected " +
                   text_list(*want.strings);
        }
    }
    if (!want.supp.empty()) {
        if (!d.supp) {
            return "carried " + carried(d, length) + ", expected a notification";
        }
        return compare_fields(fields_of(*d.supp), want.supp, "");
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> check_data(const std::optional<Completion> &last, const DataCheck &data)
{
    if (!last) {
        return "no completion yet";
    }
    if (auto why = data_mismatch(last->decoded, last->length, data)) {
        return head(*last) + ": " + *why;
    }
    return std::nullopt;
}

std::optional<std::string> check_no_data(const std::optional<Completion> &last)
{
    if (!last) {
        return "no completion yet";
    }
    if (last->length == 0) {
        return std::nullopt;
    }
    return head(*last) + " carried " + carried(last->decoded, last->length) + ", expected no data";
}

std::optional<std::string> check_sms_response(const std::optional<Completion> &last,
                                              const std::vector<FieldCheck> &fields)
{
    if (!last) {
        return "no completion yet";
    }
    if (!last->decoded.sms) {
        return head(*last) + " carried " + carried(last->decoded, last->length) +
               ", expected an SMS response";
    }
    return compare_fields(fields_of(*last->decoded.sms), fields, head(*last) + ": ");
}

// The forwarding list of the last completion, or why there is none.
static const std::vector<ForwardInfo> *forward_list(const std::optional<Completion> &last,
                                                    std::string &why)
{
    if (!last) {
        why = "no completion yet";
        return nullptr;
    }
    if (!last->decoded.forwards) {
        why = head(*last) + " carried " + carried(last->decoded, last->length) +
              ", expected a forwarding list";
        return nullptr;
    }
    return &*last->decoded.forwards;
}

std::optional<std::string> check_forward_count(const std::optional<Completion> &last, int expected)
{
    std::string why;
    const std::vector<ForwardInfo> *list = forward_list(last, why);
    if (list == nullptr) {
        return why;
    }
    if (static_cast<int>(list->size()) == expected) {
        return std::nullopt;
    }
    return head(*last) + " has " + std::to_string(list->size()) + " forwarding records, expected " +
           std::to_string(expected);
}

std::optional<std::string> check_forward(const std::optional<Completion> &last, int position,
                                         const std::vector<FieldCheck> &fields)
{
    std::string why;
    const std::vector<ForwardInfo> *list = forward_list(last, why);
    if (list == nullptr) {
        return why;
    }
    if (position < 0 || static_cast<size_t>(position) >= list->size()) {
        return "no forwarding " + std::to_string(position) + " in " + head(*last) + " (" +
               std::to_string(list->size()) + " records)";
    }
    return compare_fields(fields_of((*list)[static_cast<size_t>(position)]), fields,
                          "forwarding " + std::to_string(position) + ": ");
}

std::optional<std::string> check_unsol_data(const Unsolicited &unsol, const DataCheck &data)
{
    return data_mismatch(unsol.decoded, unsol.length, data);
}

ScenarioRunner::ScenarioRunner(Host &host, Output &out, RunOptions options)
    : host_(host), out_(out), options_(std::move(options))
{
}

bool ScenarioRunner::run(const Scenario &scenario)
{
    if (!scenario.errors.empty()) {
        for (const std::string &e : scenario.errors) {
            out_.line("FAIL " + e);
        }
        out_.line("FAIL");
        return false;
    }
    unsol_mark_ = host_.unsol_mark();
    size_t errors_seen = 0;
    int line = 0;
    for (const Step &step : scenario.steps) {
        line = step.line;
        if (step.kind != StepKind::Echo) {
            out_.line("[" + std::to_string(step.line) + "] " + step.source);
        }
        std::optional<std::string> failure = execute(step);
        // The module's faults show up as host errors whichever step provoked them.
        const std::vector<std::string> errors = host_.host_errors();
        if (!failure && errors.size() > errors_seen) {
            failure = "host error: " + errors[errors_seen];
        }
        errors_seen = errors.size();
        if (failure) {
            out_.line("FAIL " + scenario.file + ":" + std::to_string(step.line) + ": " + *failure);
            out_.line("FAIL");
            return false;
        }
    }
    const std::vector<std::string> errors = host_.host_errors();
    if (errors.size() > errors_seen) {
        out_.line("FAIL " + scenario.file + ":" + std::to_string(line) +
                  ": host error: " + errors[errors_seen]);
        out_.line("FAIL");
        return false;
    }
    out_.line("PASS");
    return true;
}

std::optional<std::string> ScenarioRunner::send_and_wait(const Step &step)
{
    int serial = 0;
    int request = 0;
    {
        Outgoing out;
        if (std::string e = prepare_request(*step.command, step.args, out); !e.empty()) {
            return e;
        }
        request = out.request;
        serial = host_.send(out.request, out.data.data(), out.data.length());
        // The data goes as soon as onRequest has returned: a module must not keep it.
    }
    std::optional<Completion> c = host_.wait_completion(serial, options_.timeout);
    if (!c) {
        return "no completion of " + request_name(request) + " #" + std::to_string(serial) +
               " within " + std::to_string(options_.timeout.count()) + " ms";
    }
    if (c->request == RIL_REQUEST_GET_CURRENT_CALLS) {
        last_list_ = c;
    }
    last_ = std::move(c);
    return std::nullopt;
}

std::optional<std::string> ScenarioRunner::expect_unsol(const Step &step)
{
    const auto within =
        step.within_ms ? std::chrono::milliseconds(*step.within_ms) : options_.timeout;
    // Waits on while the latest one does not match: a later one may.
    const auto done = [&](const std::vector<Unsolicited> &list) {
        return static_cast<int>(list.size()) >= step.count &&
               (step.data.empty() || !check_unsol_data(list.back(), step.data));
    };
    const std::vector<Unsolicited> got =
        host_.wait_unsol_until(step.number, unsol_mark_, within, done);
    const std::string name = unsol_name(step.number) + " (" + std::to_string(step.number) + ")";
    if (static_cast<int>(got.size()) < step.count) {
        return std::to_string(got.size()) + " of " + std::to_string(step.count) + " " + name +
               " within " + std::to_string(within.count()) + " ms";
    }
    if (auto why = step.data.empty() ? std::nullopt : check_unsol_data(got.back(), step.data)) {
        return "the latest of " + std::to_string(got.size()) + " " + name + " within " +
               std::to_string(within.count()) + " ms: " + *why;
    }
    return std::nullopt;
}

std::optional<std::string> ScenarioRunner::execute(const Step &step)
{
    switch (step.kind) {
    case StepKind::Echo:
        out_.line(step.text);
        return std::nullopt;
    case StepKind::Stack: {
        if (!options_.stack) {
            return "no stack control to send to";
        }
        const ControlReply reply = options_.stack(step.text);
        std::vector<std::string> shown = reply.lines;
        if (!reply.final_line.empty()) {
            shown.push_back(reply.final_line);
        }
        for (const std::string &l : shown) {
            out_.line("  imsd: " + l);
        }
        if (!reply.failure.empty()) {
            return reply.failure;
        }
        if (!reply.ok()) {
            return "zol-imsd answered: " + reply.final_line;
        }
        return std::nullopt;
    }
    case StepKind::Send:
        return send_and_wait(step);
    case StepKind::ExpectError:
        return check_error(last_, step.number);
    case StepKind::ExpectCalls:
        return check_call_count(last_list_, step.number);
    case StepKind::ExpectCall:
        return check_call(last_list_, step.number, step.checks);
    case StepKind::ExpectData:
        return check_data(last_, step.data);
    case StepKind::ExpectNoData:
        return check_no_data(last_);
    case StepKind::ExpectSmsResponse:
        return check_sms_response(last_, step.fields);
    case StepKind::ExpectForwardings:
        return check_forward_count(last_, step.number);
    case StepKind::ExpectForwarding:
        return check_forward(last_, step.number, step.fields);
    case StepKind::ExpectUnsol:
        return expect_unsol(step);
    case StepKind::ExpectNoUnsol: {
        const std::chrono::milliseconds within(step.within_ms.value_or(0));
        const std::vector<Unsolicited> got = host_.wait_unsol_until(
            step.number, unsol_mark_, within,
            [](const std::vector<Unsolicited> &list) { return !list.empty(); });
        if (got.empty()) {
            return std::nullopt;
        }
        const Unsolicited &u = got.back();
        return std::to_string(got.size()) + " " + unsol_name(step.number) + " (" +
               std::to_string(step.number) + ") since the start or the last clear unsol, " +
               "expected none; the latest carried " + carried(u.decoded, u.length);
    }
    case StepKind::ClearUnsol:
        unsol_mark_ = host_.unsol_mark();
        return std::nullopt;
    case StepKind::Sleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.number));
        return std::nullopt;
    case StepKind::PrintCalls: {
        std::string why;
        const std::vector<CallInfo> *calls = call_list(last_list_, why);
        if (calls == nullptr) {
            out_.line("  " + why);
            return std::nullopt;
        }
        std::vector<std::string> lines;
        for (const CallInfo &c : *calls) {
            lines.push_back(format_call(c));
        }
        out_.block("  " + describe(*last_list_) + ": " + std::to_string(calls->size()) + " calls",
                   lines);
        return std::nullopt;
    }
    }
    return "unknown step";
}

} // namespace zol_host
