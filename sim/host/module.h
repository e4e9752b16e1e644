// Loading the module as a handset's RIL host does: dlopen, then RIL_Init with
// the host's RIL_Env. Shared by zol-host and zol-rild.
#ifndef ZOL_HOST_MODULE_H
#define ZOL_HOST_MODULE_H

#include <string>

#include "host.h"
#include "ril.h"

namespace zol_host {

// Where the agent inside the module looks for the IMS stack.
std::string stack_socket_path();

// Says once, before loading, when no IMS stack listens where the agent will
// look. The module's radio functions, attached to host; null with the reason in
// error. The module is never unloaded: its threads live as long as the process.
// Progress lines go to say, each starting with who ("zol-host: ").
const RIL_RadioFunctions *load_module(const std::string &path, Host &host, Output &say,
                                      const std::string &who, std::string &error);

} // namespace zol_host

#endif
