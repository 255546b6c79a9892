#include "core/request_engine.h"

#include <algorithm>
#include <cstring>

#include "core/engine_clock.h"

namespace core {
namespace {

// A copy of the caller's request, replayed at the start of every try.
struct SaveArea {
    uint8_t payload[kMaxPayload];
    uint16_t length;
};

struct EngineState {
    UartReceiveFun receive;
    UartSendFrameFun send;
    EngineSettings settings;
    bool initialised;  // false until the first ModbusInit
    char sendText[kFrameTextSize];
    char receiveText[kFrameTextSize];
    uint8_t scratch[kFrameTextSize];  // byte mode hands this to the callback
    uint16_t receivePosition;
    bool frameComplete;
    // The wait of the running try. A try may receive several frames (answers
    // meant for other requests are dropped), and all of them share one wait.
    // Only time with no byte arriving counts: a slow line delivering a long
    // answer is not a silent one. The library counts empty polls; the
    // program reads the clock, from the try's start or its last byte.
    uint32_t quietSince;
    int64_t waited;
    // Characters of the receive text that belong to the frame just received;
    // the parser never reads beyond them, so stale characters left by an
    // earlier, longer frame can never complete a short one.
    uint16_t receivedLength;
    SaveArea readSave;
    SaveArea writeSave;
};

// Zero at load: null callbacks, settings 0 (block mode, no retries).
constinit EngineState engine{};

// The try counter is 16 bits wide; larger settings would never end.
constexpr int32_t kMaxRetries = 0xFFFF;

// The outcome of one try: its code, and whether the request ends with it
// even though tries remain.
struct TryResult {
    uint8_t code;
    bool final;
};

constexpr TryResult Failed(uint8_t code) { return {code, false}; }

// The filelink build ends at once on answers that a retry cannot change.
constexpr TryResult FailedForGood(uint8_t code) { return {code, kFilelinkBuild}; }

uint16_t BuildFrame(uint8_t address, uint8_t function, uint16_t length, const uint8_t *payload) {
    char *text = engine.sendText;
    uint16_t position = 0;
    text[position++] = ':';
    PutHexByte(address, text, &position);
    PutHexByte(function, text, &position);
    PutHexByte(static_cast<uint8_t>(length >> 8), text, &position);
    PutHexByte(static_cast<uint8_t>(length & 0xFF), text, &position);
    for (uint16_t i = 0; i < length; ++i) PutHexByte(payload[i], text, &position);
    const uint8_t checksum = FrameChecksum(text + 1, static_cast<uint8_t>((position - 1) % 256));
    PutHexByte(checksum, text, &position);
    text[position++] = '\r';
    text[position++] = '\n';
    return position;
}

bool Received(size_t end) { return end <= engine.receivedLength; }

// Decodes the two characters at *position, which must have been received.
// A frame is hex or it is not a frame: the checksum covers only the first
// (count mod 256) characters, so a damaged digit beyond them ('4' become
// 't') would decode to a wrong byte unnoticed. Such a frame is damage, and
// retried like a checksum mismatch.
bool GetDigits(uint8_t *result, uint16_t *position) {
    const char *text = engine.receiveText;
    if (!IsHexDigit(text[*position]) || !IsHexDigit(text[*position + 1])) return false;
    GetHexByte(result, text, position);
    return true;
}

TryResult CheckNormalAnswer(uint16_t position, uint16_t *length, uint8_t *buffer) {
    const char *text = engine.receiveText;
    if (!Received(position + 4u)) return Failed(kResultChecksum);
    uint8_t high = 0;
    uint8_t low = 0;
    if (!GetDigits(&high, &position) || !GetDigits(&low, &position)) return Failed(kResultChecksum);
    const uint16_t answerLength = static_cast<uint16_t>(high * 256 + low);
    if (answerLength > kMaxPayload) return Failed(kResultLengthTooBig);

    *length = answerLength;
    for (uint16_t i = 0; i < answerLength; ++i) {
        if (!Received(position + 2u) || !GetDigits(&buffer[i], &position)) return Failed(kResultChecksum);
    }
    if (!Received(position + 2u)) return Failed(kResultChecksum);
    const uint8_t expected = FrameChecksum(text + 1, static_cast<uint8_t>((position - 1) % 256));
    uint8_t checksum = 0;
    if (!GetDigits(&checksum, &position) || checksum != expected) return Failed(kResultChecksum);
    if (!Received(position + 1u) || text[position] != '\r') return Failed(kResultNoCr);
    if (!Received(position + 2u) || text[position + 1] != '\n') return Failed(kResultNoLf);
    return {kResultOk, true};
}

TryResult CheckExceptionAnswer() {
    const char *text = engine.receiveText;
    if (!Received(9)) return Failed(kResultExceptionChecksum);
    uint16_t position = 5;
    uint8_t exceptionCode = 0;
    uint8_t checksum = 0;
    if (!GetDigits(&exceptionCode, &position) || !GetDigits(&checksum, &position)) {
        return Failed(kResultExceptionChecksum);
    }
    if (checksum != FrameChecksum(text + 1, 6)) return Failed(kResultExceptionChecksum);
    if (!Received(10) || text[9] != '\r') return Failed(kResultExceptionNoCr);
    if (!Received(11) || text[10] != '\n') return Failed(kResultExceptionNoLf);
    // Code 0 would read as success while the buffer still holds the request:
    // such an answer is as unusable as an unknown function code.
    if (exceptionCode == kResultOk) return FailedForGood(kResultBadFunction);
    return FailedForGood(exceptionCode);
}

TryResult CheckAnswer(uint8_t address, uint8_t function, uint16_t *length, uint8_t *buffer) {
    const char *text = engine.receiveText;
    if (!Received(1) || text[0] != ':') return Failed(kResultBadStart);
    uint16_t position = 1;
    uint8_t answerAddress = 0;
    uint8_t answerFunction = 0;
    if (!Received(3)) return Failed(kResultWrongAddress);
    // Damaged digits in the header are damage, not another device's answer
    // or a function code the library would end the request on.
    if (!GetDigits(&answerAddress, &position)) return Failed(kResultChecksum);
    if (answerAddress != address) return Failed(kResultWrongAddress);
    if (!Received(5)) return FailedForGood(kResultBadFunction);
    if (!GetDigits(&answerFunction, &position)) return Failed(kResultChecksum);
    if (answerFunction == function) return CheckNormalAnswer(position, length, buffer);
    if (answerFunction == (function | 0x80)) return CheckExceptionAnswer();
    return FailedForGood(kResultBadFunction);
}

// Characters a receive takes without a whole frame among them: two of the
// longest frames. A line that keeps sending bytes that never make a frame
// (noise, a wrong rate, a chatty device) never falls silent, so the wait
// alone would hold the request for ever; this bound needs no clock and no
// rate, and ends such a try within a few seconds even at low rates.
constexpr uint32_t kMaxCharactersWithoutFrame = 2 * kFrameTextSize;

void ReceiveBytes() {
    const int32_t timeout = engine.settings.timeout;
    int32_t unusedCount = 0;
    uint32_t characters = 0;
    while (!engine.frameComplete && engine.waited < timeout) {
        const uint8_t b = engine.receive(engine.scratch, &unusedCount);
        if (b == 0xFF) {
            if constexpr (kFilelinkBuild) {
                ++engine.waited;
                EngineSleepMs(1);
            } else {
                engine.waited = static_cast<uint32_t>(EngineTickMs() - engine.quietSince);
            }
            continue;
        }
        if constexpr (!kFilelinkBuild) engine.quietSince = EngineTickMs();
        if (++characters > kMaxCharactersWithoutFrame) break;
        if (b == ':') engine.receivePosition = 0;
        if (engine.receivePosition >= kFrameTextSize) engine.receivePosition = 0;
        if (b == '\n') engine.frameComplete = true;
        engine.receiveText[engine.receivePosition++] = static_cast<char>(b);
    }
    engine.receivedLength = engine.frameComplete ? engine.receivePosition : 0;
}

void ReceiveBlock() {
    std::memset(engine.receiveText, 0, sizeof engine.receiveText);
    int32_t count = 0;
    const uint8_t got = engine.receive(reinterpret_cast<uint8_t *>(engine.receiveText), &count);
    if (got == 0xFF) {
        EngineSleepMs(1);
        return;
    }
    const char *text = engine.receiveText;
    engine.frameComplete = count >= 3 && static_cast<size_t>(count) <= kFrameTextSize && text[0] == ':' &&
                           text[count - 2] == '\r' && text[count - 1] == '\n';
    if (engine.frameComplete) {
        engine.receivedLength = static_cast<uint16_t>(count);
    } else if constexpr (kFilelinkBuild) {
        EngineSleepMs(1);
    }
}

void BeginWait() {
    engine.quietSince = EngineTickMs();
    engine.waited = 0;
}

// Receives the next frame within the running try's wait.
bool ReceiveAnswer() {
    engine.receivePosition = 0;
    engine.frameComplete = false;
    engine.receivedLength = 0;
    if (engine.settings.timeout >= 1) {
        ReceiveBytes();
    } else {
        ReceiveBlock();
    }
    return engine.frameComplete;
}

bool Matches(const AnswerMatch &match, const uint8_t *payload, uint16_t length) {
    return match.accepts == nullptr || match.accepts(match.context, payload, length);
}

// One try's wait for its answer. A valid answer the match turns down was
// meant for another request: the caller's buffer gets the request back, as
// if the answer had never come, and the wait goes on.
TryResult AwaitAnswer(uint8_t function, const SaveArea &save, uint8_t address, uint16_t *length, uint8_t *buffer,
                      const AnswerMatch &match) {
    BeginWait();
    for (int dropped = 0;;) {
        if (!ReceiveAnswer()) return Failed(kResultNoAnswer);
        const TryResult result = CheckAnswer(address, function, length, buffer);
        if (result.code != kResultOk || Matches(match, buffer, *length)) return result;
        std::memcpy(buffer, save.payload, save.length);
        *length = save.length;
        if (++dropped >= kMaxDroppedAnswersPerTry) return Failed(kResultNoAnswer);
    }
}

uint8_t Request(uint8_t function, SaveArea &save, uint8_t address, uint16_t *length, uint8_t *buffer,
                const AnswerMatch &match) {
    if (*length > kMaxPayload) return kResultRequestTooLong;
    if (engine.receive == nullptr || engine.send == nullptr) return kResultNoAnswer;

    std::memcpy(save.payload, buffer, *length);
    save.length = *length;
    for (uint16_t tries = 0;; ++tries) {
        std::memcpy(buffer, save.payload, save.length);
        *length = save.length;
        BuildFrame(address, function, save.length, save.payload);
        engine.send(engine.sendText);

        const TryResult result = AwaitAnswer(function, save, address, length, buffer, match);
        if (result.code == kResultOk || result.final) return result.code;
        if (static_cast<int32_t>(tries) >= std::min(engine.settings.retries, kMaxRetries)) return result.code;
    }
}

}  // namespace

void SetUartReceiveFun(UartReceiveFun receive) { engine.receive = receive; }

void SetUartSendFrameFun(UartSendFrameFun send) { engine.send = send; }

void ModbusInit(uint8_t address, int32_t timeout, int32_t retries) {
    engine.settings = {address, timeout, retries};
    if (!engine.initialised) {
        engine.initialised = true;
        engine.receive = nullptr;
        engine.send = nullptr;
    }
}

const EngineSettings &CurrentEngineSettings() { return engine.settings; }

uint8_t ModbusReadFileReq(uint8_t address, uint16_t *length, uint8_t *buffer, AnswerMatch match) {
    return Request(kReadFunction, engine.readSave, address, length, buffer, match);
}

uint8_t ModbusWriteFileReq(uint8_t address, uint16_t *length, uint8_t *buffer, AnswerMatch match) {
    return Request(kWriteFunction, engine.writeSave, address, length, buffer, match);
}

bool ReceiveFrame() {
    BeginWait();
    return ReceiveAnswer();
}

}  // namespace core
