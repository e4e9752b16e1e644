#include "reg_records.h"

#include <algorithm>

#include "record_reader.h"
#include "records.h"

namespace zol::imsd {

std::optional<uint32_t> decode_word_request(std::span<const uint8_t> payload)
{
    if (payload.size() != 4) {
        return std::nullopt;
    }
    return RecordReader(payload).u32(0);
}

std::optional<SetConfig> decode_set_config(std::span<const uint8_t> payload)
{
    if (payload.size() != kSetConfigLen) {
        return std::nullopt;
    }
    SetConfig set;
    set.item = RecordReader(payload).u32(0);
    std::copy_n(payload.begin() + 4, kConfigValueLen, set.value.begin());
    return set;
}

std::vector<uint8_t> encode_run_status(uint32_t status)
{
    RecordWriter w;
    w.u32(status);
    return w.take();
}

std::vector<uint8_t> encode_config_conf(uint32_t item, const ConfigValue &value)
{
    RecordWriter w;
    w.u32(item);
    for (uint8_t b : value) {
        w.u8(b);
    }
    w.zeros(kConfigConfLen - w.size());
    return w.take();
}

} // namespace zol::imsd
