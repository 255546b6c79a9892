#include "platform/line_end.h"

#include <winsock2.h>
#include <windows.h>

#include <cerrno>

namespace platform {

// Windows has no pseudo-terminals, and the simulator serves it over UDP
// only: the line ends exist in name, their opens say ENOSYS.
struct LineEnd {};

struct Wakeup {
    HANDLE event;  // manual reset: once set, every wait ends
};

bool PseudoTerminalsAvailable() { return false; }

int LineEndOpenPseudoTerminal(LineEnd **, std::string *) { return ENOSYS; }
int LineEndOpenDevice(const char *, uint32_t, LineEnd **) { return ENOSYS; }
void LineEndClose(LineEnd *end) { delete end; }
int32_t LineEndRead(LineEnd *, uint8_t *, int32_t) { return -ENOSYS; }
int32_t LineEndWrite(LineEnd *, const uint8_t *, int32_t) { return -ENOSYS; }

int WakeupCreate(Wakeup **wakeup) {
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return ENOMEM;
    *wakeup = new Wakeup{event};
    return 0;
}

void WakeupDestroy(Wakeup *wakeup) {
    if (wakeup == nullptr) return;
    CloseHandle(wakeup->event);
    delete wakeup;
}

void WakeupSignal(Wakeup *wakeup) { SetEvent(wakeup->event); }

int WaitForDatagram(UdpSocket socket, Wakeup *wakeup, int32_t milliseconds) {
    // The socket's readiness as an event of its own: recorded at once when a
    // datagram is already waiting, and again after each receive that leaves
    // more behind. (It leaves the socket non-blocking; its receives do not
    // wait anyway.)
    const WSAEVENT readable = WSACreateEvent();
    if (readable == WSA_INVALID_EVENT) return -ENOMEM;
    if (WSAEventSelect(static_cast<SOCKET>(socket), readable, FD_READ) != 0) {
        WSACloseEvent(readable);
        return -EBADF;
    }
    const HANDLE both[2] = {readable, wakeup->event};
    const DWORD result =
        WaitForMultipleObjects(2, both, FALSE, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
    WSAEventSelect(static_cast<SOCKET>(socket), nullptr, 0);
    WSACloseEvent(readable);
    switch (result) {
        case WAIT_OBJECT_0:
            return kWaitReady;
        case WAIT_OBJECT_0 + 1:
            return kWaitWoken;
        case WAIT_TIMEOUT:
            return kWaitTimedOut;
        default:
            return -EIO;
    }
}

int WaitForLine(LineEnd *, bool, Wakeup *, int32_t) { return -ENOSYS; }

}  // namespace platform
