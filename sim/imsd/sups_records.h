// Supplementary-service records: the operation the module sends with message 51
// and the confirmations 30052..30056 the stack answers with.
#ifndef ZOL_IMSD_SUPS_RECORDS_H
#define ZOL_IMSD_SUPS_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zol::imsd {

enum SupsMessageId : uint16_t {
    kMsgSupsOperation = 51,
    kMsgSsActivateConf = 30052,
    kMsgSsDeactivateConf = 30053,
    kMsgSsEraseConf = 30054,
    kMsgSsInterrogateConf = 30055,
    kMsgSsRegisterConf = 30056,
};

enum class SsOp : uint32_t { reg = 1, erase = 2, activate = 3, deactivate = 4, interrogate = 5 };

// Service codes, the same in operations and confirmations.
enum SsCode : uint32_t {
    kSsNone = 0,
    kSsWaiting = 1,
    kSsCfAll = 2,
    kSsCfu = 3,
    kSsCfAllConditional = 4,
    kSsCfb = 5,
    kSsCfnry = 6,
    kSsCfnrc = 7,
    kSsBarAG = 8,
    kSsBarAO = 9,
    kSsBarOI = 10,
    kSsBarOX = 11,
    kSsBarAC = 12,
    kSsBarAI = 13,
    kSsBarIR = 14,
    kSsClip = 15,
    kSsClir = 16,
    kSsColp = 17,
    kSsColr = 18,
};

inline constexpr size_t kSsRequestLen = 167;
inline constexpr size_t kSsNumberWidth = 41;
inline constexpr size_t kSsIntervalWidth = 30;
inline constexpr size_t kSsPasswordWidth = 60;

// Enough for every forwarding reason in both classes.
inline constexpr size_t kMaxFwdFeatures = 8;
inline constexpr size_t kFwdFeatureLen = 88;
inline constexpr size_t kFwdListAt = 164;
// Every confirmation is sent whole, whatever it carries.
inline constexpr size_t kSsConfLen = kFwdListAt + kFwdFeatureLen * kMaxFwdFeatures;

// What a confirmation carries after b_success.
enum class SsInfo : uint32_t { none = 0, forwarding_list = 3, status = 5 };

struct SsRequest {
    uint32_t op = 0; // an SsOp, or whatever the module sent
    uint32_t code = 0;
    std::optional<std::string> number;
    std::optional<uint8_t> no_reply_time;
    std::optional<uint32_t> basic_service; // 1 voice (class 1), 2 (class 16)
    uint8_t service_class = 0;
    std::optional<std::string> time_interval;
    std::optional<std::string> password;
};

struct FwdFeature {
    uint32_t code = 0;
    std::optional<uint32_t> basic_service;
    uint8_t service_class = 0;
    bool registered = false;
    bool active = false;
    std::string number;
    std::optional<uint8_t> no_reply_time;
};

// Nullopt when the length is not the record's or number_len overruns its field.
std::optional<SsRequest> decode_ss_request(std::span<const uint8_t> payload);

// The confirmation answering an operation; 0 for an operation with none.
uint16_t ss_conf_message(uint32_t op);

// Success or failure with nothing more.
std::vector<uint8_t> encode_ss_conf(bool success);
std::vector<uint8_t> encode_ss_status_conf(uint32_t code, bool active);
// At most kMaxFwdFeatures entries; no entries sends the list as absent.
std::vector<uint8_t> encode_fwd_list_conf(std::span<const FwdFeature> features);

} // namespace zol::imsd

#endif
