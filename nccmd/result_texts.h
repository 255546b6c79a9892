// The texts the status panel shows for a result code. Both tables keep the
// controller vendor's fixed 100-byte slots; ResultCodeText applies the
// panel's formatting rules to them. Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace nccmd {

inline constexpr size_t kResultTextSlotSize = 100;
inline constexpr size_t kDeviceResultSlots = 50;  // codes 0x00 to 0x31
inline constexpr size_t kLinkResultSlots = 96;    // codes 0xA0 to 0xFF
inline constexpr uint8_t kLinkResultFirstCode = 0xA0;

extern const char DeviceResultTexts[kDeviceResultSlots][kResultTextSlotSize];
extern const char LinkResultTexts[kLinkResultSlots][kResultTextSlotSize];

// The text for a result code exactly as status panel 1 shows it, e.g.
// "Operation Successful", "0x04,Execute Operation Error 代码4",
// "通信异常 代码c", "0xff,Overtime Error 代码5f".
std::string ResultCodeText(uint8_t code);

// How a DNC run ended when no result code says it, as the window's status
// panel and dncctl show it: the controller's abnormal state
// ("下位机出现异常状态 异常代码:4"), and a run stopped before its end.
std::string DncAbnormalText(int32_t code);
inline constexpr const char *kDncStoppedText = "DNC数据传异常终止";

}  // namespace nccmd
