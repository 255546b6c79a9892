// A serial port driven raw: eight data bits, no parity, one stop bit, no
// flow control, DTR and RTS raised, taken by one program at a time. Errors
// are errno values on every system (ENOENT no such port, EBUSY in use, EIO
// the line went away, EINVAL a rate the port cannot do).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An open port; only this layer looks inside.
struct SerialPort;

// The device that serial port `number` (1 for the first) is on this system:
// /dev/ttyS0 or \\.\COM1.
void SerialPortDeviceOf(int32_t number, char *device, size_t size);

// The device a name the user gave stands for: "COM10" names \\.\COM10 on
// Windows; a path is taken as it is.
void SerialPortDeviceFor(const char *name, char *device, size_t size);

// Opens `device` alone, applies the line settings at `baud` bits per second
// and empties both directions. 0 with *port set, else an error number and
// in *failedStep what failed ("cannot open", "cannot lock", "cannot
// configure").
int SerialPortOpen(const char *device, uint32_t baud, SerialPort **port, const char **failedStep);

// Releases the port (and exclusive use of it).
void SerialPortClose(SerialPort *port);

// Reads what has arrived, up to `capacity` bytes. With nothing waiting it
// waits up to `waitMs` for the first byte, sleeping meanwhile. The number of
// bytes read (0: none came), or minus an error number (EIO when the line
// hung up).
int32_t SerialPortRead(SerialPort *port, uint8_t *buffer, int32_t capacity, int32_t waitMs);

// Writes `length` bytes, waiting up to `waitMs` for room on the port. The
// number written (short when the wait ran out), or minus an error number.
int32_t SerialPortWrite(SerialPort *port, const uint8_t *data, int32_t length, int32_t waitMs);

// Drops whatever has arrived and not been read yet.
void SerialPortDiscardInput(SerialPort *port);

// The group whose members may open `device`, for the advice after a refusal
// for want of rights (POSIX: the device's owning group); "" where the
// system has no such rule or it cannot be told.
std::string SerialPortOwnerGroup(const char *device);

}  // namespace platform
