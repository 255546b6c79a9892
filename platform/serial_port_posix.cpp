#include "platform/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace platform {

// Line settings through termios2 (serial_line_posix.cpp): it takes any rate
// in bits per second, and its header cannot share a file with <termios.h>.
int ApplySerialLineSettings(int fd, uint32_t baud);

struct SerialPort {
    int fd;
};

namespace {

// Raises DTR and RTS. A device without modem-control lines (a pseudo-
// terminal) says so with ENOTTY or EINVAL, which is fine.
int RaiseModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) == 0) return 0;
    return errno == ENOTTY || errno == EINVAL ? 0 : errno;
}

void Release(int fd) {
    // Exclusive mode belongs to the terminal, not to this descriptor: left
    // set, it would keep every later open out while anyone else (a
    // simulator on the other end of a pseudo-terminal) holds the line.
    ioctl(fd, TIOCNXCL);
    close(fd);  // releases the lock with the descriptor
}

}  // namespace

void SerialPortDeviceOf(int32_t number, char *device, size_t size) {
    std::snprintf(device, size, "/dev/ttyS%d", number - 1);
}

void SerialPortDeviceFor(const char *name, char *device, size_t size) { std::snprintf(device, size, "%s", name); }

int SerialPortOpen(const char *device, uint32_t baud, SerialPort **port, const char **failedStep) {
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *failedStep = "cannot open";
        return errno;
    }
    // Two programs on one line would interleave their frames: take it alone.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        *failedStep = "cannot lock";
        return error;
    }
    ioctl(fd, TIOCEXCL);  // also keeps out programs that do not lock
    int error = ApplySerialLineSettings(fd, baud);
    if (error == 0) error = RaiseModemLines(fd);
    if (error != 0) {
        Release(fd);
        *failedStep = "cannot configure";
        return error;
    }
    tcflush(fd, TCIOFLUSH);
    *port = new SerialPort{fd};
    return 0;
}

void SerialPortClose(SerialPort *port) {
    if (port == nullptr) return;
    Release(port->fd);
    delete port;
}

int32_t SerialPortRead(SerialPort *port, uint8_t *buffer, int32_t capacity, int32_t waitMs) {
    for (bool waited = false;; waited = true) {
        const ssize_t n = read(port->fd, buffer, static_cast<size_t>(capacity));
        if (n > 0) return static_cast<int32_t>(n);
        // One byte satisfies a read and an empty queue is EAGAIN, so a read
        // of 0 can only mean a hang-up.
        if (n == 0) return -EIO;
        if (errno != EAGAIN && errno != EINTR) return -errno;
        if (waited || waitMs <= 0) return 0;
        pollfd p{port->fd, POLLIN, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready <= 0) return 0;
        if ((p.revents & POLLIN) == 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return -EIO;
    }
}

int32_t SerialPortWrite(SerialPort *port, const uint8_t *data, int32_t length, int32_t waitMs) {
    int32_t sent = 0;
    int32_t budgetMs = waitMs;
    while (sent < length) {
        const ssize_t n = write(port->fd, data + sent, static_cast<size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return -errno;
        pollfd p{port->fd, POLLOUT, 0};
        if (budgetMs <= 0 || poll(&p, 1, 10) < 0) break;
        budgetMs -= 10;
    }
    return sent;
}

void SerialPortDiscardInput(SerialPort *port) { tcflush(port->fd, TCIFLUSH); }

std::string SerialPortOwnerGroup(const char *device) {
    struct stat info {};
    if (stat(device, &info) != 0) return {};
    group entry{};
    group *found = nullptr;
    std::vector<char> buffer(4096);
    if (getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
    return found->gr_name;
}

}  // namespace platform
