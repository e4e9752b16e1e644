#include "registration.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "control.h"
#include "messages.h"
#include "network.h"
#include "record_reader.h"
#include "text.h"

namespace zol::imsd {

namespace {

// How the items the module knows carry their value; text items give their
// longest text.
struct ItemKind {
    bool integer = false;
    size_t text_len = 0; // 0 with !integer: the item has no value
};

ItemKind item_kind(uint32_t item)
{
    switch (item) {
    case 1:
    case 2:
        return {false, 20};
    case 3:
    case 14:
        return {false, 50};
    case 4:
        return {false, 32};
    case 15:
    case 16:
        return {true, 0};
    default:
        return item >= 5 && item <= 13 ? ItemKind{true, 0} : ItemKind{};
    }
}

std::string describe_item(uint32_t item, const ConfigValue &value)
{
    const ItemKind kind = item_kind(item);
    const RecordReader r(value);
    if (kind.integer) {
        return strf("config %u int=%d", item, static_cast<int32_t>(r.u32(0)));
    }
    if (kind.text_len > 0) {
        return strf("config %u text=%s", item, r.chars(0, kind.text_len).c_str());
    }
    return strf("config %u (no value)", item);
}

void report_run_status(CommandArgs &a, bool changed)
{
    const uint32_t status = a.model.registration.run_status;
    if (!changed) {
        return a.ok(strf("run-status=%u (unchanged)", status));
    }
    if (!a.link.status().connected) {
        return a.ok(
            strf("run-status=%u (not connected: reported when the agent connects)", status));
    }
    const std::string why =
        a.link.send_frame(Frame{0, kMsgRunStatusInd, encode_run_status(status)});
    if (!why.empty()) {
        return a.error(strf("run-status=%u, report not sent: %s", status, why.c_str()));
    }
    a.ok(strf("run-status=%u reported", status));
}

} // namespace

void attach_network(Model &model, Network *network)
{
    model.network = network;
    if (network != nullptr) {
        model.registration.run_status = kRunStatusUnregistered;
        network->set_registered(true);
    }
}

void on_network_registration(Context &ctx, bool registered)
{
    uint32_t &status = ctx.model.registration.run_status;
    const uint32_t now = registered ? kRunStatusRegistered : kRunStatusUnregistered;
    if (now != status) {
        status = now;
        ctx.indicate(kMsgRunStatusInd, encode_run_status(status));
        ctx.note(registered ? "registered with the network" : "not registered with the network");
    }
}

std::vector<Frame> frames_on_connect(const Registration &reg)
{
    return {Frame{0, kMsgRunStatusInd, encode_run_status(reg.run_status)}};
}

void on_get_run_status(Context &ctx)
{
    ctx.reply(kMsgRunStatusInd, encode_run_status(ctx.model.registration.run_status));
}

void on_get_config(Context &ctx)
{
    const auto item = decode_word_request(ctx.request.payload);
    if (!item) {
        return ctx.note("get-config refused: payload is not one 32-bit item id");
    }
    const auto &config = ctx.model.registration.config;
    const auto it = config.find(*item);
    ctx.reply(kMsgConfigConf,
              encode_config_conf(*item, it != config.end() ? it->second : ConfigValue{}));
}

void on_set_config(Context &ctx)
{
    const auto set = decode_set_config(ctx.request.payload);
    if (!set) {
        return ctx.note(strf("set-config refused: payload of %zu bytes, expected %zu",
                             ctx.request.payload.size(), kSetConfigLen));
    }
    ctx.model.registration.config[set->item] = set->value;
    ctx.note(describe_item(set->item, set->value));
}

void on_set_registration(Context &ctx)
{
    const auto wanted = decode_word_request(ctx.request.payload);
    if (!wanted) {
        return ctx.note("set-registration refused: payload is not one 32-bit word");
    }
    // With a network the outcome decides, and it is reported when it comes.
    if (ctx.model.network != nullptr) {
        ctx.model.network->set_registered(*wanted != kRunStatusUnregistered);
        return ctx.note(*wanted != kRunStatusUnregistered ? "registering" : "unregistering");
    }
    uint32_t &status = ctx.model.registration.run_status;
    if (*wanted != status) {
        status = *wanted;
        ctx.indicate(kMsgRunStatusInd, encode_run_status(status));
    }
}

void cmd_register(CommandArgs &a)
{
    if (a.words.size() > 1) {
        return a.error("usage: register [on|off|<run-status>]");
    }
    uint32_t &status = a.model.registration.run_status;
    if (a.words.empty()) {
        return a.ok(strf("run-status=%u", status));
    }
    std::optional<uint64_t> wanted;
    if (a.words[0] == "on") {
        wanted = kRunStatusRegistered;
    } else if (a.words[0] == "off") {
        wanted = kRunStatusUnregistered;
    } else {
        wanted = parse_uint(a.words[0], 0xFFFFFFFFu);
    }
    if (!wanted) {
        return a.error("bad run status '" + std::string(a.words[0]) + "'");
    }
    if (a.model.network != nullptr) {
        a.model.network->set_registered(*wanted != kRunStatusUnregistered);
        return a.ok(*wanted != kRunStatusUnregistered ? "registering with the network"
                                                      : "unregistering from the network");
    }
    const bool changed = *wanted != status;
    status = static_cast<uint32_t>(*wanted);
    report_run_status(a, changed);
}

void cmd_config(CommandArgs &a)
{
    if (!a.words.empty()) {
        return a.error("usage: config");
    }
    for (const auto &[item, value] : a.model.registration.config) {
        a.info(describe_item(item, value));
    }
    a.ok(strf("%zu items", a.model.registration.config.size()));
}

void cmd_config_set(CommandArgs &a)
{
    if (a.words.empty() || a.words.size() > 2) {
        return a.error("usage: config set <item> [<value>]");
    }
    const auto item = parse_uint(a.words[0], 0xFFFFFFFFu);
    if (!item) {
        return a.error("bad item '" + std::string(a.words[0]) + "'");
    }
    const ItemKind kind = item_kind(static_cast<uint32_t>(*item));
    const std::string_view text = a.words.size() == 2 ? a.words[1] : std::string_view();
    ConfigValue value{};
    if (kind.integer) {
        // Integer items are signed on the module's side.
        const bool negative = !text.empty() && text[0] == '-';
        const auto n =
            parse_uint(negative ? text.substr(1) : text, negative ? 0x80000000u : 0x7FFFFFFFu);
        if (!n) {
            return a.error(
                strf("item %llu takes an integer", static_cast<unsigned long long>(*item)));
        }
        const uint32_t v = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(*n))
                                    : static_cast<uint32_t>(*n);
        for (size_t i = 0; i < 4; ++i) {
            value[i] = static_cast<uint8_t>(v >> (8 * i));
        }
    } else if (kind.text_len > 0) {
        if (text.size() > kind.text_len) {
            return a.error(strf("item %llu takes at most %zu characters",
                                static_cast<unsigned long long>(*item), kind.text_len));
        }
        std::copy(text.begin(), text.end(), value.begin());
    } else if (!text.empty()) {
        return a.error(strf("item %llu has no value", static_cast<unsigned long long>(*item)));
    }
    a.model.registration.config[static_cast<uint32_t>(*item)] = value;
    a.ok(describe_item(static_cast<uint32_t>(*item), value));
}

} // namespace zol::imsd
