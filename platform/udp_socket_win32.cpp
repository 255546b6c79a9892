#include "platform/udp_socket.h"

// winsock2.h before windows.h, which would bring the old winsock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <mswsock.h>
#include <windows.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace {

// Winsock is started once, at the first socket, and left running until the
// process ends.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

int ErrnoOf(int error) {
    switch (error) {
        case WSAETIMEDOUT:
        case WSAEWOULDBLOCK:
            return EAGAIN;
        case WSAEINTR:
            return EINTR;
        case WSAENOTSOCK:
        case WSAEBADF:
            return EBADF;
        case WSAEACCES:
            return EACCES;
        case WSAEADDRINUSE:
            return EADDRINUSE;
        case WSAEADDRNOTAVAIL:
            return EADDRNOTAVAIL;
        case WSAENETUNREACH:
        case WSAENETDOWN:
            return ENETUNREACH;
        case WSAEHOSTUNREACH:
            return EHOSTUNREACH;
        case WSAEINVAL:
        case WSAEFAULT:
            return EINVAL;
        case WSAEMFILE:
        case WSAENOBUFS:
            return ENOBUFS;
        case WSANOTINITIALISED:
        case WSASYSNOTREADY:
            return ENETDOWN;
        default:
            return EIO;
    }
}

int LastErrno() { return ErrnoOf(WSAGetLastError()); }

SOCKET Native(UdpSocket socket) { return static_cast<SOCKET>(socket); }

sockaddr_in AddressOf(Ipv4Endpoint endpoint) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(endpoint.port);
    a.sin_addr.s_addr = endpoint.address;
    return a;
}

}  // namespace

int UdpOpen(UdpSocket *socket) {
    if (!StartWinsock()) return ENETDOWN;
    // WSA_FLAG_OVERLAPPED as socket() sets it: without it a receive ignores
    // SO_RCVTIMEO and waits for ever.
    const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return LastErrno();
    // Without this, an ICMP "port unreachable" for an earlier datagram ends
    // the next receive with WSAECONNRESET: a controller that was not there a
    // moment ago would make the link fail where POSIX simply hears nothing.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    *socket = static_cast<UdpSocket>(s);
    return 0;
}

void UdpClose(UdpSocket socket) {
    if (socket != kNoUdpSocket) closesocket(Native(socket));
}

int UdpBind(UdpSocket socket, Ipv4Endpoint local) {
    const sockaddr_in a = AddressOf(local);
    return bind(Native(socket), reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0 ? 0 : LastErrno();
}

int UdpLocalEndpoint(UdpSocket socket, Ipv4Endpoint *local) {
    sockaddr_in a{};
    int length = sizeof a;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr *>(&a), &length) != 0) return LastErrno();
    *local = {a.sin_addr.s_addr, ntohs(a.sin_port)};
    return 0;
}

int UdpSetReceiveWait(UdpSocket socket, int32_t milliseconds) {
    const DWORD timeout = static_cast<DWORD>(milliseconds);
    return setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeout),
                      sizeof timeout) == 0
               ? 0
               : LastErrno();
}

int32_t UdpSendTo(UdpSocket socket, const void *data, int32_t length, Ipv4Endpoint to) {
    const sockaddr_in a = AddressOf(to);
    const int n = sendto(Native(socket), static_cast<const char *>(data), length, 0,
                         reinterpret_cast<const sockaddr *>(&a), sizeof a);
    return n == SOCKET_ERROR ? -LastErrno() : n;
}

int32_t UdpReceiveFrom(UdpSocket socket, void *buffer, int32_t capacity, Ipv4Endpoint *sender, bool wait) {
    // Windows has no per-call "don't wait": look first.
    if (!wait) {
        const int ready = UdpWaitReadable(socket, 0);
        if (ready <= 0) return ready < 0 ? ready : -EAGAIN;
    }
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int n = recvfrom(Native(socket), static_cast<char *>(buffer), capacity, 0,
                           reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        // A datagram longer than the buffer: POSIX hands over its start.
        if (error != WSAEMSGSIZE) return -ErrnoOf(error);
        *sender = {from.sin_addr.s_addr, ntohs(from.sin_port)};
        return capacity;
    }
    *sender = {from.sin_family == AF_INET ? from.sin_addr.s_addr : 0u, ntohs(from.sin_port)};
    return n;
}

int UdpWaitReadable(UdpSocket socket, int32_t milliseconds) {
    WSAPOLLFD p{Native(socket), POLLRDNORM, 0};
    const int ready = WSAPoll(&p, 1, milliseconds);
    if (ready == SOCKET_ERROR) return -LastErrno();
    return ready > 0 ? 1 : 0;
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
    if (!StartWinsock()) {
        *why = "the network is not available (Winsock did not start)";
        return -1;
    }
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
    // Each adapter's IPv4 addresses with their prefix lengths: the broadcast
    // address of a network is its address with every host bit set.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> storage;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.resize(size);
        result = GetAdaptersAddresses(AF_INET,
                                      GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                      nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES *>(storage.data()), &size);
    }
    if (result != NO_ERROR) return false;
    for (auto *a = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(storage.data()); a != nullptr; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp) continue;
        for (auto *u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const sockaddr *s = u->Address.lpSockaddr;
            const unsigned prefix = u->OnLinkPrefixLength;
            if (s == nullptr || s->sa_family != AF_INET || prefix >= 32) continue;
            const uint32_t host = ntohl(reinterpret_cast<const sockaddr_in *>(s)->sin_addr.s_addr);
            const uint32_t hostBits = prefix == 0 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> prefix);
            if (htonl(host | hostBits) == address) return true;
        }
    }
    return false;
}

}  // namespace platform
