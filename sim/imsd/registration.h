// IMS registration (the run status) and the configuration items of the stack.
#ifndef ZOL_IMSD_REGISTRATION_H
#define ZOL_IMSD_REGISTRATION_H

#include <cstdint>
#include <map>
#include <vector>

#include "frame.h"
#include "reg_records.h"

namespace zol::imsd {

class Context;
class Network;
struct CommandArgs;
struct Model;

inline constexpr uint32_t kRunStatusUnregistered = 0;
inline constexpr uint32_t kRunStatusRegistered = 1;

struct Registration {
    uint32_t run_status = kRunStatusRegistered;
    // Items written with message 21 or `config set`; an absent item reads as zeros.
    std::map<uint32_t, ConfigValue> config;
};

// What a newly connected agent is told first.
std::vector<Frame> frames_on_connect(const Registration &reg);

// With a real network the stack starts unregistered and asks to register.
void attach_network(Model &model, Network *network);
// The network's registration outcome; a change is reported to the agent.
void on_network_registration(Context &ctx, bool registered);

void on_get_run_status(Context &ctx);
void on_get_config(Context &ctx);
void on_set_config(Context &ctx);
void on_set_registration(Context &ctx);

void cmd_register(CommandArgs &a);
void cmd_config(CommandArgs &a);
void cmd_config_set(CommandArgs &a);

} // namespace zol::imsd

#endif
