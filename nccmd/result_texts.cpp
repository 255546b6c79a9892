#include "nccmd/result_texts.h"

#include <cstdio>

namespace nccmd {

// Slots beyond the listed ones are empty; 0x00 and 0x0A to 0x10 are kept as
// the vendor wrote them although the panel never shows them.
const char DeviceResultTexts[kDeviceResultSlots][kResultTextSlotSize] = {
    "0x00,Successful",
    "0x01,Invalid Function Code",
    "0x02,Invalid ID Number",
    "0x03,Invalid Data",
    "0x04,Execute Operation Error",
    "0x05,Execute Operation...",
    "0x06,Device Busy Cannot Operation",
    "0x07,",
    "0x08,File Data Verify Error",
    "0x09",
    "0x0a",
    "0x0b",
    "0x0c",
    "0x0d",
    "0x0e",
    "0x0f",
    "0x10",
};

// Codes without a message of their own show the code alone.
const char LinkResultTexts[kLinkResultSlots][kResultTextSlotSize] = {
    "0xa0,Responses Error Start Sign",
    "0xa1,Responses Error Device ID",
    "0xa2,Responses DataFrame Size Error",
    "0xa3,Responses DataFrame Verify Error",
    "0xa4,Responses DataFrame End Sign Error",
    "0xa5,Responses DataFrame End Sign Error",
    "0xa6,Responses DataFrame Verify Error",
    "0xa7,Responses DataFrame End Sign Error",
    "0xa8,Responses DataFrame End Sign Error",
    "0xa9,Responses DataFrame Error Function Code",
    "0xaa", "0xab", "0xac", "0xad", "0xae", "0xaf", "0xb0", "0xb1",
    "0xb2", "0xb3", "0xb4", "0xb5", "0xb6", "0xb7", "0xb8", "0xb9",
    "0xba", "0xbb", "0xbc", "0xbd", "0xbe", "0xbf", "0xc0", "0xc1",
    "0xc2", "0xc3", "0xc4", "0xc5", "0xc6", "0xc7", "0xc8", "0xc9",
    "0xca", "0xcb", "0xcc", "0xcd", "0xce", "0xcf", "0xd0", "0xd1",
    "0xd2", "0xd3", "0xd4", "0xd5", "0xd6", "0xd7", "0xd8", "0xd9",
    "0xda", "0xdb", "0xdc", "0xdd", "0xde", "0xdf",
    "0xe0,Transmission Error Or Lawless Modbus DataFrame",
    "0xe1,Undecided Operation",
    "0xe2,Open File Error",
    "0xe3", "0xe4", "0xe5", "0xe6", "0xe7", "0xe8", "0xe9", "0xea",
    "0xeb", "0xec", "0xed", "0xee", "0xef", "0xf0", "0xf1", "0xf2",
    "0xf3", "0xf4", "0xf5", "0xf6", "0xf7", "0xf8", "0xf9", "0xfa",
    "0xfb",
    "0xfc,Net DNC Stop",
    "0xfd,Net DNC NCSystem Responses Error Message",
    "0xfe,Net DNC Down Data Cannot",
    "0xff,Overtime Error",
};

namespace {

std::string WithSuffix(const char *slotText, unsigned number) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, " 代码%x", number);
    return std::string(slotText) + suffix;
}

}  // namespace

std::string ResultCodeText(uint8_t code) {
    if (code == 0) return "Operation Successful";
    if (code <= 9) return WithSuffix(DeviceResultTexts[code], code);
    if (code < kLinkResultFirstCode) {
        char text[32];
        std::snprintf(text, sizeof text, "通信异常 代码%x", static_cast<unsigned>(code));
        return text;
    }
    // The number after 代码 is the slot number, not the code: 0xA4 ends in 4.
    return WithSuffix(LinkResultTexts[code - kLinkResultFirstCode], code - kLinkResultFirstCode);
}

std::string DncAbnormalText(int32_t code) { return "下位机出现异常状态 异常代码:" + std::to_string(code); }

}  // namespace nccmd
