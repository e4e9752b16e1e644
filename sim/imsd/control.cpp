#include "control.h"

#include "calls.h"
#include "faults.h"
#include "registration.h"
#include "text.h"

namespace zol::imsd {

namespace {

using Words = std::span<const std::string_view>;

using Args = CommandArgs;

std::string quoted(std::string_view s)
{
    // Appended piece by piece: GCC 12 at -O2 and above takes "'" + string for an
    // overlapping copy (-Wrestrict).
    std::string out;
    out.reserve(s.size() + 2);
    out += '\'';
    out += s;
    out += '\'';
    return out;
}

std::optional<uint8_t> parse_call_id(std::string_view text)
{
    const auto n = parse_uint(text, 255);
    if (!n || *n == 0) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(*n);
}

// Changes that `call add` and `call set` carry as key=value words.
struct CallEdit {
    std::optional<std::string> number;
    std::optional<CallState> state;
    std::optional<CallDir> dir;
    std::optional<CallType> type;
    std::optional<uint32_t> video;
    std::optional<uint8_t> mpty;
    std::optional<uint32_t> attr;
    std::optional<std::string> text;
};

// Empty on success, otherwise the error.
std::string parse_edit(Words words, bool allow_number, CallEdit &edit)
{
    for (std::string_view word : words) {
        const size_t eq = word.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            return "expected key=value, got " + quoted(word);
        }
        const std::string_view key = word.substr(0, eq);
        const std::string_view value = word.substr(eq + 1);
        bool good = true;
        if (key == "state") {
            edit.state = parse_call_state(value);
            good = edit.state.has_value();
        } else if (key == "dir") {
            edit.dir = parse_call_dir(value);
            good = edit.dir.has_value();
        } else if (key == "type") {
            edit.type = parse_call_type(value);
            good = edit.type.has_value();
        } else if (key == "video" || key == "attr") {
            const auto n = parse_uint(value, 0xFFFFFFFFu);
            good = n.has_value();
            (key == "video" ? edit.video : edit.attr) =
                n ? std::optional<uint32_t>(*n) : std::nullopt;
        } else if (key == "mpty") {
            const auto n = parse_uint(value, 255);
            good = n.has_value();
            if (n) {
                edit.mpty = static_cast<uint8_t>(*n);
            }
        } else if (key == "text") {
            edit.text = std::string(value);
        } else if (key == "number" && allow_number) {
            edit.number = std::string(value);
        } else {
            return "unknown key " + quoted(key);
        }
        if (!good) {
            return "bad " + std::string(key) + " " + quoted(value);
        }
    }
    return {};
}

void apply_edit(const CallEdit &edit, Call &call)
{
    if (edit.number) {
        call.number = *edit.number;
    }
    if (edit.state) {
        call.state = *edit.state;
    }
    if (edit.dir) {
        call.dir = *edit.dir;
    }
    if (edit.type) {
        call.type = *edit.type;
        call.video_dir = default_video_dir(call.type);
    }
    if (edit.video) {
        call.video_dir = *edit.video;
    }
    if (edit.mpty) {
        call.mpty = *edit.mpty;
    }
    if (edit.attr) {
        call.attr = *edit.attr;
    }
    if (edit.text) {
        call.text = *edit.text;
    }
}

void cmd_help(Args &a);

void cmd_status(Args &a)
{
    if (!a.words.empty()) {
        return a.error("usage: status");
    }
    const LinkStatus s = a.link.status();
    a.ok(strf("connected=%s received=%llu sent=%llu connections=%llu calls=%zu",
              s.connected ? "yes" : "no", static_cast<unsigned long long>(s.received),
              static_cast<unsigned long long>(s.sent),
              static_cast<unsigned long long>(s.connections), a.model.calls.size()));
}

void cmd_calls(Args &a)
{
    if (!a.words.empty()) {
        return a.error("usage: calls");
    }
    for (const Call &call : a.model.calls) {
        a.info(describe_call(call));
    }
    a.ok(strf("%zu calls", a.model.calls.size()));
}

void cmd_call_add(Args &a)
{
    if (a.words.size() < 2 || a.words[1].find('=') != std::string_view::npos) {
        return a.error("usage: call add <id> <number> [key=value ...]");
    }
    const auto id = parse_call_id(a.words[0]);
    if (!id) {
        return a.error("bad call id " + quoted(a.words[0]));
    }
    if (a.model.calls.find(*id) != nullptr) {
        return a.error(strf("call %u exists", unsigned{*id}));
    }
    CallEdit edit;
    if (std::string why = parse_edit(a.words.subspan(2), false, edit); !why.empty()) {
        return a.error(why);
    }
    Call call;
    call.id = *id;
    call.number = std::string(a.words[1]);
    apply_edit(edit, call);
    if (std::string why = check_call(call); !why.empty()) {
        return a.error(why);
    }
    a.model.calls.add(std::move(call));
    a.ok();
}

void cmd_call_set(Args &a)
{
    if (a.words.size() < 2) {
        return a.error("usage: call set <id> key=value ...");
    }
    const auto id = parse_call_id(a.words[0]);
    if (!id) {
        return a.error("bad call id " + quoted(a.words[0]));
    }
    Call *existing = a.model.calls.find(*id);
    if (existing == nullptr) {
        return a.error(strf("unknown call %u", unsigned{*id}));
    }
    CallEdit edit;
    if (std::string why = parse_edit(a.words.subspan(1), true, edit); !why.empty()) {
        return a.error(why);
    }
    Call call = *existing;
    apply_edit(edit, call);
    if (std::string why = check_call(call); !why.empty()) {
        return a.error(why);
    }
    *existing = std::move(call);
    a.ok();
}

void cmd_call_remove(Args &a)
{
    if (a.words.size() != 1) {
        return a.error("usage: call remove <id>");
    }
    const auto id = parse_call_id(a.words[0]);
    if (!id) {
        return a.error("bad call id " + quoted(a.words[0]));
    }
    if (!a.model.calls.remove(*id)) {
        return a.error(strf("unknown call %u", unsigned{*id}));
    }
    a.ok();
}

void cmd_call_clear(Args &a)
{
    if (!a.words.empty()) {
        return a.error("usage: call clear");
    }
    a.model.calls.clear();
    a.ok();
}

// The hex may be split into several words for readability.
std::optional<std::vector<uint8_t>> joined_hex(Words words)
{
    std::string hex;
    for (std::string_view w : words) {
        hex += w;
    }
    return parse_hex(hex);
}

void send_and_reply(Args &a, std::string why, size_t bytes)
{
    if (!why.empty()) {
        return a.error("send failed: " + why);
    }
    a.ok(strf("sent %zu bytes", bytes));
}

void cmd_inject(Args &a)
{
    if (a.words.empty()) {
        return a.error("usage: inject <message-id> [hex-payload]");
    }
    const auto id = parse_uint(a.words[0], 0xFFFF);
    if (!id) {
        return a.error("bad message id " + quoted(a.words[0]));
    }
    auto payload = joined_hex(a.words.subspan(1));
    if (!payload) {
        return a.error("bad hex payload");
    }
    if (!a.link.status().connected) {
        return a.error("not connected");
    }
    Frame frame{0, static_cast<uint16_t>(*id), std::move(*payload)};
    const size_t bytes = kFrameHeaderLen + frame.payload.size();
    send_and_reply(a, a.link.send_frame(frame), bytes);
}

void cmd_inject_raw(Args &a)
{
    const auto bytes = joined_hex(a.words);
    // An empty packet cannot be told apart from the end of the connection.
    if (a.words.empty() || !bytes || bytes->empty()) {
        return a.error(a.words.empty() ? "usage: inject-raw <hex-bytes>" : "bad hex bytes");
    }
    if (!a.link.status().connected) {
        return a.error("not connected");
    }
    send_and_reply(a, a.link.send_raw(*bytes), bytes->size());
}

void cmd_reset(Args &a)
{
    if (!a.words.empty()) {
        return a.error("usage: reset");
    }
    const size_t calls = a.model.calls.size();
    a.link.reset(a.model);
    // The module keeps the registration it was told last: it is told again, as
    // on connecting, so that a script can wait for that.
    const uint32_t now = a.model.registration.run_status;
    const bool told = a.link.status().connected &&
                      a.link.send_frame(frames_on_connect(a.model.registration).front()).empty();
    a.ok(strf("reset: %zu calls dropped, run-status=%u%s", calls, now, told ? " reported" : ""));
}

void cmd_quit(Args &a)
{
    a.reply.quit = true;
    a.ok("bye");
}

struct Command {
    const char *name; // one or two words
    const char *usage;
    const char *about;
    void (*run)(Args &a);
};

const Command kCommands[] = {
    // Before "help", which would match it too.
    {"help calls", "help calls", "dial-number suffixes and failure answers of the call model",
     cmd_help_calls},
    {"help", "help", "list the commands", cmd_help},
    {"status", "status", "ok connected=yes|no received=N sent=N connections=N calls=N", cmd_status},
    {"calls", "calls", "one line per call, then ok N calls", cmd_calls},
    {"call add", "call add <id> <number> [key=value ...]",
     "add a call; keys state dir type video mpty attr text (defaults: state=active dir=mo "
     "type=voice)",
     cmd_call_add},
    {"call set", "call set <id> key=value ...", "change a call; the same keys and number",
     cmd_call_set},
    {"call remove", "call remove <id>", "remove a call", cmd_call_remove},
    {"call clear", "call clear", "remove every call", cmd_call_clear},
    {"register", "register [on|off|<run-status>]",
     "show or set the run status (on=1, off=0); a change is reported to the agent", cmd_register},
    {"config set", "config set <item> [<value>]",
     "store a configuration item (text for 1-4 and 14, integer for 5-13, 15, 16)", cmd_config_set},
    {"config", "config", "one line per stored configuration item", cmd_config},
    {"sms fail", "sms fail next [<error-code>]",
     "answer the next send with this error code (default 10)", cmd_sms_fail},
    {"sms timeout", "sms timeout next", "answer the next send with no status at all",
     cmd_sms_timeout},
    {"sms sent", "sms sent", "the messages sent so far and the planned outcomes", cmd_sms_sent},
    {"sms acks", "sms acks", "the acknowledgements received so far", cmd_sms_acks},
    {"sms deliver-text", "sms deliver-text <from> <text>",
     "deliver a GSM 7-bit SMS from +digits or digits; _ in the text is a space",
     cmd_sms_deliver_text},
    {"sms deliver", "sms deliver <hex-pdu>",
     "deliver an SMS-DELIVER: SMSC address (00 for none), then the TPDU", cmd_sms_deliver},
    {"sms status-report", "sms status-report <hex-pdu>",
     "deliver an SMS-STATUS-REPORT: SMSC address (00 for none), then the TPDU",
     cmd_sms_status_report},
    {"ss show", "ss show", "the supplementary-service store", cmd_ss_show},
    {"ss fail", "ss fail next", "answer the next SS operation with a failure", cmd_ss_fail},
    {"ss password", "ss password <password>", "set the barring password (default 0000)",
     cmd_ss_password},
    {"ss set", "ss set <service> on|off",
     "set waiting, clip, clir, colp, colr or barring ao, oi, ox, ai, ir", cmd_ss_set},
    {"ss clear", "ss clear", "back to the defaults (waiting and clip active)", cmd_ss_clear},
    {"inject", "inject <message-id> [hex-payload]",
     "send one frame with this message id, token id 0 and the payload", cmd_inject},
    {"inject-raw", "inject-raw <hex-bytes>", "send the bytes as one packet, as they are",
     cmd_inject_raw},
    {"incoming", "incoming <number> [video]",
     "a call arrives: 30002 and 30003; waiting if another call is up", cmd_incoming},
    {"hangup", "hangup <id> [cause]", "the remote party ends the call: 30005 (cause 16)",
     cmd_hangup},
    {"connect", "connect <id>", "the remote party answers an outgoing call now: 30004",
     cmd_connect},
    {"modify", "modify <id> video [1|2|3] | voice",
     "the remote party asks to change an active call: 30014 (video direction 3)", cmd_modify},
    {"forward", "forward <id>", "the call was forwarded: 30023", cmd_forward},
    {"srvcc", "srvcc <handover-type>", "handover to the circuit domain: 30020", cmd_srvcc},
    {"set delay", "set delay <ms>", "pace of outgoing call progress and of call modification",
     cmd_set_delay},
    {"fail next", "fail next <message> [cause=<n>] [flag=<n>]",
     "answer the next call message (id or name) as a failure; see help calls", cmd_fail_next},
    {"fail clear", "fail clear", "forget the failures armed", cmd_fail_clear},
    {"fault random", "fault random <seed> [<percent>]",
     "each frame out suffers a random fault with this chance (default 10, 0 off)",
     cmd_fault_random},
    {"fault clear", "fault clear", "forget the armed faults and the random mode", cmd_fault_clear},
    {"fault pause", "fault pause", "hold back every frame out until resume, drain or off",
     cmd_fault_pause},
    {"fault resume", "fault resume", "send what was held back, through the armed faults",
     cmd_fault_resume},
    {"fault spurious", "fault spurious [<message>|any] [<count>]",
     "send confirmations nobody asked for (a message some request waits for)", cmd_fault_spurious},
    {"fault refuse", "fault refuse [<ms>]",
     "stop taking frames on the connection: the agent's sends fail at once; also on "
     "connections made within ms",
     cmd_fault_refuse},
    {"fault close", "fault close [<ms>]",
     "end the connection and take no new one for ms; the agent comes back after", cmd_fault_close},
    {"fault stall", "fault stall <ms>",
     "read nothing from the agent for ms: its sends block, then fail", cmd_fault_stall},
    {"fault drain", "fault drain",
     "send what is held back or delayed, then answer every request still owed an answer",
     cmd_fault_drain},
    {"fault off", "fault off",
     "end every fault, then drain (at once, or when the agent is back): afterwards nothing "
     "the module waits for is left unanswered",
     cmd_fault_off},
    {"fault show", "fault show",
     "the armed faults, then ok paused= held= delayed= owed= injected= and counts by kind",
     cmd_fault_show},
    // After the other fault rows, which it would match too.
    {"fault", "fault <kind> <N>|<P>% [<ms>]",
     "the next N frames out, or P% of them: drop, duplicate, delay (by ms, default 500), "
     "corrupt, truncate, oversize (sometimes beyond 64 KiB) or unknown (an id nobody knows); "
     "a lost answer is owed",
     cmd_fault_rule},
    {"reset", "reset",
     "back to the start state: no calls, stored services, SMS or configuration, registered, "
     "no faults or armed failures, nothing held or owed; the connection stays and hears the "
     "run status (30022)",
     cmd_reset},
    {"sip status", "sip status",
     "the SIP side (--sip-registrar): registration, calls and messages on the network",
     cmd_sip_status},
    {"quit", "quit", "stop the stack", cmd_quit},
};

void cmd_help(Args &a)
{
    for (std::string &line : command_help()) {
        a.info(std::move(line));
    }
    a.ok();
}

// Number of leading words of `words` that name `cmd`, or 0.
size_t match(const Command &cmd, Words words)
{
    const std::vector<std::string_view> name = split_words(cmd.name);
    if (words.size() < name.size()) {
        return 0;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (words[i] != name[i]) {
            return 0;
        }
    }
    return name.size();
}

} // namespace

