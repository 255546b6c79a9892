// The simulator's end of a serial line, and how its thread waits: for input
// on its line or socket, for room to write, or for another thread to end
// the wait (a Wakeup). Errors are errno values; ENOSYS where this system has
// no such thing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/udp_socket.h"

namespace platform {

struct LineEnd;
struct Wakeup;

// Whether this system has pseudo-terminals (the opens below work at all).
bool PseudoTerminalsAvailable();

// A fresh pseudo-terminal in raw mode: *end is the simulator's side, *path
// the device a program opens as its serial port (held open here too, so the
// simulator never sees a hang-up between two programs). ENOSYS on Windows.
int LineEndOpenPseudoTerminal(LineEnd **end, std::string *path);
// A serial device, raw 8N1 at `baud` (ERANGE for a rate it has no setting
// for). ENOSYS on Windows.
int LineEndOpenDevice(const char *device, uint32_t baud, LineEnd **end);
void LineEndClose(LineEnd *end);
// What has arrived, up to `capacity` bytes, without waiting: the number read
// (0: nothing), -EIO when the other end hung up, or minus an error number.
int32_t LineEndRead(LineEnd *end, uint8_t *buffer, int32_t capacity);
// Writes without waiting: the number written (0: no room), or minus an error.
int32_t LineEndWrite(LineEnd *end, const uint8_t *data, int32_t length);

int WakeupCreate(Wakeup **wakeup);
void WakeupDestroy(Wakeup *wakeup);
// Ends the wait going on on another thread, and every later one: a wakeup
// is for good (the thread is to stop).
void WakeupSignal(Wakeup *wakeup);

enum WaitResult : int { kWaitTimedOut = 0, kWaitReady = 1, kWaitWoken = 2 };
// Waits up to `milliseconds` (-1: for ever) for a datagram on `socket` or
// the wakeup. A WaitResult, or minus an error number.
int WaitForDatagram(UdpSocket socket, Wakeup *wakeup, int32_t milliseconds);
// The same for input on the line, or with `toWrite` for room to write.
int WaitForLine(LineEnd *end, bool toWrite, Wakeup *wakeup, int32_t milliseconds);

}  // namespace platform
