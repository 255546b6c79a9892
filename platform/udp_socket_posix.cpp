#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

sockaddr_in AddressOf(Ipv4Endpoint endpoint) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(endpoint.port);
    a.sin_addr.s_addr = endpoint.address;
    return a;
}

}  // namespace

int UdpOpen(UdpSocket *socket) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    *socket = fd;
    return 0;
}

void UdpClose(UdpSocket socket) {
    if (socket != kNoUdpSocket) close(static_cast<int>(socket));
}

int UdpBind(UdpSocket socket, Ipv4Endpoint local) {
    const sockaddr_in a = AddressOf(local);
    return bind(static_cast<int>(socket), reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? 0 : errno;
}

int UdpLocalEndpoint(UdpSocket socket, Ipv4Endpoint *local) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr *>(&a), &length) != 0) return errno;
    *local = {a.sin_addr.s_addr, ntohs(a.sin_port)};
    return 0;
}

int UdpSetReceiveWait(UdpSocket socket, int32_t milliseconds) {
    // A waiting receive is then one system call.
    const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    return setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0 ? 0 : errno;
}

int32_t UdpSendTo(UdpSocket socket, const void *data, int32_t length, Ipv4Endpoint to) {
    const sockaddr_in a = AddressOf(to);
    for (;;) {
        const ssize_t n = sendto(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr *>(&a), sizeof a);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno != EINTR) return -errno;
    }
}

int32_t UdpReceiveFrom(UdpSocket socket, void *buffer, int32_t capacity, Ipv4Endpoint *sender, bool wait) {
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(static_cast<int>(socket), buffer, static_cast<size_t>(capacity),
                                   wait ? 0 : MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n >= 0) {
            *sender = {from.sin_family == AF_INET ? from.sin_addr.s_addr : 0u, ntohs(from.sin_port)};
            return static_cast<int32_t>(n);
        }
        if (errno == EINTR) continue;
        return errno == EWOULDBLOCK ? -EAGAIN : -errno;
    }
}

int UdpWaitReadable(UdpSocket socket, int32_t milliseconds) {
    for (;;) {
        pollfd p{static_cast<int>(socket), POLLIN, 0};
        const int ready = poll(&p, 1, milliseconds);
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -errno;
    }
}

uint32_t Ipv4AddressOf(const char *text) { return inet_addr(text); }

bool Ipv4Parse(const char *text, uint32_t *address) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) return false;
    *address = a.s_addr;
    return true;
}


int Ipv4Resolve(const char *host, uint32_t *address, std::string *why) {
    if (Ipv4Parse(host, address)) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (const int rc = getaddrinfo(host, nullptr, &hints, &found); rc != 0 || found == nullptr) {
        *why = rc != 0 ? gai_strerror(rc) : "no IPv4 address";
        return rc != 0 ? rc : -1;
    }
    *address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 0;
}

std::string Ipv4Text(uint32_t address) {
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

bool Ipv4IsBroadcast(uint32_t address) {
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

}  // namespace platform
