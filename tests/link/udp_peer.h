// A controller stand-in on a loopback port and the fixture of the UDP link's
// tests, on the system's own sockets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/request_engine.h"
#include "link/link_ops.h"
#include "link/udp_link.h"
#include "platform/udp_socket.h"

namespace udp_link_test {

using dnclink::LinkReceive;
using dnclink::LinkSendFrame;

// A controller stand-in on a free loopback port.
struct Peer {
    platform::UdpSocket socket = platform::kNoUdpSocket;
    uint16_t port = 0;
    platform::Ipv4Endpoint lastSender{};

    explicit Peer(const char *host = "127.0.0.1") {
        platform::UdpOpen(&socket);
        platform::UdpBind(socket, {platform::Ipv4AddressOf(host), 0});
        platform::Ipv4Endpoint local{};
        platform::UdpLocalEndpoint(socket, &local);
        port = local.port;
        platform::UdpSetReceiveWait(socket, 5000);  // a missing datagram fails the test, not hangs it
    }
    ~Peer() { platform::UdpClose(socket); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    std::string Receive() {
        char buffer[5000];
        const int32_t got = platform::UdpReceiveFrom(socket, buffer, sizeof buffer, &lastSender, true);
        return got < 0 ? std::string("<nothing>") : std::string(buffer, size_t(got));
    }
    void Answer(const std::string &data) {
        platform::UdpSendTo(socket, data.data(), static_cast<int32_t>(data.size()), lastSender);
    }
    // Sends to the link's socket without having heard from it.
    void SendToLink(const std::string &data) {
        platform::Ipv4Endpoint link{};
        platform::UdpLocalEndpoint(dnclink::UdpSocket(), &link);
        link.address = platform::Ipv4AddressOf("127.0.0.1");
        platform::UdpSendTo(socket, data.data(), static_cast<int32_t>(data.size()), link);
    }
};

// Whether a datagram from a socket bound to 127.0.0.2 is seen as coming
// from there (wine reports every loopback sender as 127.0.0.1, so a test of
// "another host" cannot be made there).
inline bool SecondLoopbackAddressIsSeen() {
    Peer heard("127.0.0.1");
    Peer stranger("127.0.0.2");
    stranger.lastSender = {platform::Ipv4AddressOf("127.0.0.1"), heard.port};
    stranger.Answer("who");
    return heard.Receive() == "who" && heard.lastSender.address == platform::Ipv4AddressOf("127.0.0.2");
}

inline std::vector<dnclink::LinkEvent> events;
inline void CollectEvent(const dnclink::LinkEvent &event) { events.push_back(event); }
inline int idleCalls = 0;
inline void CountIdle() { ++idleCalls; }

class UdpLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        idleCalls = 0;
        dnclink::SetLinkEventHandler(CollectEvent);
        dnclink::SetLinkIdleHook(CountIdle);
        dnclink::SelectLink(dnclink::kLinkUdp);
        ASSERT_EQ(dnclink::UdpPrepare("127.0.0.1"), 0);
        dnclink::UdpSetDestinationPort(peer.port);
    }
    void TearDown() override { dnclink::UdpSetReceiveTimeout(dnclink::kUdpReceiveTimeoutMs); }

    // Waits until a datagram is queued on the link's socket, without taking it.
    void AwaitQueued() { ASSERT_EQ(platform::UdpWaitReadable(dnclink::UdpSocket(), 5000), 1); }

    std::string Take() {
        uint8_t buffer[5000];
        int32_t count = -1;
        const uint8_t got = LinkReceive(buffer, &count);
        if (got == 255) return "<255>";
        return std::string(reinterpret_cast<char *>(buffer), size_t(count));
    }

    Peer peer;
};

}  // namespace udp_link_test
