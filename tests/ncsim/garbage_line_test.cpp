// The simulated controller under random bytes on its pseudo-terminal. It
// must stay up and answer a valid request right after.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <string>

#include "link/serial_link.h"
#include "ncsim/simulator.h"
#include "tests/ncsim/engine_session.h"
#include "tests/ncsim/noise.h"

namespace {

using testing_payloads::Bytes;
using namespace testing_noise;

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
