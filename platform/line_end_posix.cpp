#include "platform/line_end.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

struct LineEnd {
    int fd;
    int heldFd;  // a pseudo-terminal's other side, or -1
};

struct Wakeup {
    int fd;
};

namespace {

bool MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != B0 && cfsetspeed(&tio, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}

void CloseQuietly(int fd) {
    if (fd >= 0) close(fd);
}

// Polls `fd` for `events` and the wakeup's descriptor.
int Wait(int fd, short events, Wakeup *wakeup, int32_t milliseconds) {
    pollfd p[2] = {{fd, events, 0}, {wakeup->fd, POLLIN, 0}};
    for (;;) {
        const int ready = poll(p, 2, milliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -errno;
        if (ready == 0) return kWaitTimedOut;
        // The counter is left as it is: every later wait ends too.
        if (p[1].revents != 0) return kWaitWoken;
        return kWaitReady;  // also on a hang-up: the read says so
    }
}

}  // namespace

bool PseudoTerminalsAvailable() { return true; }

int LineEndOpenPseudoTerminal(LineEnd **end, std::string *path) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        const int error = errno;
        CloseQuietly(fd);
        return error;
    }
    const int held = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Raw before anyone sees the path: an echoing line would send every
    // request straight back.
    if (held < 0 || !MakeRaw(held, B0)) {
        const int error = errno;
        CloseQuietly(held);
        close(fd);
        return error;
    }
    *path = name;
    *end = new LineEnd{fd, held};
    return 0;
}

int LineEndOpenDevice(const char *device, uint32_t baud, LineEnd **end) {
    const speed_t speed = SpeedOf(baud);
    if (speed == B0) return ERANGE;
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (!MakeRaw(fd, speed)) {
        const int error = errno;
        close(fd);
        return error;
    }
    *end = new LineEnd{fd, -1};
    return 0;
}

void LineEndClose(LineEnd *end) {
    if (end == nullptr) return;
    close(end->fd);
    CloseQuietly(end->heldFd);
    delete end;
}

int32_t LineEndRead(LineEnd *end, uint8_t *buffer, int32_t capacity) {
    for (;;) {
        const ssize_t n = read(end->fd, buffer, static_cast<size_t>(capacity));
        if (n > 0) return static_cast<int32_t>(n);
        if (n == 0) return -EIO;
        if (errno == EINTR) continue;
        return errno == EAGAIN ? 0 : -errno;
    }
}

int32_t LineEndWrite(LineEnd *end, const uint8_t *data, int32_t length) {
    for (;;) {
        const ssize_t n = write(end->fd, data, static_cast<size_t>(length));
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN ? 0 : -errno;
    }
}

int WakeupCreate(Wakeup **wakeup) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return errno;
    *wakeup = new Wakeup{fd};
    return 0;
}

void WakeupDestroy(Wakeup *wakeup) {
    if (wakeup == nullptr) return;
    close(wakeup->fd);
    delete wakeup;
}

void WakeupSignal(Wakeup *wakeup) {
    const uint64_t one = 1;
    if (write(wakeup->fd, &one, sizeof one) < 0) {
        // The counter is full: a wake is pending already.
    }
}

int WaitForDatagram(UdpSocket socket, Wakeup *wakeup, int32_t milliseconds) {
    return Wait(static_cast<int>(socket), POLLIN, wakeup, milliseconds);
}

int WaitForLine(LineEnd *end, bool toWrite, Wakeup *wakeup, int32_t milliseconds) {
    return Wait(end->fd, toWrite ? POLLOUT : POLLIN, wakeup, milliseconds);
}

}  // namespace platform
