// What zol-host and zol-rild share on the command line: the reading of
// "--name value" and "--name=value", and the options both take (the module,
// the radio log, the clock, --json, --version, --help) with their effect.
#ifndef ZOL_HOST_CLI_H
#define ZOL_HOST_CLI_H

#include <memory>
#include <optional>
#include <string>

#include "host.h"
#include "json_log.h"
#include "output.h"
#include "radio_log.h"
#include "timestamp.h"

namespace zol_host {

class ArgReader {
public:
    ArgReader(int argc, char **argv) : argc_(argc), argv_(argv) {}
    // The next option's name ("--log"); false at the end.
    bool next();
    const std::string &name() const { return name_; }
    // Its value, given as --name=value or as the next word; nothing (with
    // the reason in error) when there is none.
    std::optional<std::string> value(std::string &error);
    // A whole number of at least low.
    std::optional<int> number(int low, std::string &error);

private:
    int argc_;
    char **argv_;
    int i_ = 0;
    std::string name_;
    std::optional<std::string> inline_value_;
};

struct CommonOptions {
    std::string module;
    RadioLogOptions log;
    zol_sim::Clock clock = zol_sim::clock_from_env();
    std::string json; // empty: no JSON
    bool help = false;
    bool version = false;
};

enum class Taken { Yes, No, Error };
// Takes the reader's current option when it is a common one.
Taken take_common(ArgReader &args, CommonOptions &opt, std::string &error);

// Opens the radio log and the JSON file and stamps the output with the clock.
// The JSON log lives as long as the process.
bool apply_common(const CommonOptions &opt, Output &out, Host &host, std::string &error);

// After the options are read: a bad one gets the short usage and where the
// manual is, --help the manual, --version the version. The exit status when
// the program is done with that, nothing when it goes on.
std::optional<int> finish_options(const char *program, bool parsed, const std::string &error,
                                  const CommonOptions &opt, const char *short_usage,
                                  const char *help);

// The module's threads run for the life of the process and may still call the
// host: leave without running destructors, as a real host never unloads it.
[[noreturn]] void leave(int status);

constexpr int kExitSetup = 2; // bad options, a module that cannot be loaded

} // namespace zol_host

#endif
