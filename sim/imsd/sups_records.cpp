#include "sups_records.h"

#include <cassert>

#include "record_reader.h"
#include "records.h"

namespace zol::imsd {

namespace {

// Operation offsets.
constexpr size_t kOpAt = 0;
constexpr size_t kCodeAt = 5;
constexpr size_t kNumberPresentAt = 9;
constexpr size_t kNumberLenAt = 13;
constexpr size_t kNumberAt = 14;
constexpr size_t kNoReplyPresentAt = 55;
constexpr size_t kNoReplyAt = 59;
constexpr size_t kBasicPresentAt = 60;
constexpr size_t kBasicTypeAt = 64;
constexpr size_t kServiceClassAt = 68;
constexpr size_t kIntervalPresentAt = 69;
constexpr size_t kIntervalAt = 73;
constexpr size_t kPasswordPresentAt = 103;
constexpr size_t kPasswordAt = 107;

// Confirmation offsets.
constexpr size_t kFwdListPresentAt = 159;

// Counted characters without terminator, zero-padded to the field.
void chars(RecordWriter &w, const std::string &s, size_t width)
{
    const size_t n = s.size() < width ? s.size() : width;
    for (size_t i = 0; i < n; ++i) {
        w.u8(static_cast<uint8_t>(s[i]));
    }
    w.zeros(width - n);
}

void header(RecordWriter &w, bool success, SsInfo info)
{
    w.u32(success ? 1 : 0);
    w.u8(0);
    w.u32(static_cast<uint32_t>(info));
}

void write_feature(RecordWriter &w, const FwdFeature &f)
{
    [[maybe_unused]] const size_t start = w.size();
    w.u32(f.basic_service ? 1 : 0);
    w.u32(f.basic_service.value_or(0));
    w.u8(f.service_class);
    // Status: present, then quiescent, provisioned and registered, which the
    // module skips, then active.
    w.u32(1);
    w.u32(0);
    w.u32(1);
    w.u32(f.registered ? 1 : 0);
    w.u32(f.active ? 1 : 0);
    w.u32(f.number.empty() ? 0 : 1);
    const size_t len = f.number.size() < kSsNumberWidth ? f.number.size() : kSsNumberWidth;
    w.u8(static_cast<uint8_t>(len));
    chars(w, f.number, kSsNumberWidth);
    w.u32(f.no_reply_time ? 1 : 0);
    w.u8(f.no_reply_time.value_or(0));
    w.u32(1);
    w.u32(f.code);
    assert(w.size() - start == kFwdFeatureLen);
}

std::vector<uint8_t> whole(RecordWriter &w)
{
    w.zeros(kSsConfLen - w.size());
    return w.take();
}

} // namespace

std::optional<SsRequest> decode_ss_request(std::span<const uint8_t> payload)
{
    if (payload.size() != kSsRequestLen) {
        return std::nullopt;
    }
    const RecordReader r(payload);
    SsRequest req;
    req.op = r.u32(kOpAt);
    req.code = r.u32(kCodeAt);
    if (r.u32(kNumberPresentAt) != 0) {
        const uint8_t len = r.u8(kNumberLenAt);
        if (len > kSsNumberWidth) {
            return std::nullopt;
        }
        std::string number;
        for (size_t i = 0; i < len; ++i) {
            number.push_back(static_cast<char>(r.u8(kNumberAt + i)));
        }
        req.number = std::move(number);
    }
    if (r.u32(kNoReplyPresentAt) != 0) {
        req.no_reply_time = r.u8(kNoReplyAt);
    }
    if (r.u32(kBasicPresentAt) != 0) {
        req.basic_service = r.u32(kBasicTypeAt);
        req.service_class = r.u8(kServiceClassAt);
    }
    if (r.u32(kIntervalPresentAt) != 0) {
        req.time_interval = r.chars(kIntervalAt, kSsIntervalWidth);
    }
    if (r.u32(kPasswordPresentAt) != 0) {
        req.password = r.chars(kPasswordAt, kSsPasswordWidth);
    }
    return req;
}

uint16_t ss_conf_message(uint32_t op)
{
    switch (static_cast<SsOp>(op)) {
    case SsOp::reg:
        return kMsgSsRegisterConf;
    case SsOp::erase:
        return kMsgSsEraseConf;
    case SsOp::activate:
        return kMsgSsActivateConf;
    case SsOp::deactivate:
        return kMsgSsDeactivateConf;
    case SsOp::interrogate:
        return kMsgSsInterrogateConf;
    }
    return 0;
}

std::vector<uint8_t> encode_ss_conf(bool success)
{
    RecordWriter w;
    header(w, success, SsInfo::none);
    return whole(w);
}

std::vector<uint8_t> encode_ss_status_conf(uint32_t code, bool active)
{
    RecordWriter w;
    header(w, true, SsInfo::status);
    w.u32(1); // code present
    w.u32(code);
    w.u32(1);              // status present
    w.u32(0);              // quiescent
    w.u32(1);              // provisioned
    w.u32(active ? 1 : 0); // registered
    w.u32(active ? 1 : 0);
    return whole(w);
}

std::vector<uint8_t> encode_fwd_list_conf(std::span<const FwdFeature> features)
{
    assert(features.size() <= kMaxFwdFeatures);
    RecordWriter w;
    header(w, true, SsInfo::forwarding_list);
    w.zeros(kFwdListPresentAt - w.size());
    w.u32(features.empty() ? 0 : 1);
    w.u8(static_cast<uint8_t>(features.size()));
    for (const FwdFeature &f : features) {
        write_feature(w, f);
    }
    return whole(w);
}

} // namespace zol::imsd
