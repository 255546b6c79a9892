#include "link/serial_link.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/link_internal.h"

namespace dnclink {

const BaudRateEntry BaudRateTable[kBaudRateCount] = {
    {"50", 0, 50, "50"},
    {"75", 1, 75, "75"},
    {"110", 2, 110, "110"},
    {"134", 3, 134, "134.5"},
    {"150", 4, 150, "150"},
    {"300", 5, 300, "300"},
    {"600", 6, 600, "600"},
    {"1200", 7, 1200, "1200"},
    {"1800", 8, 1800, "1800"},
    {"2400", 9, 2400, "2400"},
    {"4800", 10, 4800, "4800"},
    {"7200", 11, 7200, "7200"},
    {"9600", 12, 9600, "9600"},
    {"19200", 13, 19200, "19200"},
    {"38400", 14, 38400, "38400"},
    {"57600", 15, 57600, "57600"},
    {"115200", 16, 115200, "115200"},
    {"230400", 17, 230400, "230400"},
    {"460800", 18, 460800, "460800"},
    {"921600", 19, 921600, "921600"},
};

namespace {

// Bytes read from the port in one go; handed to the engine one per call.
constexpr size_t kReceiveChunk = 4096;

struct SerialState {
    SerialConfig config;
    int fd = -1;
    char path[256];
    uint8_t received[kReceiveChunk];
    size_t receivedFill;
    size_t receivedNext;
    char lastError[640];
    int lastErrno;
    // A frame went out and no frame (no LF) has come back since; when the
    // next one goes out regardless (a try that timed out), its answer may
    // still be on its way.
    bool awaitingAnswer;
    bool answersMayBeInFlight;
};

SerialState serial{};

void RecordError(int error, const char *what) {
    serial.lastErrno = error;
    std::snprintf(serial.lastError, sizeof serial.lastError, "%s %s: %s", what, serial.path, std::strerror(error));
}

void CloseDescriptor() {
    if (serial.fd >= 0) {
        // Exclusive mode belongs to the terminal, not to this descriptor: left
        // set, it would keep every later open out while anyone else (a
        // simulator on the other end of a pseudo-terminal) holds the line.
        ioctl(serial.fd, TIOCNXCL);
        close(serial.fd);  // releases the lock with the descriptor
        serial.fd = -1;
    }
    serial.config.open = false;
    serial.receivedFill = serial.receivedNext = 0;
    serial.awaitingAnswer = false;
    serial.answersMayBeInFlight = false;
}

// The device went away (unplugged, other end of a pseudo-terminal closed):
// the port ends closed, so requests fail after their retries instead of the
// link spinning on a dead descriptor.
void CloseAfterFailure(int error, const char *what) {
    RecordError(error, what);
    CloseDescriptor();
}

void RecordSelection(int32_t port, int32_t baudIndex) {
    CloseDescriptor();
    SerialConfig &c = serial.config;
    c.port = port;
    c.baudIndex = baudIndex;
    c.baudCode = baudIndex >= 0 && baudIndex < kBaudRateCount ? BaudRateTable[baudIndex].code : 0;
    c.parityCode = 0;
    c.dataBitsCode = 3;
    c.stopBitsCode = 0;
    c.hardwareHandshake = false;
    c.softwareHandshake = false;
    c.dtr = true;
    c.rts = true;
}

// Raises DTR and RTS. A device without modem-control lines (a pseudo-
// terminal) says so with ENOTTY or EINVAL, which is fine.
int RaiseModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) == 0) return 0;
    return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}


// Milliseconds `characters` take on the line at the selected rate, 10 bits
// each (start, 8 data, stop), rounded up.
int64_t LineTimeMs(size_t characters) {
    const uint32_t baud = BaudRateOf(serial.config.baudIndex);
    if (baud == 0) return 0;
    return static_cast<int64_t>((uint64_t(characters) * 10 * 1000 + baud - 1) / baud);
}

// Reads what is waiting into the receive chunk. True when bytes came.
bool FillFromPort() {
    const ssize_t n = read(serial.fd, serial.received, sizeof serial.received);
    if (n > 0) {
        serial.receivedFill = static_cast<size_t>(n);
        serial.receivedNext = 0;
        return true;
    }
    if (n == 0) {
        CloseAfterFailure(EIO, "hang-up on");
    } else if (errno != EAGAIN && errno != EINTR) {
        CloseAfterFailure(errno, "read from");
    }
    return false;
}

}  // namespace

uint32_t BaudRateOf(int32_t baudIndex) {
    return baudIndex >= 0 && baudIndex < kBaudRateCount ? BaudRateTable[baudIndex].rate : 0;
}

int32_t BaudIndexOf(const char *text) {
    for (int32_t i = 0; i < kBaudRateCount; ++i) {
        if (std::strcmp(text, BaudRateTable[i].text) == 0 || std::strcmp(text, BaudRateTable[i].listText) == 0) return i;
    }
    return -1;
}

int32_t SerialSelect(int32_t port, int32_t baudIndex) {
    RecordSelection(port, baudIndex);
    std::snprintf(serial.path, sizeof serial.path, "/dev/ttyS%d", port - 1);
    return 0;
}

int32_t SerialSelectDevice(const char *path, int32_t baudIndex) {
    RecordSelection(0, baudIndex);
    std::snprintf(serial.path, sizeof serial.path, "%s", path);
    return 0;
}

