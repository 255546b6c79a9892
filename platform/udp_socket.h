// IPv4 datagram sockets. Addresses travel in network byte order (as the
// wire and inet_addr have them), ports in host byte order. Errors are errno
// values on every system; EAGAIN means "nothing came within the wait".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using UdpSocket = intptr_t;
inline constexpr UdpSocket kNoUdpSocket = -1;

struct Ipv4Endpoint {
    uint32_t address;  // network byte order
    uint16_t port;     // host byte order
};

// A fresh socket, not inherited by programs this one starts. 0 with *socket
// set, else an error number.
int UdpOpen(UdpSocket *socket);
void UdpClose(UdpSocket socket);
int UdpBind(UdpSocket socket, Ipv4Endpoint local);
int UdpLocalEndpoint(UdpSocket socket, Ipv4Endpoint *local);

// How long a waiting receive waits (1 ms or more).
int UdpSetReceiveWait(UdpSocket socket, int32_t milliseconds);

// The number of bytes sent, or minus an error number.
int32_t UdpSendTo(UdpSocket socket, const void *data, int32_t length, Ipv4Endpoint to);

// One datagram into `buffer` and its sender. With `wait`, waits up to the
// receive wait for one; without, takes only one already there. Its length
// (one longer than `capacity` is cut to it), or -EAGAIN when none came, or
// minus an error number.
int32_t UdpReceiveFrom(UdpSocket socket, void *buffer, int32_t capacity, Ipv4Endpoint *sender, bool wait);

// Waits up to `milliseconds` (-1: for ever) for a datagram to read: 1 when
// one is there, 0 when none came, minus an error number.
int UdpWaitReadable(UdpSocket socket, int32_t milliseconds);

// The address of a dotted text as inet_addr gives it: not validated (a text
// that is no address gives 255.255.255.255).
uint32_t Ipv4AddressOf(const char *text);
// Strictly four dotted numbers: false for anything else.
bool Ipv4Parse(const char *text, uint32_t *address);
// The IPv4 address of a host name or dotted text: 0 with *address set, else
// non-zero with the resolver's words for it in *why.
int Ipv4Resolve(const char *host, uint32_t *address, std::string *why);
// Dotted text of an address.
std::string Ipv4Text(uint32_t address);
// The limited broadcast address, or the broadcast address of one of this
// computer's networks.
bool Ipv4IsBroadcast(uint32_t address);

}  // namespace platform
