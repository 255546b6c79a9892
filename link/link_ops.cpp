#include "link/link_ops.h"

#include <cstring>

#include "core/frame_codec.h"
#include "link/link_internal.h"
#include "platform/clock.h"

namespace dnclink {

namespace {
uint8_t LinkKind = kLinkSerial;
void (*idleHook)() = nullptr;
void (*eventHandler)(const LinkEvent &) = nullptr;
}  // namespace

namespace detail {

size_t FrameLengthUpToLf(const char *text, size_t capacity) {
    // A frame is hex text and never holds a zero byte: a zero before the LF
    // ends a shorter string, whose memory may end right behind it.
    for (size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
        if (text[i] == '\n') return i + 1;
    }
    return 0;
}

int64_t NowMs() { return platform::MonotonicMs(); }

void RunIdleHook() {
    if (idleHook != nullptr) idleHook();
}

void ReportEvent(const LinkEvent &event) {
    if (eventHandler != nullptr) eventHandler(event);
}

}  // namespace detail

void SelectLink(uint8_t kind) { LinkKind = kind; }

uint8_t SelectedLink() { return LinkKind; }

void SetLinkIdleHook(void (*hook)()) { idleHook = hook; }

void SetLinkEventHandler(void (*handler)(const LinkEvent &event)) { eventHandler = handler; }

uint8_t UART_CALLBACK_CONV LinkReceive(uint8_t *buffer, int32_t *count) {
    switch (LinkKind) {
        case kLinkSerial:
            return detail::SerialReceiveByte();
        case kLinkUdp:
            return detail::UdpReceiveDatagram(buffer, count);
        default:
            return 255;
    }
}

void UART_CALLBACK_CONV LinkSendFrame(const char *text) {
    if (LinkKind != kLinkSerial && LinkKind != kLinkUdp) return;
    // The engine's text holds the longest frame; a text without an LF in it
    // is not a frame and is not sent.
    const size_t length = detail::FrameLengthUpToLf(text, core::kFrameTextSize);
    if (length == 0) return;
    if (LinkKind == kLinkSerial) {
        detail::SerialSendFrame(text, length);
    } else {
        detail::UdpSendFrame(text, length);
    }
}

}  // namespace dnclink
