#include "tests/nccmd/scripted_controller.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/frame_codec.h"
#include "nccmd/nc_commands.h"
#include "core/request_engine.h"

namespace scripted_nc {

namespace {

Responder responder;
std::vector<Request> requests;
std::vector<std::string> pendingAnswers;  // the try's datagrams, in order

uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    throw std::runtime_error("request frame holds a non-hex character");
}

uint8_t HexByte(const char *text) { return static_cast<uint8_t>(HexValue(text[0]) * 16 + HexValue(text[1])); }

// Frames built independently of the engine's encoder, with the checksum rule
// of the wire (over the characters after ':', count taken modulo 256).
std::string Frame(const Bytes &bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string body;
    for (uint8_t b : bytes) {
        body += hex[b >> 4];
        body += hex[b & 15];
    }
    uint8_t sum = 0;
    for (size_t i = 0; i < body.size() % 256; ++i) sum = static_cast<uint8_t>(sum + body[i]);
    const auto check = static_cast<uint8_t>(-sum);
    return ":" + body + hex[check >> 4] + hex[check & 15] + "\r\n";
}

uint8_t Receive(uint8_t *buffer, int32_t *count) {
    if (pendingAnswers.empty()) return 0xFF;
    const std::string answer = pendingAnswers.front();
    pendingAnswers.erase(pendingAnswers.begin());
    std::memcpy(buffer, answer.data(), answer.size());
    *count = static_cast<int32_t>(answer.size());
    return 0;
}

std::string NormalAnswerFrame(const Request &request, const Bytes &payload) {
    return Frame(Concat({{request.address, request.function, static_cast<uint8_t>(payload.size() >> 8),
                          static_cast<uint8_t>(payload.size())},
                         payload}));
}

void Send(const char *text) {
    const size_t length = std::strchr(text, '\n') - text + 1;
    if (length < 13 || text[0] != ':') throw std::runtime_error("malformed request frame");
    Request request;
    request.address = HexByte(text + 1);
    request.function = HexByte(text + 3);
    const size_t payloadLength = HexByte(text + 5) * 256u + HexByte(text + 7);
    if (length != 13 + 2 * payloadLength) throw std::runtime_error("request length field disagrees with frame");
    for (size_t i = 0; i < payloadLength; ++i) request.payload.push_back(HexByte(text + 9 + 2 * i));
    requests.push_back(request);

    const Reply reply = responder(request);
    pendingAnswers.clear();
    for (const Bytes &stray : reply.straysFirst) pendingAnswers.push_back(NormalAnswerFrame(request, stray));
    switch (reply.kind) {
        case Reply::kNormal:
            pendingAnswers.push_back(NormalAnswerFrame(request, reply.payload));
            break;
        case Reply::kException:
            pendingAnswers.push_back(
                Frame({request.address, static_cast<uint8_t>(request.function | 0x80), reply.exception}));
            break;
        case Reply::kSilence:
            break;
    }
}

}  // namespace

void Install(Responder r, int32_t retries) {
    responder = std::move(r);
    requests.clear();
    pendingAnswers.clear();
    core::ModbusInit(1, 0, retries);
    core::SetUartReceiveFun(Receive);
    core::SetUartSendFrameFun(Send);
}

const std::vector<Request> &Requests() { return requests; }

Bytes BigEndian32(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

uint32_t ReadBigEndian32(const Bytes &payload, size_t offset) {
    if (payload.size() < offset + 4) throw std::runtime_error("payload too short for a header number");
    return uint32_t(payload[offset]) << 24 | uint32_t(payload[offset + 1]) << 16 | uint32_t(payload[offset + 2]) << 8 |
           payload[offset + 3];
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Text(const char *text) { return Bytes(text, text + std::strlen(text)); }

Bytes FirstAnswer(uint32_t number, uint32_t blockCount, uint32_t totalSize) {
    return Concat({BigEndian32(number), BigEndian32(blockCount), BigEndian32(totalSize)});
}

Bytes BlockAnswer(uint32_t number, const Bytes &data) { return Concat({BigEndian32(number), data}); }

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

Responder ServeFile(const Bytes &file, uint32_t failAt) {
    return [file, failAt](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        const auto blocks = static_cast<uint32_t>(nccmd::BlockCount(int32_t(file.size())));
        if (number == 0) return Normal(FirstAnswer(0, blocks, uint32_t(file.size())));
        if (number == failAt) return Exception(0x08);
        if (number > blocks) return Normal(BigEndian32(number));
        const size_t start = (number - 1) * 512;
        const size_t end = std::min(file.size(), start + 512);
        return Normal(BlockAnswer(number, Bytes(file.begin() + start, file.begin() + end)));
    };
}

}  // namespace scripted_nc
