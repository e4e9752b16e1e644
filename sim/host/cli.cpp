#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "names.h"

namespace zol_host {

bool ArgReader::next()
{
    if (++i_ >= argc_) {
        return false;
    }
    name_ = argv_[i_];
    inline_value_.reset();
    if (const size_t eq = name_.find('='); name_.starts_with("--") && eq != std::string::npos) {
        inline_value_ = name_.substr(eq + 1);
        name_.resize(eq);
    }
    return true;
}

std::optional<std::string> ArgReader::value(std::string &error)
{
    if (inline_value_) {
        return inline_value_;
    }
    if (i_ + 1 < argc_) {
        return std::string(argv_[++i_]);
    }
    error = name_ + " needs a value";
    return std::nullopt;
}

std::optional<int> ArgReader::number(int low, std::string &error)
{
    const auto v = value(error);
    if (!v) {
        return std::nullopt;
    }
    const auto n = parse_int(*v);
    if (!n || *n < low) {
        error = name_ + " needs a whole number of at least " + std::to_string(low);
        return std::nullopt;
    }
    return n;
}

Taken take_common(ArgReader &args, CommonOptions &opt, std::string &error)
{
    const std::string &name = args.name();
    if (name == "--help" || name == "-h") {
        opt.help = true;
        return Taken::Yes;
    }
    if (name == "--version") {
        opt.version = true;
        return Taken::Yes;
    }
    std::string *text = name == "--module" ? &opt.module
                        : name == "--log"  ? &opt.log.target
                        : name == "--json" ? &opt.json
                                           : nullptr;
    if (text == nullptr && name != "--clock" && name != "--log-format") {
        return Taken::No;
    }
    const auto v = args.value(error);
    if (!v) {
        return Taken::Error;
    }
    if (text != nullptr) {
        *text = *v;
    } else if (name == "--clock") {
        if (!zol_sim::parse_clock(v->c_str(), opt.clock)) {
            error = "--clock takes wall or monotonic, not '" + *v + "'";
            return Taken::Error;
        }
    } else if (const auto f = parse_log_format(*v)) {
        opt.log.format = *f;
    } else {
        error = "--log-format takes plain or threadtime, not '" + *v + "'";
        return Taken::Error;
    }
    return Taken::Yes;
}

bool apply_common(const CommonOptions &opt, Output &out, Host &host, std::string &error)
{
    RadioLogOptions log = opt.log;
    log.clock = opt.clock;
    if (!install_radio_log(log, error)) {
        return false;
    }
    out.stamp_with(opt.clock);
    if (!opt.json.empty()) {
        FILE *file = opt.json == "-" ? stdout : fopen(opt.json.c_str(), "w");
        if (file == nullptr) {
            error = "cannot open " + opt.json + ": " + strerror(errno);
            return false;
        }
        // Never freed: the module's threads may complete requests until the end.
        host.set_json(new JsonLog(file, opt.clock));
    }
    return true;
}

std::optional<int> finish_options(const char *program, bool parsed, const std::string &error,
                                  const CommonOptions &opt, const char *short_usage,
                                  const char *help)
{
    if (!parsed) {
        std::cerr << program << ": " << error << "\n"
                  << short_usage << "see " << program << " --help\n";
        return kExitSetup;
    }
    if (opt.help) {
        std::cout << help;
        return 0;
    }
    if (opt.version) {
        std::cout << program << " " ZOL_SIM_VERSION "\n";
        return 0;
    }
    return std::nullopt;
}

void leave(int status)
{
    std::cout.flush();
    std::cerr.flush();
    fflush(nullptr);
    std::_Exit(status);
}

} // namespace zol_host
