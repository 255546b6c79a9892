#include "link/serial_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/link_internal.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace dnclink {

const BaudRateEntry BaudRateTable[kBaudRateCount] = {
    {"50", 0, 50, "50"},
    {"75", 1, 75, "75"},
    {"110", 2, 110, "110"},
    {"134", 3, 134, "134.5"},
    {"150", 4, 150, "150"},
    {"300", 5, 300, "300"},
    {"600", 6, 600, "600"},
    {"1200", 7, 1200, "1200"},
    {"1800", 8, 1800, "1800"},
    {"2400", 9, 2400, "2400"},
    {"4800", 10, 4800, "4800"},
    {"7200", 11, 7200, "7200"},
    {"9600", 12, 9600, "9600"},
    {"19200", 13, 19200, "19200"},
    {"38400", 14, 38400, "38400"},
    {"57600", 15, 57600, "57600"},
    {"115200", 16, 115200, "115200"},
    {"230400", 17, 230400, "230400"},
    {"460800", 18, 460800, "460800"},
    {"921600", 19, 921600, "921600"},
};

namespace {

// Bytes read from the port in one go; handed to the engine one per call.
constexpr size_t kReceiveChunk = 4096;

struct SerialState {
    SerialConfig config;
    platform::SerialPort *port = nullptr;
    char path[256];
    uint8_t received[kReceiveChunk];
    size_t receivedFill;
    size_t receivedNext;
    char lastError[640];
    int lastErrno;
    // A frame went out and no frame (no LF) has come back since; when the
    // next one goes out regardless (a try that timed out), its answer may
    // still be on its way.
    bool awaitingAnswer;
    bool answersMayBeInFlight;
};

SerialState serial{};

void RecordError(int error, const char *what) {
    serial.lastErrno = error;
    std::snprintf(serial.lastError, sizeof serial.lastError, "%s %s: %s", what, serial.path, std::strerror(error));
}

void CloseDescriptor() {
    platform::SerialPortClose(serial.port);  // and gives up exclusive use
    serial.port = nullptr;
    serial.config.open = false;
    serial.receivedFill = serial.receivedNext = 0;
    serial.awaitingAnswer = false;
    serial.answersMayBeInFlight = false;
}

// The device went away (unplugged, other end of a pseudo-terminal closed):
// the port ends closed, so requests fail after their retries instead of the
// link spinning on a dead descriptor.
void CloseAfterFailure(int error, const char *what) {
    RecordError(error, what);
    CloseDescriptor();
}

void RecordSelection(int32_t port, int32_t baudIndex) {
    CloseDescriptor();
    SerialConfig &c = serial.config;
    c.port = port;
    c.baudIndex = baudIndex;
    c.baudCode = baudIndex >= 0 && baudIndex < kBaudRateCount ? BaudRateTable[baudIndex].code : 0;
    c.parityCode = 0;
    c.dataBitsCode = 3;
    c.stopBitsCode = 0;
    c.hardwareHandshake = false;
    c.softwareHandshake = false;
    c.dtr = true;
    c.rts = true;
}

// Milliseconds `characters` take on the line at the selected rate, 10 bits
// each (start, 8 data, stop), rounded up.
int64_t LineTimeMs(size_t characters) {
    const uint32_t baud = BaudRateOf(serial.config.baudIndex);
    if (baud == 0) return 0;
    return static_cast<int64_t>((uint64_t(characters) * 10 * 1000 + baud - 1) / baud);
}

// Reads what is waiting into the receive chunk, waiting up to `waitMs` for
// the first byte. True when bytes came.
bool FillFromPort(int32_t waitMs) {
    const int32_t n = platform::SerialPortRead(serial.port, serial.received, sizeof serial.received, waitMs);
    if (n > 0) {
        serial.receivedFill = static_cast<size_t>(n);
        serial.receivedNext = 0;
        return true;
    }
    if (n == -EIO) {
        CloseAfterFailure(EIO, "hang-up on");
    } else if (n < 0) {
        CloseAfterFailure(-n, "read from");
    }
    return false;
}

}  // namespace

uint32_t BaudRateOf(int32_t baudIndex) {
    return baudIndex >= 0 && baudIndex < kBaudRateCount ? BaudRateTable[baudIndex].rate : 0;
}

int32_t BaudIndexOf(const char *text) {
    for (int32_t i = 0; i < kBaudRateCount; ++i) {
        if (std::strcmp(text, BaudRateTable[i].text) == 0 || std::strcmp(text, BaudRateTable[i].listText) == 0) return i;
    }
    return -1;
}

int32_t SerialSelect(int32_t port, int32_t baudIndex) {
    RecordSelection(port, baudIndex);
    platform::SerialPortDeviceOf(port, serial.path, sizeof serial.path);
    return 0;
}

