// Registration and configuration records: what the module sends with messages
// 20, 21 and 22, and the run status and configuration confirmation the stack sends.
#ifndef ZOL_IMSD_REG_RECORDS_H
#define ZOL_IMSD_REG_RECORDS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zol::imsd {

enum RegMessageId : uint16_t {
    kMsgGetRunStatus = 19,
    kMsgGetConfig = 20,
    kMsgSetConfig = 21,
    kMsgSetRegistration = 22,
    kMsgRunStatusInd = 30022,
    kMsgConfigConf = 30024,
};

inline constexpr size_t kConfigValueLen = 50;
inline constexpr size_t kSetConfigLen = 4 + kConfigValueLen;
// One byte more than the value field, so that even a text filling the whole
// field reaches the module terminated.
inline constexpr size_t kConfigConfLen = kSetConfigLen + 1;
inline constexpr size_t kRunStatusLen = 4;

// The value field as message 21 carries it: a text or a 32-bit integer at its start.
using ConfigValue = std::array<uint8_t, kConfigValueLen>;

struct SetConfig {
    uint32_t item = 0;
    ConfigValue value{};
};

// Messages 20 and 22: one 32-bit word. Nullopt for any other length.
std::optional<uint32_t> decode_word_request(std::span<const uint8_t> payload);
std::optional<SetConfig> decode_set_config(std::span<const uint8_t> payload);

std::vector<uint8_t> encode_run_status(uint32_t status);
std::vector<uint8_t> encode_config_conf(uint32_t item, const ConfigValue &value);

} // namespace zol::imsd

#endif
