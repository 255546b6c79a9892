#include "udp_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "link_internal.h"

namespace dnclink {

sockaddr_in UdpDestination{};

namespace {

struct UdpState {
    int socket = -1;
    uint8_t received[kUdpReceiveBufferSize];
};

UdpState udp{};

void SetAddress(const char *ip) {
    // inet_addr's result is taken as it is, also for a text that is not an
    // address (it then gives 255.255.255.255): the window does not validate.
    UdpDestination.sin_addr.s_addr = inet_addr(ip);
}

// Datagrams that are already waiting when a frame goes out can only be late
// answers to earlier tries; reading them now keeps them from being taken for
// the answer to this frame.
void DiscardWaiting() {
    for (;;) {
        const ssize_t n = recv(udp.socket, udp.received, sizeof udp.received, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;
    }
}

}  // namespace

int32_t UdpPrepare(const char *ip) {
    UdpDestination = sockaddr_in{};
    UdpDestination.sin_family = AF_INET;
    UdpDestination.sin_port = htons(UdpPort);
    SetAddress(ip);
    // Set-up runs on every device change; the socket it replaces is closed.
    if (udp.socket >= 0) close(udp.socket);
    udp.socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp.socket < 0) return -1;
    // Every receive waits at most this long; set once, it holds for the
    // socket's life (no per-receive system call).
    const timeval timeout{0, kUdpReceiveTimeoutMs * 1000};
    setsockopt(udp.socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return 0;
}

void UdpSetDestination(const char *ip) { SetAddress(ip); }

void UdpSetDestinationPort(uint16_t port) { UdpDestination.sin_port = htons(port); }

int UdpSocket() { return udp.socket; }

namespace detail {

uint8_t UdpReceiveDatagram(uint8_t *buffer, int32_t *count) {
    if (udp.socket < 0) return 255;  // the failed sends have been reported
    // The sender's address goes into the destination: the next frames go to
    // whoever answered.
    socklen_t addressLength = sizeof UdpDestination;
    const ssize_t n = recvfrom(udp.socket, udp.received, sizeof udp.received, 0,
                               reinterpret_cast<sockaddr *>(&UdpDestination), &addressLength);
    if (n >= 1 && n <= kUdpMaxDatagram) {
        *count = static_cast<int32_t>(n);
        std::memcpy(buffer, udp.received, static_cast<size_t>(n));
        return 0;
    }
    // A time-out, a receive error and an oversized datagram all read as "no
    // answer", without a memo line: the engine counts the try as failed and
    // retries, and a link that cannot send has its own line per frame.
    return 255;
}

void UdpSendFrame(const char *text, size_t length) {
    if (udp.socket >= 0) DiscardWaiting();
    const ssize_t result = sendto(udp.socket, text, length, 0, reinterpret_cast<const sockaddr *>(&UdpDestination),
                                  sizeof UdpDestination);
    if (result == -1) AppendMemoLine("网络数据发送错误:-1");
}

}  // namespace detail
}  // namespace dnclink
