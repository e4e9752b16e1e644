#include "model.h"

#include <algorithm>
#include <array>

#include "text.h"

namespace zol::imsd {

namespace {

constexpr std::array<const char *, 8> kStateNames = {
    "idle", "dialing", "incoming", "active", "alerting", "releasing", "held", "waiting"};

} // namespace

uint32_t default_video_dir(CallType type)
{
    return type == CallType::video ? 3u : 0xFFFFFFFFu;
}

const char *call_dir_name(CallDir dir)
{
    return dir == CallDir::mt ? "mt" : "mo";
}

const char *call_type_name(CallType type)
{
    return type == CallType::video ? "video" : "voice";
}

const char *call_state_name(CallState state)
{
    const auto index = static_cast<uint32_t>(state) - 1;
    return index < kStateNames.size() ? kStateNames[index] : "?";
}

std::optional<CallDir> parse_call_dir(std::string_view text)
{
    if (text == "mo") {
        return CallDir::mo;
    }
    if (text == "mt") {
        return CallDir::mt;
    }
    return std::nullopt;
}

std::optional<CallType> parse_call_type(std::string_view text)
{
    if (text == "voice") {
        return CallType::voice;
    }
    if (text == "video") {
        return CallType::video;
    }
    return std::nullopt;
}

std::optional<CallState> parse_call_state(std::string_view text)
{
    for (size_t i = 0; i < kStateNames.size(); ++i) {
        if (text == kStateNames[i]) {
            return static_cast<CallState>(i + 1);
        }
    }
    if (const auto n = parse_uint(text, kStateNames.size()); n && *n >= 1) {
        return static_cast<CallState>(*n);
    }
    return std::nullopt;
}

std::string check_call(const Call &call)
{
    if (call.id == 0) {
        return "call id must be 1..255";
    }
    if (call.number.size() > kMaxNumberLen) {
        return strf("number longer than %zu characters", kMaxNumberLen);
    }
    if (call.text.size() > kMaxTextLen) {
        return strf("text longer than %zu characters", kMaxTextLen);
    }
    return {};
}

const Call *CallTable::find(uint8_t id) const
{
    const auto it =
        std::find_if(calls_.begin(), calls_.end(), [id](const Call &c) { return c.id == id; });
    return it == calls_.end() ? nullptr : &*it;
}

Call *CallTable::find(uint8_t id)
{
    return const_cast<Call *>(static_cast<const CallTable *>(this)->find(id));
}

bool CallTable::add(Call call)
{
    const auto it = std::lower_bound(calls_.begin(), calls_.end(), call.id,
                                     [](const Call &c, uint8_t id) { return c.id < id; });
    if (it != calls_.end() && it->id == call.id) {
        return false;
    }
    calls_.insert(it, std::move(call));
    return true;
}

bool CallTable::remove(uint8_t id)
{
    const auto it =
        std::find_if(calls_.begin(), calls_.end(), [id](const Call &c) { return c.id == id; });
    if (it == calls_.end()) {
        return false;
    }
    calls_.erase(it);
    return true;
}

} // namespace zol::imsd
