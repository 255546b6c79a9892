#include "platform/app_paths.h"

#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string EnvironmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string UserDataFolder() {
    const std::string data = EnvironmentValue("XDG_DATA_HOME");
    if (!data.empty() && data[0] == '/') return data;
    const std::string home = EnvironmentValue("HOME");
    return home.empty() ? std::string() : home + "/.local/share";
}

std::string JoinPath(const std::string &folder, const std::string &name) { return folder + "/" + name; }

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace platform
