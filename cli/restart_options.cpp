#include "cli/restart_options.h"

#include <cerrno>
#include <cstdlib>

namespace dncctl {

bool TakeRestartOption(const std::vector<std::string> &args, size_t *i, RestartOptions *options,
                       std::string *error) {
    const std::string &option = args[*i];
    const struct {
        const char *name;
        nccmd::RestartFrom from;
    } points[] = {
        {"--from-line", nccmd::RestartFrom::kLine},
        {"--from-tool", nccmd::RestartFrom::kToolChange},
        {"--from-block", nccmd::RestartFrom::kBlockNumber},
    };
    const bool known = option == "--preamble" || option == "--show" || option == "--from-line" ||
                       option == "--from-tool" || option == "--from-block";
    if (!known) return false;
    if (option == "--show") {
        options->show = true;
        return true;
    }
    if (*i + 1 >= args.size()) {
        *error = option + " wants a value";
        return true;
    }
    const std::string &value = args[++*i];
    if (option == "--preamble") {
        if (value.empty()) *error = "--preamble wants a file";
        options->preambleFile = value;
        return true;
    }
    if (options->from) {
        *error = "give one of --from-line, --from-tool and --from-block";
        return true;
    }
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    const long long lowest = option == "--from-block" ? 0 : 1;
    if (value.empty() || *end != '\0' || errno != 0 || number < lowest) {
        *error = option + " wants a whole number from " + std::to_string(lowest) + ", not '" + value + "'";
        return true;
    }
    for (const auto &point : points) {
        if (option == point.name) options->from = point.from;
    }
    options->number = number;
    return true;
}

std::string CheckRestartOptions(const RestartOptions &options) {
    if (!options.Active() && (options.show || !options.preambleFile.empty())) {
        return "--preamble and --show go with --from-line, --from-tool or --from-block";
    }
    return "";
}

}  // namespace dncctl
