#include "module.h"

#include <dlfcn.h>

namespace zol_host {

const RIL_RadioFunctions *load_module(const std::string &path, Host &host, Output &say,
                                      const std::string &who, std::string &error)
{
    say.line(who + "loading " + path);
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *why = dlerror();
        error = why != nullptr ? why : "cannot load " + path;
        return nullptr;
    }
    using InitFn = const RIL_RadioFunctions *(*)(const struct RIL_Env *);
    auto init = reinterpret_cast<InitFn>(dlsym(handle, "RIL_Init"));
    if (init == nullptr) {
        error = path + " has no RIL_Init";
        return nullptr;
    }
    say.line(who + "calling RIL_Init (the production module waits about 30 s for the IMS stack "
             "before it returns)");
    const RIL_RadioFunctions *radio = init(Host::env());
    if (radio == nullptr || radio->onRequest == nullptr) {
        error = "RIL_Init returned no usable radio functions";
        return nullptr;
    }
    host.attach(radio);
    const char *version = radio->getVersion != nullptr ? radio->getVersion() : nullptr;
    say.line(who + "module RIL version " + std::to_string(radio->version) + ", " +
             (version != nullptr ? version : "no version text"));
    return radio;
}

} // namespace zol_host
