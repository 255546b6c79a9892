// The two link operations the engine calls, serving both links: at every
// call they look at the selected link (0 serial, 1 UDP; anything else:
// nothing sent, nothing received).
#pragma once

#include <cstdint>

#include "core/uart_callbacks.h"

namespace dnclink {

inline constexpr uint8_t kLinkSerial = 0;
inline constexpr uint8_t kLinkUdp = 1;

// Which link the two operations use. Selected by the session (and by the
// link's own tests); read by both operations at every call.
void SelectLink(uint8_t kind);
uint8_t SelectedLink();

// Serial: the next received byte, or 255 after waiting up to 1 ms for one
// and running the idle hook. The engine runs in byte mode for this link.
// UDP: one whole datagram into buffer[0..] with *count set, 0; or 255 when
// none arrived within 100 ms. The engine runs in block mode for this link.
uint8_t UART_CALLBACK_CONV LinkReceive(uint8_t *buffer, int32_t *count);

// Sends the frame text up to and including its first LF. Input that is
// already waiting is discarded first, so a late answer to an earlier try can
// never be taken for the answer to this frame.
void UART_CALLBACK_CONV LinkSendFrame(const char *text);

// Run by the serial receive while it waits (the window processes its
// messages there). Null: nothing is run.
void SetLinkIdleHook(void (*hook)());

// What the link reports about itself. It never words a report: the front
// end that set the handler does.
enum class LinkEventCode : uint8_t {
    // The network refused to send a frame: `result` is what the send
    // returned (-1), `error` its errno. The engine sees a missing answer.
    kSendFailed = 1,
};

struct LinkEvent {
    LinkEventCode code;
    int32_t result;
    int error;
};

// Called on the thread that makes the request, once per event. Null: the
// events are dropped.
void SetLinkEventHandler(void (*handler)(const LinkEvent &event));

}  // namespace dnclink
