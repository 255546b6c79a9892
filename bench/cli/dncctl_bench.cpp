// dncctl get and put of a 1 MiB file against the simulator over UDP
// loopback, as a ratio to a raw ping-pong of the same frames in the same
// run: how much of the link's capacity the client's engine, commands and
// transfer loops leave unused.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "ncsim/frames.h"
#include "nccmd/nc_protocol.h"
#include "bench/ratio_report.h"
#include "bench/run_program.h"
#include "ncsim/simulator.h"

namespace {

constexpr size_t kFileSize = 1024 * 1024;
const char *const kRemoteName = "\\BENCH.BIN";

struct Setup {
    std::string work;
    std::string localFile;
    std::unique_ptr<ncsim::Simulator> sim;

    Setup() {
        work = (std::filesystem::temp_directory_path() / ("dncctl-bench-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(work + "/root");
        // Its transfers go to a journal of its own, never the user's.
        setenv("DNCPANEL_JOURNAL", (work + "/journal.tsv").c_str(), 1);
        localFile = work + "/bench.bin";
        std::mt19937 random(1);
        std::string bytes(kFileSize, '\0');
        for (char &c : bytes) c = static_cast<char>(random());
        std::ofstream(localFile, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        ncsim::Options options;
        options.root = work + "/root";
        sim = std::make_unique<ncsim::Simulator>(options);
        if (!sim->StartUdp("127.0.0.1", 0)) throw std::runtime_error(sim->LastError());
    }
    ~Setup() {
        sim.reset();
        std::filesystem::remove_all(work);
    }
};

Setup &Shared() {
    static Setup setup;
    return setup;
}

bool RunDncctl(const std::vector<std::string> &command) {
    std::vector<std::string> args = {DNCCTL_PATH, "--udp", "127.0.0.1:" + std::to_string(Shared().sim->UdpPort())};
    args.insert(args.end(), command.begin(), command.end());
    return bench::RunProgram(std::move(args));
}

void BM_DncctlPut(benchmark::State &state) {
    for (auto _ : state) {
        if (!RunDncctl({"put", Shared().localFile, kRemoteName})) state.SkipWithError("dncctl put failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

void BM_DncctlGet(benchmark::State &state) {
    RunDncctl({"put", Shared().localFile, kRemoteName});
    const std::string out = Shared().work + "/got.bin";
    for (auto _ : state) {
        if (!RunDncctl({"get", kRemoteName, out})) state.SkipWithError("dncctl get failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

// The frames dncctl sends, built once; the raw client only sends each and
// waits for its answer.
std::string Frame(uint8_t function, const std::vector<uint8_t> &payload) { return ncsim::NormalFrame(1, function, payload); }

std::vector<uint8_t> Header(std::initializer_list<uint32_t> numbers, const std::string &text = "") {
    std::vector<uint8_t> payload(numbers.size() * 4);
    uint16_t position = 0;
    for (uint32_t n : numbers) nccmd::PutBigEndian(payload.data(), n, 4, &position);
    payload.insert(payload.end(), text.begin(), text.end());
    return payload;
}

std::vector<std::string> PutFrames() {
    std::ifstream in(Shared().localFile, std::ios::binary);
    std::vector<std::string> frames;
    const uint32_t blocks = kFileSize / nccmd::kBlockSize;
    frames.push_back(Frame(0x25, Header({0, blocks, uint32_t(kFileSize)}, kRemoteName)));
    for (uint32_t k = 1; k <= blocks; ++k) {
        std::vector<uint8_t> payload = Header({k});
        payload.resize(4 + nccmd::kBlockSize);
        in.read(reinterpret_cast<char *>(payload.data() + 4), nccmd::kBlockSize);
        frames.push_back(Frame(0x25, payload));
    }
    return frames;
}

std::vector<std::string> GetFrames() {
    std::vector<std::string> frames;
    frames.push_back(Frame(0x24, Header({0}, kRemoteName)));
    for (uint32_t k = 1; k <= kFileSize / nccmd::kBlockSize; ++k) frames.push_back(Frame(0x24, Header({k})));
    return frames;
}

// Sends each frame and waits for one answer datagram; false if one is lost.
bool PingPong(int socket, const std::vector<std::string> &frames) {
    char answer[4096];
    for (const std::string &frame : frames) {
        if (send(socket, frame.data(), frame.size(), 0) != ssize_t(frame.size())) return false;
        if (recv(socket, answer, sizeof answer, 0) <= 0) return false;
    }
    return true;
}

void RawPingPong(benchmark::State &state, const std::vector<std::string> &frames) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(Shared().sim->UdpPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval timeout{1, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to);
    for (auto _ : state) {
        if (!PingPong(s, frames)) state.SkipWithError("an answer did not come");
    }
    close(s);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

void BM_RawPut(benchmark::State &state) { RawPingPong(state, PutFrames()); }

void BM_RawGet(benchmark::State &state) {
    RunDncctl({"put", Shared().localFile, kRemoteName});
    RawPingPong(state, GetFrames());
}

// Processes and sockets: only wall-clock time says anything here.
BENCHMARK(BM_RawPut)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DncctlPut)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawGet)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DncctlGet)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"dncctl put 1 MiB / raw ping-pong of the same frames", "BM_DncctlPut/real_time",
                                  "BM_RawPut/real_time", ">= 0.8"},
                                 {"dncctl get 1 MiB / raw ping-pong of the same frames", "BM_DncctlGet/real_time",
                                  "BM_RawGet/real_time", ">= 0.8"}});
}
