#include "platform/app_paths.h"

#include <windows.h>

#include <cstdlib>

#include "platform/text_win32.h"

namespace platform {

std::string EnvironmentValue(const char *name) {
    const wchar_t *value = _wgetenv(Wide(name).c_str());
    return value != nullptr ? Utf8(value, wcslen(value)) : std::string();
}

std::string UserDataFolder() { return EnvironmentValue("LOCALAPPDATA"); }

std::string JoinPath(const std::string &folder, const std::string &name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

}  // namespace platform
