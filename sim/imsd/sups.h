// Supplementary services: what the network keeps per subscriber (forwarding,
// waiting, barring, CLIR, CLIP, COLP) and how the five operations act on it.
#ifndef ZOL_IMSD_SUPS_H
#define ZOL_IMSD_SUPS_H

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sups_records.h"

namespace zol::imsd {

class Context;
struct CommandArgs;

// The classes forwarding is kept for, as the module names them.
inline constexpr uint8_t kClassVoice = 1;
inline constexpr uint8_t kClassVideo = 16;
inline constexpr uint8_t kDefaultNoReplyTime = 20;

struct Forwarding {
    bool active = false;
    std::string number; // empty: not registered
    uint8_t no_reply_time = kDefaultNoReplyTime;
};

struct SupsStore {
    // By (single forwarding code, class); absent means never registered.
    std::map<std::pair<uint32_t, uint8_t>, Forwarding> forwarding;
    // Waiting, CLIP, CLIR, COLP, COLR and the barring facilities, by code.
    std::map<uint32_t, bool> active = {
        {kSsWaiting, true}, {kSsClip, true},   {kSsClir, false},  {kSsColp, false},
        {kSsColr, false},   {kSsBarAO, false}, {kSsBarOI, false}, {kSsBarOX, false},
        {kSsBarAI, false},  {kSsBarIR, false},
    };
    std::string password = "0000";
    unsigned fail_next = 0;
};

struct SsAnswer {
    uint16_t message = 0; // 0: the operation has no confirmation
    std::vector<uint8_t> payload;
};

// Applies one operation and says what to confirm.
SsAnswer apply_ss(SupsStore &store, const SsRequest &req);

void on_sups_operation(Context &ctx);

void cmd_ss_show(CommandArgs &a);
void cmd_ss_fail(CommandArgs &a);
void cmd_ss_password(CommandArgs &a);
void cmd_ss_set(CommandArgs &a);
void cmd_ss_clear(CommandArgs &a);

} // namespace zol::imsd

#endif