bool Reply::ok() const
{
    return !lines.empty() && lines.back().rfind("ok", 0) == 0;
}

std::string Reply::text() const
{
    std::string out;
    for (const std::string &line : lines) {
        out += line;
        out += '\n';
    }
    return out;
}

std::optional<Reply> run_command(std::string_view line, Model &model, Link &link)
{
    const std::vector<std::string_view> words = split_words(line);
    if (words.empty() || words[0][0] == '#') {
        return std::nullopt;
    }
    Reply reply;
    for (const Command &cmd : kCommands) {
        if (const size_t n = match(cmd, words); n != 0) {
            Args args{Words(words).subspan(n), model, link, reply};
            cmd.run(args);
            return reply;
        }
    }
    const std::string_view rest = line.substr(static_cast<size_t>(words[0].data() - line.data()));
    reply.lines.push_back("error unknown command " + quoted(rest.substr(0, 40)) + " (try help)");
    return reply;
}

std::vector<std::string> command_help()
{
    std::vector<std::string> lines;
    for (const Command &cmd : kCommands) {
        lines.push_back(strf("%-40s %s", cmd.usage, cmd.about));
    }
    return lines;
}

std::string describe_call(const Call &call)
{
    return strf("call %u number=%s state=%s dir=%s type=%s video=0x%x mpty=%u attr=0x%x text=%s",
                unsigned{call.id}, call.number.c_str(), call_state_name(call.state),
                call_dir_name(call.dir), call_type_name(call.type), call.video_dir,
                unsigned{call.mpty}, call.attr, call.text.c_str());
}

} // namespace zol::imsd
