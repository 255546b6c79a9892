// Round trips per second of the engine and the real links against the
// simulated controller, each as a ratio to a raw ping-pong of the same bytes
// on the same transport; and how much CPU the program's engine build burns
// while it waits out a serial time-out.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ncsim/frames.h"
#include "link/link_ops.h"
#include "nccmd/nc_protocol.h"
#include "bench/ratio_report.h"
#include "core/request_engine.h"
#include "link/serial_link.h"
#include "nccmd/session.h"
#include "ncsim/simulator.h"
#include "link/udp_link.h"

namespace {

// The search request: the smallest exchange the window makes.
constexpr uint8_t kSearchPayload[] = {0, 0, 0, 0, '%', 'S', 'e', 'a', 'r', 'c', 'h', 'I', 'd'};

// The exact bytes of one search exchange, as the engine and ncsim send them.
const std::string kRequestFrame =
    ncsim::NormalFrame(1, 0x24, std::vector<uint8_t>(std::begin(kSearchPayload), std::end(kSearchPayload)));
const std::string kAnswerFrame = ncsim::NormalFrame(1, 0x24, std::vector<uint8_t>(12));

// The serial line at 115200 with the engine's 600 ms and no retries.
nccmd::SessionConfig SerialWithoutRetries(const std::string &device) {
    nccmd::SessionConfig config;
    config.serial = {device, nccmd::kDefaultBaudIndex};
    nccmd::SessionTiming timing = nccmd::DefaultTiming(nccmd::LinkType::kSerial);
    timing.normal.retries = 0;
    config.timing = timing;
    return config;
}

void SearchRoundTrips(benchmark::State &state) {
    uint8_t buffer[core::kMaxPayload];
    for (auto _ : state) {
        std::memcpy(buffer, kSearchPayload, sizeof kSearchPayload);
        uint16_t length = sizeof kSearchPayload;
        if (core::ModbusReadFileReq(1, &length, buffer) != 0) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EngineUdp(benchmark::State &state) {
    ncsim::Simulator simulator;
    if (!simulator.StartUdp()) return state.SkipWithError(simulator.LastError().c_str());
    nccmd::Session session;
    nccmd::SessionConfig config;
    config.link = nccmd::LinkType::kUdp;
    config.udp = {"127.0.0.1", simulator.UdpPort(), 0};
    config.timing = nccmd::SessionTiming{{0, 0}, {0, 0}, {0, 0}};
    if (const std::string error = session.Open(config); !error.empty()) return state.SkipWithError(error.c_str());
    SearchRoundTrips(state);
}

void BM_EnginePty(benchmark::State &state) {
    ncsim::Simulator simulator;
    if (!simulator.StartPty()) return state.SkipWithError(simulator.LastError().c_str());
    nccmd::Session session;
    if (const std::string error = session.Open(SerialWithoutRetries(simulator.PtyPath())); !error.empty())
        return state.SkipWithError(error.c_str());
    SearchRoundTrips(state);
    session.Close();
}

// Raw UDP: a thread answers every datagram with the answer bytes.
void BM_RawUdp(benchmark::State &state) {
    const int server = socket(AF_INET, SOCK_DGRAM, 0);
    const int client = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t n = sizeof address;
    getsockname(server, reinterpret_cast<sockaddr *>(&address), &n);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char buffer[4500];
        while (!stop) {
            pollfd p{server, POLLIN, 0};
            if (poll(&p, 1, 20) != 1) continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            if (recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength) > 0) {
                sendto(server, kAnswerFrame.data(), kAnswerFrame.size(), 0, reinterpret_cast<sockaddr *>(&from),
                       fromLength);
            }
        }
    });
    char buffer[4500];
    for (auto _ : state) {
        sendto(client, kRequestFrame.data(), kRequestFrame.size(), 0, reinterpret_cast<sockaddr *>(&address),
               sizeof address);
        benchmark::DoNotOptimize(recv(client, buffer, sizeof buffer, 0));
    }
    state.SetItemsProcessed(state.iterations());
    stop = true;
    echo.join();
    close(server);
    close(client);
}

