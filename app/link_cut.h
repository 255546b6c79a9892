// The receive operation the window gives the engine: the link's own, unless
// the link has been cut. A closing window cuts it so that a DNC run whose
// controller keeps answering "busy" to the abort block still ends: every
// exchange then fails with the engine's own time-out and retries, on
// whatever thread it runs.
#pragma once

#include <cstdint>

#include "core/uart_callbacks.h"

void SetLinkCut(bool cut);

uint8_t UART_CALLBACK_CONV CuttableLinkReceive(uint8_t *buffer, int32_t *count);
