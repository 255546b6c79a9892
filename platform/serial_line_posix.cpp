// Line settings through termios2, which takes any rate in bits per second
// (7200 and the other rates without a B-constant included). Kept apart
// because <asm/termbits.h> cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <errno.h>
#include <sys/ioctl.h>

#include <cstdint>


namespace platform {

// Applies raw 8N1, no flow control, and `baud` bits per second to an open
// terminal. 0 on success, else an errno value.
int ApplySerialLineSettings(int fd, uint32_t baud) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    // One byte satisfies a read; with O_NONBLOCK an empty queue is EAGAIN,
    // so a read of 0 can only mean a hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;

    // A driver that cannot do the rate may silently pick another one; more
    // than 3 % off garbles every byte, so that counts as refused.
    termios2 applied{};
    if (ioctl(fd, TCGETS2, &applied) != 0) return errno;
    const uint64_t got = applied.c_ospeed;
    const uint64_t diff = got > baud ? got - baud : baud - got;
    if (diff * 100 > uint64_t(baud) * 3) return EINVAL;
    return 0;
}

}  // namespace platform
