// The simulated controller under a burst of garbage: random datagrams of
// every size on its UDP port, random bytes on its pseudo-terminal. It must
// stay up and answer a valid request right after.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <string>

#include "tests/ncsim/engine_session.h"
#include "link/link_ops.h"
#include "core/request_engine.h"
#include "link/serial_link.h"
#include "ncsim/simulator.h"
#include "link/udp_link.h"

namespace {

using testing_payloads::Bytes;

std::string RandomBytes(std::mt19937 &random, size_t n) {
    std::string bytes(n, '\0');
    for (char &c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// Random text that looks like frames more often than pure noise does.
std::string FrameLikeNoise(std::mt19937 &random, size_t n) {
    static const char alphabet[] = ":0123456789ABCDEFabcdef\r\n%\\";
    std::string text(n, '\0');
    for (char &c : text) c = alphabet[random() % (sizeof alphabet - 1)];
    return text;
}

void UseEngineOverTheLink(int32_t timeout) {
    core::ModbusInit(1, timeout, 2);
    core::SetUartReceiveFun(dnclink::LinkReceive);
    core::SetUartSendFrameFun(dnclink::LinkSendFrame);
}

TEST(Garbage, BurstOfDatagramsLeavesTheControllerAnswering) {
    ncsim::Simulator sim;
    ASSERT_TRUE(sim.StartUdp("127.0.0.1", 0)) << sim.LastError();
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(sim.UdpPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const size_t n = random() % 4600;
        const std::string datagram = i % 2 ? RandomBytes(random, n) : FrameLikeNoise(random, n);
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    }
    close(fd);
    ASSERT_TRUE(sim.Running());

    dnclink::SelectLink(dnclink::kLinkUdp);
    ASSERT_EQ(dnclink::UdpPrepare("127.0.0.1"), 0);
    dnclink::UdpSetDestinationPort(sim.UdpPort());
    UseEngineOverTheLink(0);
    Bytes listing;
    EXPECT_EQ(testing_payloads::ReadAll(1, "%DirList%%\\", listing), 0);
    EXPECT_FALSE(listing.empty());
    EXPECT_TRUE(sim.Running());
}

TEST(Garbage, RandomBytesOnTheLineLeaveTheControllerAnswering) {
    ncsim::Simulator sim;
    ASSERT_TRUE(sim.StartPty()) << sim.LastError();
    const int line = open(sim.PtyPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0);
    std::mt19937 random(9);
    for (int i = 0; i < 200; ++i) {
        const std::string chunk = i % 2 ? RandomBytes(random, 1024) : FrameLikeNoise(random, 1024);
        ASSERT_EQ(write(line, chunk.data(), chunk.size()), ssize_t(chunk.size()));
    }
    close(line);
    ASSERT_TRUE(sim.Running());

    dnclink::SelectLink(dnclink::kLinkSerial);
    dnclink::SerialSelectDevice(sim.PtyPath().c_str(), 16);
    ASSERT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
    UseEngineOverTheLink(600);
    Bytes listing;
    EXPECT_EQ(testing_payloads::ReadAll(1, "%DirList%%\\", listing), 0);
    EXPECT_FALSE(listing.empty());
    EXPECT_TRUE(sim.Running());
    dnclink::SerialClose();
}

}  // namespace
