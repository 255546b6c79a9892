// UTF-8 text as the rest of the tree holds it, UTF-16 as Windows' wide
// calls take it; the Win32 parts convert at their boundary and nowhere else.
#pragma once

#include <windows.h>

#include <string>

namespace platform {

inline std::wstring Wide(const std::string &text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

inline std::string Utf8(const wchar_t *text, size_t length) {
    if (length == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), narrow.data(), n, nullptr, nullptr);
    return narrow;
}

inline std::string Utf8(const std::wstring &text) { return Utf8(text.data(), text.size()); }

}  // namespace platform
