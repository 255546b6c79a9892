// Frames built and verified per second by the engine, as a ratio to a plain
// copy of the same bytes (request frame out, answer frame in).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "ncsim/frames.h"
#include "bench/ratio_report.h"
#include "core/request_engine.h"

namespace {

// The answer the loopback hands back: built once, copied in at every request.
std::string answer;
char sentFrame[core::kFrameTextSize];

uint8_t LoopbackReceive(uint8_t *buffer, int32_t *count) {
    std::memcpy(buffer, answer.data(), answer.size());
    *count = static_cast<int32_t>(answer.size());
    return 0;
}

void LoopbackSend(const char *text) { std::memcpy(sentFrame, text, std::strchr(text, '\n') - text + 1); }

void BM_EngineRoundTrip(benchmark::State &state) {
    const auto n = static_cast<uint16_t>(state.range(0));
    uint8_t payload[core::kMaxPayload];
    for (uint16_t i = 0; i < n; ++i) payload[i] = static_cast<uint8_t>(i * 7);
    answer = ncsim::NormalFrame(1, core::kReadFunction, std::vector<uint8_t>(payload, payload + n));
    core::ModbusInit(1, 0, 0);
    core::SetUartReceiveFun(LoopbackReceive);
    core::SetUartSendFrameFun(LoopbackSend);
    uint8_t buffer[core::kMaxPayload];
    for (auto _ : state) {
        std::memcpy(buffer, payload, n);
        uint16_t length = n;
        if (core::ModbusReadFileReq(1, &length, buffer) != 0) state.SkipWithError("request failed");
        benchmark::DoNotOptimize(buffer);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same bytes moved by plain copies: the request frame out, the answer in.
void BM_PlainCopy(benchmark::State &state) {
    const auto n = static_cast<uint16_t>(state.range(0));
    std::string request(core::FrameLength(n), 'A');
    answer = std::string(core::FrameLength(n), 'B');
    static char out[core::kFrameTextSize];
    static char in[core::kFrameTextSize];
    for (auto _ : state) {
        std::memcpy(out, request.data(), request.size());
        std::memcpy(in, answer.data(), answer.size());
        benchmark::DoNotOptimize(out);
        benchmark::DoNotOptimize(in);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_EngineRoundTrip)->Arg(0)->Arg(512)->Arg(1024);
BENCHMARK(BM_PlainCopy)->Arg(0)->Arg(512)->Arg(1024);

}  // namespace

int main(int argc, char **argv) {
    std::vector<bench::RatioPair> pairs;
    for (const char *n : {"0", "512", "1024"}) {
        pairs.push_back({std::string("frames built+verified / plain copies, payload ") + n,
                         std::string("BM_EngineRoundTrip/") + n, std::string("BM_PlainCopy/") + n});
    }
    return bench::RunWithRatios(argc, argv, pairs);
}
