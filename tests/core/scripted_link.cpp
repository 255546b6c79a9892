#include "tests/core/scripted_link.h"

#include <cstring>

#include "tests/core/fake_clock.h"
#include "core/request_engine.h"

namespace scripted {
namespace {

struct State {
    std::vector<Answer> answers;
    size_t next = 0;
    std::string current;  // answer of the running try
    std::optional<int32_t> currentCount;
    std::vector<std::string> moreBlocks;  // block mode: the try's later datagrams
    size_t cursor = 0;
    uint32_t gapLeft = 0;
    ByteTiming timing;
    std::vector<std::string> sent;
    int receiveCalls = 0;
    bool blockMode = false;
};
State state;

uint8_t Receive(uint8_t *buffer, int32_t *count) {
    ++state.receiveCalls;
    if (state.blockMode) {
        fake_clock::Advance(state.timing.msPerPoll);
        if (state.current.empty() && !state.moreBlocks.empty()) {
            state.current = state.moreBlocks.front();
            state.currentCount.reset();
            state.moreBlocks.erase(state.moreBlocks.begin());
        }
        if (state.current.empty()) return 255;
        std::memcpy(buffer, state.current.data(), std::min(state.current.size(), core::kFrameTextSize));
        *count = state.currentCount.value_or(static_cast<int32_t>(state.current.size()));
        state.current.clear();
        return 0;
    }
    if (state.cursor >= state.current.size() || state.gapLeft > 0) {
        if (state.gapLeft > 0) --state.gapLeft;
        fake_clock::Advance(state.timing.msPerPoll);
        return 255;
    }
    state.gapLeft = state.timing.emptyPollsBetween;
    fake_clock::Advance(state.timing.msPerByte);
    return static_cast<uint8_t>(state.current[state.cursor++]);
}

void Send(const char *text) {
    // mingw's strchr hands back a char * for a const char *.
    const char *end = std::strchr(text, '\n') + 1;
    state.sent.emplace_back(text, end);
    const Answer answer = state.next < state.answers.size() ? state.answers[state.next] : Answer{};
    ++state.next;
    state.current = answer.text;
    state.currentCount = answer.count;
    state.moreBlocks.clear();
    if (state.blockMode) {
        state.moreBlocks = answer.more;
    } else {
        for (const std::string &frame : answer.more) state.current += frame;
    }
    state.cursor = 0;
    state.gapLeft = state.timing.emptyPollsBetween;
}

}  // namespace

void Install(int32_t timeout, int32_t retries, std::vector<Answer> answers, ByteTiming timing) {
    state = State{};
    state.answers = std::move(answers);
    state.timing = timing;
    state.blockMode = timeout <= 0;
    fake_clock::Reset();
    core::ModbusInit(1, timeout, retries);
    core::SetUartReceiveFun(Receive);
    core::SetUartSendFrameFun(Send);
}

const std::vector<std::string> &Sent() { return state.sent; }
int ReceiveCalls() { return state.receiveCalls; }

}  // namespace scripted

namespace {

std::string Hex(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 15]};
}

// The checksum covers (characters after ':') mod 256 of them.
std::string WithChecksum(const std::string &body) {
    uint8_t sum = 0;
    for (size_t i = 0; i < body.size() % 256; ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(body[i]));
    return ":" + body + Hex(static_cast<uint8_t>(-sum)) + "\r\n";
}

}  // namespace

std::string NormalFrame(uint8_t address, uint8_t function, const std::string &payload) {
    std::string body = Hex(address) + Hex(function) + Hex(static_cast<uint8_t>(payload.size() >> 8)) +
                       Hex(static_cast<uint8_t>(payload.size()));
    for (char c : payload) body += Hex(static_cast<uint8_t>(c));
    return WithChecksum(body);
}

std::string ExceptionFrame(uint8_t address, uint8_t function, uint8_t code) {
    return WithChecksum(Hex(address) + Hex(function) + Hex(code));
}
