// The simulated controller under a burst of garbage: random datagrams of
// every size on its UDP port. It must stay up and answer a valid request
// right after.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "link/udp_link.h"
#include "ncsim/simulator.h"
#include "platform/udp_socket.h"
#include "tests/ncsim/engine_session.h"
#include "tests/ncsim/noise.h"

namespace {

using testing_payloads::Bytes;
using namespace testing_noise;

TEST(Garbage, BurstOfDatagramsLeavesTheControllerAnswering) {
    ncsim::Simulator sim;
    ASSERT_TRUE(sim.StartUdp("127.0.0.1", 0)) << sim.LastError();
    platform::UdpSocket socket = platform::kNoUdpSocket;
    ASSERT_EQ(platform::UdpOpen(&socket), 0);
    const platform::Ipv4Endpoint to{platform::Ipv4AddressOf("127.0.0.1"), sim.UdpPort()};
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const size_t n = random() % 4600;
        const std::string datagram = i % 2 ? RandomBytes(random, n) : FrameLikeNoise(random, n);
        platform::UdpSendTo(socket, datagram.data(), static_cast<int32_t>(datagram.size()), to);
    }
    platform::UdpClose(socket);
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

}  // namespace
