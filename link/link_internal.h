// What the two link paths share with the dispatching link operations.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link_ops.h"

namespace dnclink::detail {

// The frame text up to and including its first LF, at most `capacity`
// characters; 0 when there is no LF within them or a zero byte comes first
// (nothing is sent then).
size_t FrameLengthUpToLf(const char *text, size_t capacity);

// The monotonic clock in milliseconds, for the links' own waits.
int64_t NowMs();

void RunIdleHook();
void ReportEvent(const LinkEvent &event);

// Serial path.
uint8_t SerialReceiveByte();
void SerialSendFrame(const char *text, size_t length);

// UDP path.
uint8_t UdpReceiveDatagram(uint8_t *buffer, int32_t *count);
void UdpSendFrame(const char *text, size_t length);

}  // namespace dnclink::detail
