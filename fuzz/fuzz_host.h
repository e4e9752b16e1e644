// The host side of the fuzz targets: a RIL_Env whose callbacks read every
// byte the module hands over, tokens the way rild makes them, and the switch
// of the fake IPC agent.
#ifndef ZOL_FUZZ_HOST_H
#define ZOL_FUZZ_HOST_H

#include <cstddef>
#include <cstdint>

#include "reference_zol.h"

namespace zol_fuzz {

// A host token: the module reads its first word as the request's serial;
// the others tell the host how to read the completion's data.
struct Token {
    int32_t serial;
    int32_t request;
    bool plain; // read the data as bytes only, whatever the request
};

const RIL_Env *host_env();

// Sets the answer the fake agent gives every send: 0 sent, anything else failed.
void agent_set_send_result(int result);

// Binds the module to the fake agent and to host_env(), without starting the
// event thread; once per process.
void bring_up_module();

} // namespace zol_fuzz

extern "C" {
// Exported by the fake agent library.
void zol_fuzz_agent_set_send_result(int result);
}

#endif // ZOL_FUZZ_HOST_H
