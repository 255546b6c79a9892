#include "nccmd/result_texts.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct TextCase {
    uint8_t code;
    const char *text;
};

// The panel's texts as the operator reads them; UTF-8.
const TextCase kCases[] = {
    {0x00, "Operation Successful"},
    {0x03, "0x03,Invalid Data 代码3"},
    {0x04, "0x04,Execute Operation Error 代码4"},
    {0x07, "0x07, 代码7"},
    {0x09, "0x09 代码9"},
    {0x0A, "通信异常 代码a"},
    {0x0C, "通信异常 代码c"},
    {0x31, "通信异常 代码31"},
    {0x9F, "通信异常 代码9f"},
    {0xA0, "0xa0,Responses Error Start Sign 代码0"},
    {0xA4, "0xa4,Responses DataFrame End Sign Error 代码4"},
    {0xA9, "0xa9,Responses DataFrame Error Function Code 代码9"},
    {0xAA, "0xaa 代码a"},
    {0xE2, "0xe2,Open File Error 代码42"},
    {0xFC, "0xfc,Net DNC Stop 代码5c"},
    {0xFF, "0xff,Overtime Error 代码5f"},
};

TEST(ResultCodeText, PanelTextForEachKindOfCode) {
    for (const TextCase &c : kCases) {
        EXPECT_EQ(nccmd::ResultCodeText(c.code), c.text) << "code 0x" << std::hex << int(c.code);
    }
}

// Codes without a message of their own in the link table show the code
// alone; a slot left empty or shifted by one would show here.
TEST(ResultCodeText, LinkCodesWithoutMessageShowTheCodeAlone) {
    const auto alone = [](unsigned code) {
        char text[40];
        std::snprintf(text, sizeof text, "0x%02x 代码%x", code, code - 0xA0);
        return std::string(text);
    };
    for (unsigned code = 0xAA; code <= 0xDF; ++code) EXPECT_EQ(nccmd::ResultCodeText(code), alone(code));
    for (unsigned code = 0xE3; code <= 0xFB; ++code) EXPECT_EQ(nccmd::ResultCodeText(code), alone(code));
}

TEST(ResultCodeText, EveryLinkSlotStartsWithItsOwnCode) {
    for (unsigned slot = 0; slot < nccmd::kLinkResultSlots; ++slot) {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "0x%02x", slot + 0xA0);
        EXPECT_EQ(std::string(nccmd::LinkResultTexts[slot]).substr(0, 4), prefix);
    }
}

}  // namespace
