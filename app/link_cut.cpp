#include "app/link_cut.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "link/link_ops.h"

namespace {
std::atomic<bool> linkCut{false};
}  // namespace

void SetLinkCut(bool cut) { linkCut.store(cut); }

uint8_t UART_CALLBACK_CONV CuttableLinkReceive(uint8_t *buffer, int32_t *count) {
    if (linkCut.load()) {
        // "Nothing arrived" after the millisecond an empty receive waits, so
        // the engine's wait for an answer does not spin.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 255;
    }
    return dnclink::LinkReceive(buffer, count);
}
