#include "platform/serial_port.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

namespace platform {

struct SerialPort {
    HANDLE handle;
    HANDLE claim;  // the named mutex that says this program has the port
    // The read wait and write wait last given to SetCommTimeouts: set again
    // only when a call asks for another.
    int32_t readWaitMs;
    int32_t writeWaitMs;
};

namespace {

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return EBUSY;  // another program has the port
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        default:
            return EIO;
    }
}

// A read returns what has arrived at once; with nothing there it waits up to
// readWaitMs for the first byte (MAXDWORD, MAXDWORD, n: "return as soon as
// one byte is in, or after n ms"). 0 makes it return at once. A write may
// take up to writeWaitMs.
bool ApplyTimeouts(SerialPort &port, int32_t readWaitMs, int32_t writeWaitMs) {
    if (port.readWaitMs == readWaitMs && port.writeWaitMs == writeWaitMs) return true;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = readWaitMs > 0 ? MAXDWORD : 0;
    t.ReadTotalTimeoutConstant = readWaitMs > 0 ? static_cast<DWORD>(readWaitMs) : 0;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(writeWaitMs > 0 ? writeWaitMs : 1);
    if (!SetCommTimeouts(port.handle, &t)) return false;
    port.readWaitMs = readWaitMs;
    port.writeWaitMs = writeWaitMs;
    return true;
}

// Raw 8N1 at `baud`, no flow control of any kind, DTR and RTS raised.
int ApplyLineSettings(HANDLE handle, uint32_t baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return ErrnoOf(GetLastError());
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(handle, &dcb)) return ErrnoOf(GetLastError());
    // A driver that cannot do the rate may keep another one; more than 3 %
    // off garbles every byte, so that counts as refused.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!GetCommState(handle, &applied)) return ErrnoOf(GetLastError());
    const uint64_t got = applied.BaudRate;
    const uint64_t diff = got > baud ? got - baud : baud - got;
    if (diff * 100 > uint64_t(baud) * 3) return EINVAL;
    return 0;
}

// A port's driver refuses a second open, but not every driver does (wine's
// ports are pseudo-terminals that any number may open): a named mutex per
// device, as flock is on POSIX, keeps a second of these programs off the
// line. False when another program holds it; a mutex the system will not
// make (a namespace refused) leaves the driver's own refusal as the only one.
bool ClaimDevice(const char *device, HANDLE *claim) {
    std::wstring name = L"Global\\dnc-serial-";
    for (const char *c = device; *c != '\0'; ++c) {
        const wchar_t w = wchar_t(static_cast<unsigned char>(*c));
        name += w == L'\\' ? L'_' : wchar_t(towupper(w));  // COM names are not case-sensitive
    }
    *claim = CreateMutexW(nullptr, FALSE, name.c_str());
    if (*claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(*claim);
        *claim = nullptr;
        return false;
    }
    return true;
}

}  // namespace

void SerialPortDeviceOf(int32_t number, char *device, size_t size) {
    std::snprintf(device, size, "\\\\.\\COM%d", number);
}

void SerialPortDeviceFor(const char *name, char *device, size_t size) {
    // COM1 to COM9 open by their plain names, COM10 and up only through the
    // device namespace; every COMn goes there alike.
    const bool com = (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
                     (name[2] == 'M' || name[2] == 'm') && name[3] >= '1' && name[3] <= '9' &&
                     std::strspn(name + 3, "0123456789") == std::strlen(name + 3);
    std::snprintf(device, size, com ? "\\\\.\\COM%s" : "%s", com ? name + 3 : name);
}

int SerialPortOpen(const char *device, uint32_t baud, SerialPort **port, const char **failedStep) {
    // No sharing: a second program's open fails while this one holds it.
    const HANDLE handle =
        CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *failedStep = "cannot open";
        return ErrnoOf(GetLastError());
    }
    HANDLE claim = nullptr;
    if (!ClaimDevice(device, &claim)) {
        CloseHandle(handle);
        *failedStep = "cannot lock";
        return EBUSY;
    }
    auto *opened = new SerialPort{handle, claim, -1, -1};
    int error = ApplyLineSettings(handle, baud);
    if (error == 0 && !ApplyTimeouts(*opened, 0, 1000)) error = ErrnoOf(GetLastError());
    if (error != 0) {
        SerialPortClose(opened);
        *failedStep = "cannot configure";
        return error;
    }
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    *port = opened;
    return 0;
}

void SerialPortClose(SerialPort *port) {
    if (port == nullptr) return;
    CloseHandle(port->handle);
    if (port->claim != nullptr) CloseHandle(port->claim);
    delete port;
}

int32_t SerialPortRead(SerialPort *port, uint8_t *buffer, int32_t capacity, int32_t waitMs) {
    if (!ApplyTimeouts(*port, waitMs, port->writeWaitMs)) return -ErrnoOf(GetLastError());
    DWORD got = 0;
    if (!ReadFile(port->handle, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
        return -ErrnoOf(GetLastError());
    }
    return static_cast<int32_t>(got);
}

int32_t SerialPortWrite(SerialPort *port, const uint8_t *data, int32_t length, int32_t waitMs) {
    if (!ApplyTimeouts(*port, port->readWaitMs, waitMs)) return -ErrnoOf(GetLastError());
    DWORD written = 0;
    if (!WriteFile(port->handle, data, static_cast<DWORD>(length), &written, nullptr)) {
        // A write that ran out of time reports how far it got.
        if (GetLastError() != ERROR_TIMEOUT && written == 0) return -ErrnoOf(GetLastError());
    }
    return static_cast<int32_t>(written);
}

void SerialPortDiscardInput(SerialPort *port) { PurgeComm(port->handle, PURGE_RXABORT | PURGE_RXCLEAR); }

// A port another program holds is refused as in use; there is no group to
// join.
std::string SerialPortOwnerGroup(const char *) { return {}; }

}  // namespace platform
