#include "link/udp_link.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/frame_codec.h"
#include "link/link_internal.h"

namespace dnclink {

namespace {

sockaddr_in UdpDestination{};

struct UdpState {
    int socket = -1;
    int32_t waitMs = kUdpReceiveTimeoutMs;
    // The destination reaches every host of a network: whoever answers first
    // is taken as the controller.
    bool destinationIsBroadcast = false;
    // A datagram was handed to the engine since the last send. The engine
    // asks again within the same try only when that datagram was not the
    // answer it waits for; the try's wait then goes on to its deadline
    // instead of starting afresh.
    bool continuing = false;
    int64_t deadlineMs = 0;
    uint8_t received[kUdpReceiveBufferSize];
    // The frame sent last, and whether a datagram came since: a frame sent
    // again without one is a retry of the same request.
    char lastFrame[core::kFrameTextSize];
    size_t lastFrameLength = 0;
    bool answeredSinceSend = false;
};

UdpState udp{};


// The limited broadcast address, or the broadcast address of one of this
// computer's networks.
bool IsBroadcast(in_addr_t address) {
    if (address == htonl(INADDR_BROADCAST)) return true;
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    bool found = false;
    for (const ifaddrs *i = interfaces; i != nullptr && !found; i = i->ifa_next) {
        const sockaddr *b = i->ifa_broadaddr;
        found = (i->ifa_flags & IFF_BROADCAST) != 0 && b != nullptr && b->sa_family == AF_INET &&
                reinterpret_cast<const sockaddr_in *>(b)->sin_addr.s_addr == address;
    }
    freeifaddrs(interfaces);
    return found;
}

void SetAddress(const char *ip) {
    // inet_addr's result is taken as it is, also for a text that is not an
    // address (it then gives 255.255.255.255): the window does not validate.
    UdpDestination.sin_addr.s_addr = inet_addr(ip);
    udp.destinationIsBroadcast = IsBroadcast(UdpDestination.sin_addr.s_addr);
}

void ApplyReceiveTimeout() {
    // The first receive of a try waits on the socket's own time-out (one
    // system call); set once per socket and whenever the wait changes.
    const timeval timeout{udp.waitMs / 1000, (udp.waitMs % 1000) * 1000};
    setsockopt(udp.socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

// Only the controller answers: a datagram from another host is dropped.
// The port may change (the controller answers from where it likes).
bool TakeSender(const sockaddr_in &sender) {
    if (udp.destinationIsBroadcast) {
        UdpDestination.sin_addr = sender.sin_addr;
        UdpDestination.sin_port = sender.sin_port;
        udp.destinationIsBroadcast = false;
        return true;
    }
    if (sender.sin_family != AF_INET || sender.sin_addr.s_addr != UdpDestination.sin_addr.s_addr) return false;
    UdpDestination.sin_port = sender.sin_port;
    return true;
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

bool OpenSocket() {
    if (udp.socket >= 0) close(udp.socket);
    udp.socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    udp.continuing = false;
    if (udp.socket < 0) return false;
    ApplyReceiveTimeout();
    return true;
}

// A request that opens an exchange (a text request or an announcement: its
// payload starts with block number 0) and is not a retry. Its exchange
// gets a socket of its own: the controller answers to the port a request
// came from, so late and repeated answers of the exchanges before it (block
// 1 of the last file, which echoes the same number as block 1 of the next)
// go to a port nobody reads any more.
bool OpensAnExchange(const char *text, size_t length) {
    constexpr size_t kPayloadAt = 9;  // ':', address, function, length
    if (length < kPayloadAt + 8 || std::memcmp(text + kPayloadAt, "00000000", 8) != 0) return false;
    const bool retry = !udp.answeredSinceSend && length == udp.lastFrameLength &&
                       std::memcmp(text, udp.lastFrame, length) == 0;
    return !retry;
}

}  // namespace

int32_t UdpPrepare(const char *ip) {
    UdpDestination = sockaddr_in{};
    UdpDestination.sin_family = AF_INET;
    UdpDestination.sin_port = htons(UdpPort);
    SetAddress(ip);
    // Set-up runs on every device change; the socket it replaces is closed.
    udp.lastFrameLength = 0;
    return OpenSocket() ? 0 : -1;
}

void UdpSetDestination(const char *ip) { SetAddress(ip); }

void UdpSetDestinationPort(uint16_t port) { UdpDestination.sin_port = htons(port); }

void UdpSetReceiveTimeout(int32_t milliseconds) {
    udp.waitMs = std::max<int32_t>(1, milliseconds);
    if (udp.socket >= 0) ApplyReceiveTimeout();
}

int32_t UdpReceiveTimeout() { return udp.waitMs; }

int UdpSocket() { return udp.socket; }

sockaddr_in UdpCurrentDestination() { return UdpDestination; }

namespace detail {

uint8_t UdpReceiveDatagram(uint8_t *buffer, int32_t *count) {
    if (udp.socket < 0) return 255;  // the failed sends have been reported
    bool fresh = !udp.continuing;
    if (fresh) udp.deadlineMs = NowMs() + udp.waitMs;
    udp.continuing = false;
    for (;;) {
        int flags = 0;
        if (!fresh) {
            // The rest of the try's wait, after a datagram that was dropped.
            pollfd p{udp.socket, POLLIN, 0};
            const int64_t left = std::max<int64_t>(0, udp.deadlineMs - NowMs());
            const int ready = poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return 255;
            flags = MSG_DONTWAIT;
        }
        fresh = false;
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t n =
            recvfrom(udp.socket, udp.received, sizeof udp.received, flags, reinterpret_cast<sockaddr *>(&sender),
                     &senderLength);
        if (n < 0 && errno == EINTR) continue;
        // A time-out or a receive error reads as "no answer", without an
        // event: the engine counts the try as failed and retries, and a link
        // that cannot send reports each frame it could not.
        if (n < 0) return 255;
        // Someone else's datagram, or one too large to be a frame: dropped,
        // and the wait goes on.
        if (n < 1 || n > kUdpMaxDatagram || !TakeSender(sender)) continue;
        *count = static_cast<int32_t>(n);
        std::memcpy(buffer, udp.received, static_cast<size_t>(n));
        udp.continuing = true;
        udp.answeredSinceSend = true;
        return 0;
    }
}

void UdpSendFrame(const char *text, size_t length) {
    udp.continuing = false;
    if (udp.socket >= 0 && OpensAnExchange(text, length)) OpenSocket();
    udp.answeredSinceSend = false;
    udp.lastFrameLength = std::min(length, sizeof udp.lastFrame);
    std::memcpy(udp.lastFrame, text, udp.lastFrameLength);
    if (udp.socket >= 0) DiscardWaiting();
    const ssize_t result = sendto(udp.socket, text, length, 0, reinterpret_cast<const sockaddr *>(&UdpDestination),
                                  sizeof UdpDestination);
    if (result == -1) ReportEvent({LinkEventCode::kSendFailed, -1, errno});
}

}  // namespace detail
}  // namespace dnclink
