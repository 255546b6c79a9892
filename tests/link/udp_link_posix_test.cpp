// The UDP link's behaviours that only a POSIX system lets a test provoke:
// memory that ends right behind a text, a descriptor swapped under the link,
// the process's list of open descriptors.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include "tests/link/udp_peer.h"

namespace udp_link_test {
namespace {

// A text that ends (zero byte) before any LF is no frame: nothing is sent,
// and nothing behind its end is read. The text sits at the very end of a
// page followed by an inaccessible one, so reading past it crashes.
TEST_F(UdpLinkTest, TextEndingBeforeAnLfIsNotSentAndNotReadPast) {
    const long page = sysconf(_SC_PAGESIZE);
    void *map = mmap(nullptr, size_t(2 * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char *base = static_cast<char *>(map);
    ASSERT_EQ(mprotect(base + page, size_t(page), PROT_NONE), 0);
    const char text[] = ":ghost";
    char *placed = base + page - sizeof text;
    std::memcpy(placed, text, sizeof text);
    LinkSendFrame(placed);
    munmap(map, size_t(2 * page));
    LinkSendFrame(":marker\r\n");
    EXPECT_EQ(peer.Receive(), ":marker\r\n");  // the first datagram: no ghost before it
}

// A failing receive is a missing answer like a time-out: 255 and no event
// (only failed sends are reported).
TEST_F(UdpLinkTest, ReceiveErrorIsNoAnswerWithoutAMemoLine) {
    // Put a descriptor that is no socket where the link's socket was, so
    // the receive itself fails (ENOTSOCK).
    const int notASocket = open("/dev/null", O_RDONLY);
    ASSERT_GE(notASocket, 0);
    ASSERT_EQ(dup2(notASocket, int(dnclink::UdpSocket())), int(dnclink::UdpSocket()));
    close(notASocket);
    uint8_t buffer[64];
    int32_t count = -1;
    EXPECT_EQ(LinkReceive(buffer, &count), 255);
    EXPECT_EQ(count, -1);
    EXPECT_TRUE(events.empty());
}

int OpenDescriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d) != nullptr) ++n;
    closedir(d);
    return n;
}

TEST_F(UdpLinkTest, PreparingAgainClosesTheSocketItReplaces) {
    const int before = OpenDescriptors();
    for (int i = 0; i < 50; ++i) ASSERT_EQ(dnclink::UdpPrepare("127.0.0.1"), 0);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace udp_link_test