bool SerialOpen() {
    CloseDescriptor();
    serial.lastError[0] = '\0';
    serial.lastErrno = 0;
    const uint32_t baud = BaudRateOf(serial.config.baudIndex);
    if (baud == 0) {
        RecordError(EINVAL, "no such rate for");
        return false;
    }
    const int fd = open(serial.path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        RecordError(errno, "cannot open");
        return false;
    }
    // Two programs on one line would interleave their frames: take it alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        RecordError(error, "cannot lock");
        return false;
    }
    ioctl(fd, TIOCEXCL);  // also keeps out programs that do not lock
    int error = detail::ApplyLineSettings(fd, baud);
    if (error == 0) error = RaiseModemLines(fd);
    if (error != 0) {
        ioctl(fd, TIOCNXCL);  // as in CloseDescriptor: or the next open is refused
        close(fd);
        RecordError(error, "cannot configure");
        return false;
    }
    // Whatever waits in the port was meant for whoever had it before: a late
    // answer to another process's request must not answer this one's.
    tcflush(fd, TCIOFLUSH);
    serial.fd = fd;
    serial.receivedFill = serial.receivedNext = 0;
    serial.config.open = true;
    return true;
}

bool SerialClose() {
    CloseDescriptor();
    return true;
}

bool SerialAnswersMayBeInFlight() {
    return serial.config.open && (serial.answersMayBeInFlight || serial.awaitingAnswer);
}

void SerialDrainLateAnswers(int quietMs, int longestMs) {
    if (!serial.config.open) return;
    const int64_t start = detail::NowMs();
    int64_t quietSince = start;
    uint8_t discard[kReceiveChunk];
    for (int64_t now = start; now - quietSince < quietMs && now - start < longestMs; now = detail::NowMs()) {
        pollfd p{serial.fd, POLLIN, 0};
        const int wait = static_cast<int>(std::min<int64_t>(quietMs - (now - quietSince), longestMs - (now - start)));
        if (poll(&p, 1, std::max(wait, 1)) > 0) {
            if (read(serial.fd, discard, sizeof discard) <= 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                break;
            }
            quietSince = detail::NowMs();
        }
    }
    serial.receivedFill = serial.receivedNext = 0;
    serial.awaitingAnswer = false;
    serial.answersMayBeInFlight = false;
}

const SerialConfig &CurrentSerialConfig() { return serial.config; }

const char *SerialDevicePath() { return serial.path; }

const char *SerialLastError() { return serial.lastError; }

int SerialLastErrno() { return serial.lastErrno; }

namespace detail {

// Hands out the next received byte, noting the end of a frame.
uint8_t TakeReceived() {
    const uint8_t b = serial.received[serial.receivedNext++];
    if (b == '\n') serial.awaitingAnswer = false;
    return b;
}

uint8_t SerialReceiveByte() {
    if (serial.config.open) {
        if (serial.receivedNext < serial.receivedFill) return TakeReceived();
        if (FillFromPort()) return TakeReceived();
    }
    if (serial.config.open) {
        // Nothing waiting: sleep until a byte comes or 1 ms passes, so the
        // engine's wait never spins a core.
        pollfd p{serial.fd, POLLIN, 0};
        const int ready = poll(&p, 1, 1);
        if (ready > 0) {
            if (FillFromPort()) return TakeReceived();
            if (serial.config.open && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                CloseAfterFailure(EIO, "hang-up on");
            }
        }
    } else {
        // The engine keeps asking until its time-out runs out; with no port
        // (never opened, or closed after a hang-up) the wait must still
        // sleep, or every request would burn a core for its whole time-out.
        poll(nullptr, 0, 1);
    }
    RunIdleHook();
    return 255;
}

void SerialSendFrame(const char *text, size_t length) {
    if (!serial.config.open) return;
    // An answer that came too late for an earlier try must not be read as
    // the answer to this frame.
    tcflush(serial.fd, TCIFLUSH);
    serial.receivedFill = serial.receivedNext = 0;
    if (serial.awaitingAnswer) serial.answersMayBeInFlight = true;
    serial.awaitingAnswer = true;

    // The whole frame goes out, also at slow rates: allow its transmission
    // time plus a second before giving up on a stuck line.
    const int64_t lineMs = LineTimeMs(length);
    const int64_t start = detail::NowMs();
    int64_t budgetMs = 1000 + lineMs;
    size_t sent = 0;
    while (sent < length) {
        const ssize_t n = write(serial.fd, text + sent, length - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            CloseAfterFailure(errno, "write to");
            return;
        }
        pollfd p{serial.fd, POLLOUT, 0};
        if (budgetMs <= 0 || poll(&p, 1, 10) < 0) return;
        budgetMs -= 10;
    }
    // The engine's wait for the answer starts when this returns, and the
    // controller cannot answer before the frame's last character reached
    // it: a full block at 9600 baud is 1.09 s on the line, which must not be
    // taken from the answer's wait. The port's buffer takes the frame at
    // once, and a pseudo-terminal carries it at no rate at all, so the time
    // comes from the configured rate. The window keeps painting meanwhile.
    for (int64_t left = start + lineMs - detail::NowMs(); left > 0; left = start + lineMs - detail::NowMs()) {
        poll(nullptr, 0, static_cast<int>(std::min<int64_t>(left, 10)));
        RunIdleHook();
    }
}

}  // namespace detail
}  // namespace dnclink
