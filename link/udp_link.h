// The UDP link: one datagram socket for the whole program, one frame per
// datagram. Answers are taken only from the controller's address: a datagram
// from any other host is dropped and never moves the destination (the port
// follows the controller's answers). Only while the destination is a
// broadcast address does the first host that answers become the destination.
#pragma once

#include <cstdint>

#include "platform/udp_socket.h"

namespace dnclink {

// The controller's port.
inline constexpr uint16_t UdpPort = 2232;
// One received datagram; 2048 bytes or more are dropped.
inline constexpr int kUdpReceiveBufferSize = 4500;
inline constexpr int kUdpMaxDatagram = 2047;
// How long a try waits for its answer unless UdpSetReceiveTimeout says
// otherwise.
inline constexpr int kUdpReceiveTimeoutMs = 100;

// Where frames go.
platform::Ipv4Endpoint UdpCurrentDestination();

// Creates a fresh socket in place of (and closing) the earlier one and sets
// the destination to the address text and UdpPort. 0 on success, -1 when the
// socket could not be created. The text is not validated.
int32_t UdpPrepare(const char *ip);

// Replaces the destination's address; family and port stay.
void UdpSetDestination(const char *ip);

// Replaces the destination's port (host byte order). The controller listens
// on UdpPort; tests and the demo mode run a simulator on a free port.
void UdpSetDestinationPort(uint16_t port);

// How long each try waits for its answer, in milliseconds (1 or more), for
// controllers farther away than the default allows. Holds across
// UdpPrepare.
void UdpSetReceiveTimeout(int32_t milliseconds);
int32_t UdpReceiveTimeout();

// The link's socket, platform::kNoUdpSocket before the first UdpPrepare.
platform::UdpSocket UdpSocket();

}  // namespace dnclink
