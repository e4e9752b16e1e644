#include "module.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace zol_host {
namespace {

// Whether a stack listens at path; why not when it does not. Only before the
// module's agent connects: the stack takes a new connection in place of the
// one it has.
bool probe_stack(const std::string &path, std::string &why)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        why = strerror(errno);
        return false;
    }
    if (!S_ISSOCK(st.st_mode)) {
        why = "not a socket";
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        why = "path too long";
        return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    // A probe of the other socket type: the kernel says EPROTOTYPE when a stack is
    // bound there and ECONNREFUSED when the file is left over, and the stack never
    // sees a connection it would take for an agent.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    const int err = errno;
    close(fd);
    if (connected) {
        why = "a stream socket, not the stack's";
        return false;
    }
    if (err != EPROTOTYPE) {
        why = strerror(err);
        return false;
    }
    return true;
}

} // namespace

std::string stack_socket_path()
{
    const char *env = getenv("ZOL_IMSD_SOCKET");
    return env != nullptr && *env != '\0' ? env : "/tmp/zol-imsd.sock";
}

const RIL_RadioFunctions *load_module(const std::string &path, Host &host, Output &say,
                                      const std::string &who, std::string &error)
{
    const std::string stack = stack_socket_path();
    std::string why;
    const bool reachable = probe_stack(stack, why);
    if (!reachable) {
        say.line(who + "no IMS stack at " + stack + " (" + why +
                 "): requests that need it fail with Generic Failure until zol-imsd listens "
                 "there (ZOL_IMSD_SOCKET names the socket)");
        // The agent keeps looking in the background; no need to stall start-up.
        setenv("ZOL_IMSD_CONNECT_TIMEOUT_MS", "200", 0);
    }
    host.watch_stack(stack, reachable);
    say.line(who + "loading " + path);
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        error = reason != nullptr ? reason : "cannot load " + path;
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
