#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ncsim/frames.h"

namespace {

// Line noise on a request: caught by the checksum while the payload is
// short enough to be covered, silently stored once it is not.
TEST(LineDamage, ChecksumCatchesItOnlyWithinItsReach) {
    const struct {
        size_t payload;
        bool someGoUnnoticed;
    } cases[] = {{20, false}, {123, false}, {516, true}};
    for (const auto &c : cases) {
        std::vector<uint8_t> payload(c.payload);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 31 + 7);
        const std::string frame = ncsim::NormalFrame(1, 0x25, payload);
        int caught = 0;
        int unnoticed = 0;
        for (uint32_t seed = 1; seed <= 200; ++seed) {
            std::mt19937 random(seed);
            std::string damaged = frame;
            ncsim::DamageLineText(damaged, random);
            ASSERT_NE(damaged, frame);
            ncsim::Request request;
            if (!ncsim::ParseRequest(damaged.data(), damaged.size(), request)) {
                ++caught;
            } else {
                ++unnoticed;
                EXPECT_NE(request.payload, payload);
            }
        }
        EXPECT_GT(caught, 0) << c.payload;
        EXPECT_EQ(unnoticed > 0, c.someGoUnnoticed) << c.payload;
    }
}

}  // namespace
