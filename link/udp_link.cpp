#include "link/udp_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/frame_codec.h"
#include "link/link_internal.h"

namespace dnclink {

namespace {

platform::Ipv4Endpoint UdpDestination{};

struct UdpState {
    platform::UdpSocket socket = platform::kNoUdpSocket;
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


void SetAddress(const char *ip) {
    // inet_addr's result is taken as it is, also for a text that is not an
    // address (it then gives 255.255.255.255): the window does not validate.
    UdpDestination.address = platform::Ipv4AddressOf(ip);
    udp.destinationIsBroadcast = platform::Ipv4IsBroadcast(UdpDestination.address);
}

void ApplyReceiveTimeout() {
    // The first receive of a try waits on the socket's own time-out (one
    // system call); set once per socket and whenever the wait changes.
    platform::UdpSetReceiveWait(udp.socket, udp.waitMs);
}

// Only the controller answers: a datagram from another host is dropped.
// The port may change (the controller answers from where it likes).
bool TakeSender(const platform::Ipv4Endpoint &sender) {
    if (udp.destinationIsBroadcast) {
        UdpDestination = sender;
        udp.destinationIsBroadcast = false;
        return true;
    }
    if (sender.address != UdpDestination.address) return false;
    UdpDestination.port = sender.port;
    return true;
}

// Datagrams that are already waiting when a frame goes out can only be late
// answers to earlier tries; reading them now keeps them from being taken for
// the answer to this frame.
void DiscardWaiting() {
    platform::Ipv4Endpoint sender{};
    while (platform::UdpReceiveFrom(udp.socket, udp.received, sizeof udp.received, &sender, false) >= 0) {
    }
}

bool OpenSocket() {
    platform::UdpClose(udp.socket);
    udp.socket = platform::kNoUdpSocket;
    udp.continuing = false;
    const int error = platform::UdpOpen(&udp.socket);
    if (error != 0) {
        udp.socket = platform::kNoUdpSocket;
        errno = error;  // the session words why
        return false;
    }
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
    UdpDestination = platform::Ipv4Endpoint{0, UdpPort};
    SetAddress(ip);
    // Set-up runs on every device change; the socket it replaces is closed.
    udp.lastFrameLength = 0;
    return OpenSocket() ? 0 : -1;
}

void UdpSetDestination(const char *ip) { SetAddress(ip); }

void UdpSetDestinationPort(uint16_t port) { UdpDestination.port = port; }

void UdpSetReceiveTimeout(int32_t milliseconds) {
    udp.waitMs = std::max<int32_t>(1, milliseconds);
    if (udp.socket != platform::kNoUdpSocket) ApplyReceiveTimeout();
}

int32_t UdpReceiveTimeout() { return udp.waitMs; }

platform::UdpSocket UdpSocket() { return udp.socket; }

platform::Ipv4Endpoint UdpCurrentDestination() { return UdpDestination; }

namespace detail {

uint8_t UdpReceiveDatagram(uint8_t *buffer, int32_t *count) {
    if (udp.socket == platform::kNoUdpSocket) return 255;  // the failed sends have been reported
    bool fresh = !udp.continuing;
    if (fresh) udp.deadlineMs = NowMs() + udp.waitMs;
    udp.continuing = false;
    for (;;) {
        if (!fresh) {
            // The rest of the try's wait, after a datagram that was dropped.
            const int64_t left = std::max<int64_t>(0, udp.deadlineMs - NowMs());
            if (platform::UdpWaitReadable(udp.socket, static_cast<int32_t>(left)) <= 0) return 255;
        }
        // The first receive of a try waits on the socket's own time-out.
        platform::Ipv4Endpoint sender{};
        const int32_t n = platform::UdpReceiveFrom(udp.socket, udp.received, sizeof udp.received, &sender, fresh);
        fresh = false;
        // A time-out or a receive error reads as "no answer", without an
        // event: the engine counts the try as failed and retries, and a link
        // that cannot send reports each frame it could not.
        if (n == -EAGAIN && udp.deadlineMs > NowMs()) continue;  // nothing after all: wait on
        if (n < 0) return 255;
        // Someone else's datagram, or one too large to be a frame: dropped,
        // and the wait goes on.
        if (n < 1 || n > kUdpMaxDatagram || !TakeSender(sender)) continue;
        *count = n;
        std::memcpy(buffer, udp.received, static_cast<size_t>(n));
        udp.continuing = true;
        udp.answeredSinceSend = true;
        return 0;
    }
}

void UdpSendFrame(const char *text, size_t length) {
    udp.continuing = false;
    if (udp.socket != platform::kNoUdpSocket && OpensAnExchange(text, length)) OpenSocket();
    udp.answeredSinceSend = false;
    udp.lastFrameLength = std::min(length, sizeof udp.lastFrame);
    std::memcpy(udp.lastFrame, text, udp.lastFrameLength);
    if (udp.socket == platform::kNoUdpSocket) {
        ReportEvent({LinkEventCode::kSendFailed, -1, EBADF});
        return;
    }
    DiscardWaiting();
    const int32_t result = platform::UdpSendTo(udp.socket, text, static_cast<int32_t>(length), UdpDestination);
    if (result < 0) ReportEvent({LinkEventCode::kSendFailed, -1, -result});
}

}  // namespace detail
}  // namespace dnclink
