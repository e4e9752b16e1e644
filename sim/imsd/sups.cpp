#include "sups.h"

#include <array>
#include <cctype>
#include <optional>

#include "control.h"
#include "messages.h"
#include "text.h"

namespace zol::imsd {

namespace {

const char *const kCodeNames[] = {
    "none",       "waiting",    "cf-all",     "cfu",        "cf-all-conditional",
    "cfb",        "cfnry",      "cfnrc",      "barring-AG", "barring-AO",
    "barring-OI", "barring-OX", "barring-AC", "barring-AI", "barring-IR",
    "clip",       "clir",       "colp",       "colr",
};

const char *const kOpNames[] = {"op-0",     "register",   "erase",
                                "activate", "deactivate", "interrogate"};

const char *code_name(uint32_t code)
{
    return code < std::size(kCodeNames) ? kCodeNames[code] : "unknown";
}

const char *op_name(uint32_t op)
{
    return op < std::size(kOpNames) ? kOpNames[op] : "op-?";
}

bool is_forwarding(uint32_t code)
{
    return code >= kSsCfAll && code <= kSsCfnrc;
}

bool is_barring(uint32_t code)
{
    return code >= kSsBarAG && code <= kSsBarIR;
}

// Codes that name one service rather than a group.
std::vector<uint32_t> members(uint32_t code)
{
    switch (code) {
    case kSsCfAll:
        return {kSsCfu, kSsCfb, kSsCfnry, kSsCfnrc};
    case kSsCfAllConditional:
        return {kSsCfb, kSsCfnry, kSsCfnrc};
    case kSsBarAG:
        return {kSsBarAO, kSsBarOI, kSsBarOX};
    case kSsBarAC:
        return {kSsBarAI, kSsBarIR};
    default:
        return {code};
    }
}

// The classes an operation applies to: the one it names, or both.
std::optional<std::vector<uint8_t>> classes_of(const SsRequest &req)
{
    if (!req.basic_service) {
        return std::vector<uint8_t>{kClassVoice, kClassVideo};
    }
    switch (*req.basic_service) {
    case 1:
        return std::vector<uint8_t>{kClassVoice};
    case 2:
        return std::vector<uint8_t>{kClassVideo};
    default:
        return std::nullopt;
    }
}

uint32_t basic_service_of(uint8_t service_class)
{
    return service_class == kClassVoice ? 1 : 2;
}

std::optional<std::vector<uint8_t>> forwarding(SupsStore &store, const SsRequest &req)
{
    const auto classes = classes_of(req);
    if (!classes) {
        return std::nullopt;
    }
    const std::vector<uint32_t> codes = members(req.code);
    auto &table = store.forwarding;
    const auto op = static_cast<SsOp>(req.op);
    if (op == SsOp::interrogate) {
        std::vector<FwdFeature> list;
        for (uint32_t code : codes) {
            for (uint8_t c : *classes) {
                const auto it = table.find({code, c});
                if (it == table.end()) {
                    continue;
                }
                FwdFeature f{code,        basic_service_of(c), c,
                             true,        it->second.active,   it->second.number,
                             std::nullopt};
                if (code == kSsCfnry) {
                    f.no_reply_time = it->second.no_reply_time;
                }
                list.push_back(std::move(f));
            }
        }
        if (list.empty()) {
            // Nothing registered: one entry saying the service is not active.
            list.push_back(FwdFeature{req.code, std::nullopt, 0, false, false, {}, std::nullopt});
        }
        return encode_fwd_list_conf(list);
    }
    const bool with_number = req.number && !req.number->empty();
    if (op == SsOp::reg || (op == SsOp::activate && with_number)) {
        if (!with_number) {
            return std::nullopt;
        }
        for (uint32_t code : codes) {
            for (uint8_t c : *classes) {
                Forwarding &f = table[{code, c}];
                f.number = *req.number;
                f.active = true;
                if (code == kSsCfnry && req.no_reply_time.value_or(0) != 0) {
                    f.no_reply_time = *req.no_reply_time;
                }
            }
        }
        return encode_ss_conf(true);
    }
    bool found = false;
    for (uint32_t code : codes) {
        for (uint8_t c : *classes) {
            const auto it = table.find({code, c});
            if (it == table.end()) {
                continue;
            }
            found = true;
            if (op == SsOp::erase) {
                table.erase(it);
            } else {
                it->second.active = op == SsOp::activate;
            }
        }
    }
    // Activation needs a number to forward to; the other two always succeed.
    return op == SsOp::activate && !found ? std::nullopt : std::optional(encode_ss_conf(true));
}

std::optional<std::vector<uint8_t>> barring(SupsStore &store, const SsRequest &req)
{
    const std::vector<uint32_t> codes = members(req.code);
    const auto op = static_cast<SsOp>(req.op);
    if (op == SsOp::interrogate) {
        bool any = false;
        for (uint32_t code : codes) {
            any = any || store.active[code];
        }
        return encode_ss_status_conf(req.code, any);
    }
    const bool group = codes.size() > 1;
    // A group can only be lifted as a whole, never imposed.
    if ((op != SsOp::activate && op != SsOp::deactivate) || (group && op == SsOp::activate) ||
        req.password != store.password) {
        return std::nullopt;
    }
    for (uint32_t code : codes) {
        store.active[code] = op == SsOp::activate;
    }
    return encode_ss_conf(true);
}

std::optional<std::vector<uint8_t>> flag_service(SupsStore &store, const SsRequest &req)
{
    switch (static_cast<SsOp>(req.op)) {
    case SsOp::interrogate:
        return encode_ss_status_conf(req.code, store.active[req.code]);
    case SsOp::activate:
    case SsOp::deactivate:
        store.active[req.code] = static_cast<SsOp>(req.op) == SsOp::activate;
        return encode_ss_conf(true);
    default:
        return std::nullopt;
    }
}

// The names `ss set` accepts, for the services that are simply on or off.
struct FlagName {
    const char *name;
    uint32_t code;
};

constexpr FlagName kFlagNames[] = {
    {"waiting", kSsWaiting}, {"clip", kSsClip}, {"clir", kSsClir}, {"colp", kSsColp},
    {"colr", kSsColr},       {"ao", kSsBarAO},  {"oi", kSsBarOI},  {"ox", kSsBarOX},
    {"ai", kSsBarAI},        {"ir", kSsBarIR},
};

const char *on_off(bool active)
{
    return active ? "active" : "inactive";
}

} // namespace

SsAnswer apply_ss(SupsStore &store, const SsRequest &req)
{
    const uint16_t message = ss_conf_message(req.op);
    if (message == 0) {
        return {};
    }
    std::optional<std::vector<uint8_t>> payload;
    if (store.fail_next > 0) {
        --store.fail_next;
    } else if (is_forwarding(req.code)) {
        payload = forwarding(store, req);
    } else if (is_barring(req.code)) {
        payload = barring(store, req);
    } else if (store.active.contains(req.code)) {
        payload = flag_service(store, req);
    }
    return SsAnswer{message, payload ? std::move(*payload) : encode_ss_conf(false)};
}

void on_sups_operation(Context &ctx)
{
    const auto req = decode_ss_request(ctx.request.payload);
    if (!req) {
        return ctx.note(strf("sups-operation refused: payload of %zu bytes, expected %zu, or a "
                             "number longer than its field",
                             ctx.request.payload.size(), kSsRequestLen));
    }
    SsAnswer answer = apply_ss(ctx.model.sups, *req);
    if (answer.message == 0) {
        return ctx.note(strf("sups-operation: no confirmation for operation %u", req->op));
    }
    const bool success = !answer.payload.empty() && answer.payload[0] != 0;
    ctx.note(strf("ss %s %s: %s", op_name(req->op), code_name(req->code),
                  success ? "success" : "failure"));
    ctx.reply(answer.message, std::move(answer.payload));
}

void cmd_ss_show(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: ss show");
    }
    const SupsStore &s = a.model.sups;
    for (const auto &[code, active] : s.active) {
        a.info(strf("%s %s", code_name(code), on_off(active)));
    }
    for (const auto &[key, f] : s.forwarding) {
        std::string line = strf("%s class=%u %s number=%s", code_name(key.first),
                                unsigned{key.second}, on_off(f.active), f.number.c_str());
        if (key.first == kSsCfnry) {
            line += strf(" time=%u", unsigned{f.no_reply_time});
        }
        a.info(line);
    }
    a.info("password " + s.password);
    a.ok(strf("fail-next=%u", s.fail_next));
}

