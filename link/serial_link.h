// The serial link: one port at a time, raw 8N1 without flow control, DTR and
// RTS raised. Plain termios on a file descriptor, so it also drives USB
// adapters and pseudo-terminals. All operations run on the thread that makes
// the engine's requests; there are no locks.
#pragma once

#include <cstdint>

namespace dnclink {

// One record for the whole process; the codes are those the window relies on
// (port 1 is the first serial port, the baud code is the table index).
struct SerialConfig {
    int32_t port;          // 1 = first serial port; 0 after SerialSelectDevice
    int32_t baudCode;      // BaudRateTable[baudIndex].code
    int32_t parityCode;    // always 0: no parity
    int32_t dataBitsCode;  // always 3: eight data bits
    int32_t stopBitsCode;  // always 0: one stop bit
    int32_t baudIndex;     // 0..19, CB2's position
    bool hardwareHandshake;  // always false
    bool softwareHandshake;  // always false
    bool dtr;              // always true
    bool rts;              // always true
    bool open;             // true while the port is open and configured
};

inline constexpr int kBaudRateCount = 20;
inline constexpr int kBaudTextSize = 10;

// The one baud table: the window's list, dncctl's --baud and the line
// settings all read it.
struct BaudRateEntry {
    char text[kBaudTextSize];   // the rate's short text, e.g. "115200"
    int32_t code;               // equals the entry's index
    uint32_t rate;              // bits per second given to the line
    char listText[kBaudTextSize];  // what a list of rates shows ("134.5")
};

// "50" .. "921600". Entry 3 reads "134" and runs the line at 134 bits per
// second (termios takes no fraction); lists show it as "134.5".
extern const BaudRateEntry BaudRateTable[kBaudRateCount];

// The table index of a rate given as its text or its list text; -1 when
// the table has no such rate.
int32_t BaudIndexOf(const char *text);

// The rate in bits per second of a table index, 0 for an index outside it.
uint32_t BaudRateOf(int32_t baudIndex);

// Closes the open port and records port n (on Linux /dev/ttyS<n-1>) and the
// rate of the table index. Always 0.
int32_t SerialSelect(int32_t port, int32_t baudIndex);

// As SerialSelect, for any device path (USB adapter, pseudo-terminal).
int32_t SerialSelectDevice(const char *path, int32_t baudIndex);

// Opens the selected device exclusively and applies the line settings.
// False when it cannot be opened or refuses a setting (SerialLastError says
// why); a device without modem-control lines is not a failure.
bool SerialOpen();

// Closes the port and clears the open flag. Always true.
bool SerialClose();

// True when a frame went out while the one before it was still unanswered
// (a try that timed out), or the last one is: its answer may still arrive,
// and a program that opens the line next would take it for the answer to
// its own first request (a text command's answer carries nothing to tell it
// by).
bool SerialAnswersMayBeInFlight();

// Reads and drops whatever arrives until the line has been quiet for
// `quietMs`, or `longestMs` have passed. Run before closing a port whose
// answers may be in flight.
void SerialDrainLateAnswers(int quietMs, int longestMs);

// The settings as last selected, and the open flag.
const SerialConfig &CurrentSerialConfig();

// The device path SerialOpen uses.
const char *SerialDevicePath();

// Why the last SerialOpen failed, or why the port was closed under the link
// (hang-up, I/O error): the system's text and its errno; "" and 0 if none.
const char *SerialLastError();
int SerialLastErrno();

}  // namespace dnclink