int32_t SerialSelectDevice(const char *path, int32_t baudIndex) {
    RecordSelection(0, baudIndex);
    platform::SerialPortDeviceFor(path, serial.path, sizeof serial.path);
    return 0;
}

bool SerialOpen() {
    CloseDescriptor();
    serial.lastError[0] = '\0';
    serial.lastErrno = 0;
    const uint32_t baud = BaudRateOf(serial.config.baudIndex);
    if (baud == 0) {
        RecordError(EINVAL, "no such rate for");
        return false;
    }
    // Opened alone (two programs on one line would interleave their frames)
    // and emptied: whatever waits in the port was meant for whoever had it
    // before, and a late answer to another process's request must not answer
    // this one's.
    const char *failedStep = "cannot open";
    const int error = platform::SerialPortOpen(serial.path, baud, &serial.port, &failedStep);
    if (error != 0) {
        serial.port = nullptr;
        RecordError(error, failedStep);
        return false;
    }
    serial.receivedFill = serial.receivedNext = 0;
    serial.config.open = true;
    return true;
}

bool SerialClose() {
    CloseDescriptor();
    return true;
}

bool SerialAnswersMayBeInFlight() {
    return serial.config.open && (serial.answersMayBeInFlight || serial.awaitingAnswer);
}

void SerialDrainLateAnswers(int quietMs, int longestMs) {
    if (!serial.config.open) return;
    const int64_t start = detail::NowMs();
    int64_t quietSince = start;
    uint8_t discard[kReceiveChunk];
    for (int64_t now = start; now - quietSince < quietMs && now - start < longestMs; now = detail::NowMs()) {
        const int64_t wait = std::min<int64_t>(quietMs - (now - quietSince), longestMs - (now - start));
        const int32_t n = platform::SerialPortRead(serial.port, discard, sizeof discard,
                                                   static_cast<int32_t>(std::max<int64_t>(wait, 1)));
        if (n < 0) break;  // the line went away: nothing more can come
        if (n > 0) quietSince = detail::NowMs();
    }
    serial.receivedFill = serial.receivedNext = 0;
    serial.awaitingAnswer = false;
    serial.answersMayBeInFlight = false;
}

const SerialConfig &CurrentSerialConfig() { return serial.config; }

const char *SerialDevicePath() { return serial.path; }

const char *SerialLastError() { return serial.lastError; }

int SerialLastErrno() { return serial.lastErrno; }

namespace detail {

// Hands out the next received byte, noting the end of a frame.
uint8_t TakeReceived() {
    const uint8_t b = serial.received[serial.receivedNext++];
    if (b == '\n') serial.awaitingAnswer = false;
    return b;
}

uint8_t SerialReceiveByte() {
    if (serial.config.open) {
        if (serial.receivedNext < serial.receivedFill) return TakeReceived();
        // Take what is waiting, or sleep until a byte comes or 1 ms passes,
        // so the engine's wait never spins a core.
        if (FillFromPort(1)) return TakeReceived();
    } else {
        // The engine keeps asking until its time-out runs out; with no port
        // (never opened, or closed after a hang-up) the wait must still
        // sleep, or every request would burn a core for its whole time-out.
        platform::SleepMs(1);
    }
    RunIdleHook();
    return 255;
}

void SerialSendFrame(const char *text, size_t length) {
    if (!serial.config.open) return;
    // An answer that came too late for an earlier try must not be read as
    // the answer to this frame.
    platform::SerialPortDiscardInput(serial.port);
    serial.receivedFill = serial.receivedNext = 0;
    if (serial.awaitingAnswer) serial.answersMayBeInFlight = true;
    serial.awaitingAnswer = true;

    // The whole frame goes out, also at slow rates: allow its transmission
    // time plus a second before giving up on a stuck line.
    const int64_t lineMs = LineTimeMs(length);
    const int64_t start = detail::NowMs();
    const int32_t sent = platform::SerialPortWrite(serial.port, reinterpret_cast<const uint8_t *>(text),
                                                   static_cast<int32_t>(length), static_cast<int32_t>(1000 + lineMs));
    if (sent < 0) {
        CloseAfterFailure(-sent, "write to");
        return;
    }
    if (static_cast<size_t>(sent) < length) return;
    // The engine's wait for the answer starts when this returns, and the
    // controller cannot answer before the frame's last character reached
    // it: a full block at 9600 baud is 1.09 s on the line, which must not be
    // taken from the answer's wait. The port's buffer takes the frame at
    // once, and a pseudo-terminal carries it at no rate at all, so the time
    // comes from the configured rate. The window keeps painting meanwhile.
    for (int64_t left = start + lineMs - detail::NowMs(); left > 0; left = start + lineMs - detail::NowMs()) {
        platform::SleepMs(static_cast<int32_t>(std::min<int64_t>(left, 10)));
        RunIdleHook();
    }
}

}  // namespace detail
}  // namespace dnclink