void cmd_ss_fail(CommandArgs &a)
{
    if (a.words.size() != 1 || a.words[0] != "next") {
        return a.error("usage: ss fail next");
    }
    a.ok(strf("fail-next=%u", ++a.model.sups.fail_next));
}

void cmd_ss_password(CommandArgs &a)
{
    if (a.words.size() != 1 || a.words[0].size() > kSsPasswordWidth) {
        return a.error(
            strf("usage: ss password <password of 1..%zu characters>", kSsPasswordWidth));
    }
    a.model.sups.password = std::string(a.words[0]);
    a.ok();
}

void cmd_ss_set(CommandArgs &a)
{
    const char *usage = "usage: ss set waiting|clip|clir|colp|colr|ao|oi|ox|ai|ir on|off";
    if (a.words.size() != 2 || (a.words[1] != "on" && a.words[1] != "off")) {
        return a.error(usage);
    }
    std::string name(a.words[0]);
    for (char &ch : name) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    for (const FlagName &f : kFlagNames) {
        if (name == f.name) {
            a.model.sups.active[f.code] = a.words[1] == "on";
            return a.ok(strf("%s %s", code_name(f.code), on_off(a.model.sups.active[f.code])));
        }
    }
    a.error(usage);
}

void cmd_ss_clear(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: ss clear");
    }
    a.model.sups = SupsStore{};
    a.ok();
}

} // namespace zol::imsd
