#include "platform/console.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/text_win32.h"

namespace platform {

namespace {

void (*interruptHandler)() = nullptr;
std::atomic<bool> handling{false};
HANDLE nextInterrupt = nullptr;

// Windows runs this on a thread of its own for each event. The first one
// runs the program's handler; one that comes while it runs wakes
// WaitForNextInterrupt instead.
BOOL WINAPI ConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            break;
        default:
            return FALSE;
    }
    if (handling.exchange(true)) {
        SetEvent(nextInterrupt);
        return TRUE;
    }
    interruptHandler();
    handling = false;
    return TRUE;
}

}  // namespace

void WatchInterrupts(void (*onInterrupt)()) {
    interruptHandler = onInterrupt;
    nextInterrupt = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(ConsoleEvent, TRUE);
}

bool WaitForNextInterrupt(int ms) {
    return nextInterrupt != nullptr && WaitForSingleObject(nextInterrupt, DWORD(ms)) == WAIT_OBJECT_0;
}

void WriteStandardError(std::string_view text) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    while (!text.empty()) {
        DWORD n = 0;
        if (!WriteFile(error, text.data(), DWORD(text.size()), &n, nullptr) || n == 0) return;
        text.remove_prefix(n);
    }
}

void PrepareStandardStreams() {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::vector<std::string> CommandLineArguments(int, char **) {
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide != nullptr && i < count; ++i) arguments.push_back(Utf8(wide[i], wcslen(wide[i])));
    if (wide != nullptr) LocalFree(wide);
    return arguments;
}

}  // namespace platform