bool ReadLine(int fd, char *buffer, size_t capacity) {
    size_t got = 0;
    while (got < capacity) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1) return false;
        const ssize_t k = read(fd, buffer + got, capacity - got);
        if (k <= 0) return false;
        got += size_t(k);
        if (buffer[got - 1] == '\n') return true;
    }
    return false;
}

// Raw pseudo-terminal: a thread on the master end answers every line.
void BM_RawPty(benchmark::State &state) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        char line[4096];
        while (!stop) {
            if (ReadLine(master, line, sizeof line)) {
                if (write(master, kAnswerFrame.data(), kAnswerFrame.size()) < 0) break;
            }
        }
    });
    char line[4096];
    // The serial link gives every request its time on the line at the chosen
    // rate (115200 here, 10 bits a character), which a pseudo-terminal would
    // not take: the raw exchange waits it out too, so both sides compare
    // like with like.
    const auto lineTime = std::chrono::microseconds(kRequestFrame.size() * 10 * 1000000 / 115200);
    for (auto _ : state) {
        const auto sent = std::chrono::steady_clock::now();
        if (write(slave, kRequestFrame.data(), kRequestFrame.size()) < 0) {
            state.SkipWithError("raw exchange failed");
            break;
        }
        std::this_thread::sleep_until(sent + lineTime);
        if (!ReadLine(slave, line, sizeof line)) {
            state.SkipWithError("raw exchange failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    stop = true;
    echo.join();
    close(slave);
    close(master);
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A request on a serial line where nobody answers: the engine waits out its
// 600 ms. Reported once by wall time and once by the process's CPU time.
void SerialTimeout(benchmark::State &state, bool reportCpu) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    nccmd::Session session;
    if (const std::string error = session.Open(SerialWithoutRetries(ptsname(master))); !error.empty())
        return state.SkipWithError(error.c_str());
    uint8_t buffer[core::kMaxPayload];
    for (auto _ : state) {
        const double cpuBefore = ProcessCpuSeconds();
        std::memcpy(buffer, kSearchPayload, sizeof kSearchPayload);
        uint16_t length = sizeof kSearchPayload;
        if (core::ModbusReadFileReq(1, &length, buffer) != 0xFF) state.SkipWithError("unexpected answer");
        if (reportCpu) state.SetIterationTime(ProcessCpuSeconds() - cpuBefore);
    }
    dnclink::SerialClose();
    close(master);
}

void BM_SerialTimeoutWall(benchmark::State &state) { SerialTimeout(state, false); }
void BM_SerialTimeoutCpu(benchmark::State &state) { SerialTimeout(state, true); }

BENCHMARK(BM_EngineUdp)->UseRealTime();
BENCHMARK(BM_RawUdp)->UseRealTime();
BENCHMARK(BM_EnginePty)->UseRealTime();
BENCHMARK(BM_RawPty)->UseRealTime();
BENCHMARK(BM_SerialTimeoutWall)->Iterations(4)->UseRealTime();
BENCHMARK(BM_SerialTimeoutCpu)->Iterations(4)->UseManualTime();

}  // namespace

int main(int argc, char **argv) {
    // Wall rate over CPU rate is CPU time over wall time.
    return bench::RunWithRatios(
        argc, argv,
        {
            {"engine+link round trips / raw ping-pong, UDP loopback", "BM_EngineUdp/real_time", "BM_RawUdp/real_time"},
            {"engine+link round trips / raw ping-pong, pseudo-terminal", "BM_EnginePty/real_time", "BM_RawPty/real_time"},
            {"CPU share while waiting out a 600 ms serial time-out", "BM_SerialTimeoutWall/iterations:4/real_time",
             "BM_SerialTimeoutCpu/iterations:4/manual_time", "< 0.05"},
        });
}
