// The command layer and the whole-transfer loops against a controller whose
// every answer comes from the fuzz input: listing, file read and write, DNC
// run, state query, and the decoding of listing entries and state records.
//
// Each request the engine sends takes the next answer from the input: a
// kind byte (0 normal answer, 1 exception, 2 silence, 3 a stray answer
// followed by a normal one), then for normal answers a 16-bit length and
// that many payload bytes. The answers arrive as intact frames, so they
// reach the commands' own decoding. A finished input is silence.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/core/fake_clock.h"
#include "ncsim/frames.h"
#include "tests/fuzz/fuzz_input.h"
#include "nccmd/nc_commands.h"
#include "core/request_engine.h"
#include "nccmd/transfers.h"

namespace {

fuzzing::Input *input = nullptr;
std::vector<std::string> pending;  // datagrams of the try in progress

std::vector<uint8_t> NextPayload() { return input->Bytes(input->Word() % 1100); }

void Send(const char *text) {
    pending.clear();
    if (input->empty()) return;
    const auto function = static_cast<uint8_t>((text[3] - '0') * 16 + (text[4] - '0'));
    switch (input->Byte() % 4) {
        case 0:
            pending.push_back(ncsim::NormalFrame(1, function, NextPayload()));
            break;
        case 1:
            pending.push_back(ncsim::ExceptionAnswerFrame(1, function, input->Byte()));
            break;
        case 2:
            break;
        default:
            pending.push_back(ncsim::NormalFrame(1, function, NextPayload()));
            pending.push_back(ncsim::NormalFrame(1, function, NextPayload()));
            break;
    }
}

uint8_t Receive(uint8_t *buffer, int32_t *count) {
    fake_clock::Advance(1);
    if (pending.empty()) return 255;
    const std::string frame = pending.front();
    pending.erase(pending.begin());
    if (frame.size() > core::kFrameTextSize) return 255;  // more than a frame may carry
    std::memcpy(buffer, frame.data(), frame.size());
    *count = static_cast<int32_t>(frame.size());
    return 0;
}

// Cheap stand-ins for local files.
struct Sink {
    uint64_t bytes = 0;
    bool operator()(const uint8_t *, size_t n) {
        bytes += n;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzzing::Input in(data, size);
    input = &in;
    fake_clock::Reset();
    core::ModbusInit(1, 0, 1);
    core::SetUartReceiveFun(Receive);
    core::SetUartSendFrameFun(Send);

    std::vector<nccmd::ListingEntry> entries;
    if (nccmd::ListRemoteDirectory(1, "\\PRG\\", &entries) == 0 && entries.size() > 1024) std::abort();

    Sink sink;
    const auto read = nccmd::ReadRemoteFile(1, "\\PRG\\O0001.CNC", std::ref(sink));
    // A read reported whole delivered exactly the size it announced.
    if (read.Succeeded() && read.bytesDone != sink.bytes) std::abort();

    std::vector<uint8_t> file(1500, 'G');
    size_t offset = 0;
    auto source = [&](uint8_t *buffer, size_t n) {
        if (offset + n > file.size()) std::abort();  // the loop asked past the announced size
        std::memcpy(buffer, file.data() + offset, n);
        offset += n;
        return true;
    };
    nccmd::WriteRemoteFile(1, "\\PRG\\NEW.NC", int32_t(file.size()), source);

    offset = 0;
    nccmd::DncCallbacks dnc{};
    dnc.source = source;
    nccmd::RunDncStream(1, int32_t(file.size()), dnc);

    uint8_t state[nccmd::kStateBufferSize];
    size_t received = 0;
    if (nccmd::NcSystemInfoState(1, state, sizeof state, &received) == 0 && received > sizeof state) std::abort();
    nccmd::AbnormalCode(state, received);
    nccmd::BlockTaken(state, received);

    const std::vector<uint8_t> rest = in.Rest();
    nccmd::DecodeListing(rest.data(), rest.size());
    input = nullptr;
    return 0;
}
