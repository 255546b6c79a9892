#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/frame_codec.h"

namespace {

using core::FrameChecksum;
using core::GetHexByte;
using core::PutHexByte;

TEST(HexByte, EncodesUpperCaseAndDecodesBackForEveryByte) {
    for (int value = 0; value < 256; ++value) {
        char text[4] = {'x', 'x', 'x', 'x'};
        uint16_t position = 1;
        PutHexByte(static_cast<uint8_t>(value), text, &position);
        EXPECT_EQ(position, 3);
        EXPECT_EQ(text[0], 'x');
        EXPECT_EQ(text[3], 'x');
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", value);
        EXPECT_EQ(std::string(text + 1, 2), expected);

        uint8_t decoded = 0;
        position = 1;
        GetHexByte(&decoded, text, &position);
        EXPECT_EQ(decoded, value);
        EXPECT_EQ(position, 3);
    }
}

// The decoder never rejects a character: only the low four bits of the
// digit/letter offset survive.
TEST(HexByte, DecoderIsLenient) {
    const struct {
        const char *text;
        uint8_t value;
    } cases[] = {
        {"0a", 0x0A}, {"0A", 0x0A}, {"ff", 0xFF}, {"FF", 0xFF}, {"aB", 0xAB},
        {"G0", 0x00}, {":0", 0x30}, {" 0", 0x00}, {"z0", 0x30}, {"0z", 0x03},
    };
    for (const auto &c : cases) {
        uint8_t decoded = 0x55;
        uint16_t position = 0;
        GetHexByte(&decoded, c.text, &position);
        EXPECT_EQ(decoded, c.value) << c.text;
        EXPECT_EQ(position, 2);
    }
}

TEST(FrameChecksum, SumsCharactersNotBytes) {
    const struct {
        const char *covered;
        uint8_t checksum;
    } cases[] = {
        {"01240003616263", 0x3E},  // read-type request carrying "abc"
        {"01250003616263", 0x3D},  // the same as a write-type request
        {"01A405", 0xC5},          // exception answer, code 5
        {"", 0x00},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(FrameChecksum(c.covered, static_cast<uint8_t>(std::strlen(c.covered))), c.checksum) << c.covered;
    }
}

TEST(FrameChecksum, CoversOnlyTheCountItIsGiven) {
    const std::string text = "0124000361626300";
    EXPECT_EQ(FrameChecksum(text.c_str(), 14), 0x3E);
    // A count of 0 (for 256 covered characters) yields 0 whatever the text.
    EXPECT_EQ(FrameChecksum(text.c_str(), 0), 0x00);
}

}  // namespace
