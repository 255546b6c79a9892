#include "ncsim/simulator.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

#include "core/frame_codec.h"
#include "ncsim/controller.h"
#include "ncsim/frames.h"
#include "platform/clock.h"
#include "platform/line_end.h"
#include "platform/udp_socket.h"

namespace ncsim {
namespace {

enum class Transport { None, Udp, Stream };

// A received datagram or stream chunk.
constexpr size_t kReadChunk = 4500;

// Links inside are removed, never followed.
void RemoveTree(const std::string &folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::string ErrorText(const std::string &what, int error) { return what + ": " + std::strerror(error); }
std::string ErrnoText(const std::string &what) { return ErrorText(what, errno); }

int64_t NowMs() { return platform::MonotonicMs(); }
double NowMsFine() { return platform::MonotonicMsFine(); }

// A new, empty folder of our own in the system's temporary folder: created,
// not merely named, so no other program can have it.
bool MakeTemporaryFolder(std::string &folder) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) {
        errno = error.value();
        return false;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "ncsim-";
        for (int i = 0; i < 6; ++i) name += letters[std::uniform_int_distribution<int>(0, 61)(random)];
        const std::filesystem::path candidate = base / name;
        if (std::filesystem::create_directory(candidate, error)) {
            folder = candidate.string();
            return true;
        }
        if (error) {
            errno = error.value();
            return false;
        }
    }
    errno = EEXIST;
    return false;
}

// An answer on its way: it leaves when it is due.
struct PendingAnswer {
    int64_t dueMs;
    std::string frame;
    platform::Ipv4Endpoint to;  // UDP: the request's sender
};

}  // namespace

struct Simulator::Impl {
    Options options;
    std::string root;
    bool ownRoot = false;
    bool rootReady = false;
    Storage storage;
    std::unique_ptr<Controller> controller;
    std::mt19937 random;

    Transport transport = Transport::None;
    platform::UdpSocket socket = platform::kNoUdpSocket;
    platform::LineEnd *line = nullptr;
    platform::Wakeup *wakeup = nullptr;  // Stop() ends the thread's wait with it
    uint16_t udpPort = 0;
    std::string ptyPath;
    std::string lastError;
    std::thread thread;
    std::atomic<bool> running{false};

    std::atomic<uint64_t> framesReceived{0};
    std::atomic<uint64_t> framesAnswered{0};
    std::atomic<uint64_t> framesIgnored{0};
    std::atomic<uint64_t> dncBytesTaken{0};
    std::atomic<uint64_t> charactersIn{0};
    std::atomic<uint64_t> charactersOut{0};

    // Characters waiting to go out on a paced line, and when the next one
    // may leave (milliseconds on the monotonic clock).
    std::string lineOut;
    double lineNextMs = 0;
    // When the last character read from a paced line finished coming in.
    double lineInMs = 0;

    std::string streamFrame;
    bool collecting = false;
    std::vector<PendingAnswer> pending;  // in the order they leave
    int64_t lastStreamDueMs = 0;

    explicit Impl(Options o) : options(std::move(o)), random(options.seed) {}

    bool PrepareRoot() {
        if (rootReady) return true;
        if (options.root.empty()) {
            if (!MakeTemporaryFolder(root)) return Fail(ErrnoText("cannot create a temporary folder"));
            ownRoot = true;
            if (!WriteSampleTree(root)) return Fail(ErrnoText("cannot write the sample tree into " + root));
        } else {
            std::error_code error;
            const std::filesystem::path resolved = std::filesystem::canonical(options.root, error);
            if (error) return Fail(ErrorText(options.root, error.value()));
            root = resolved.string();
        }
        if (!storage.Open(root)) return Fail(ErrnoText("cannot open folder " + root));
        DncSettings dnc;
        dnc.rate = options.dncRate;
        dnc.busyPerBlock = options.busyPerBlock;
        dnc.abnormalAtBlock = options.abnormalAtBlock;
        dnc.abnormalCode = options.abnormalCode;
        dnc.busyRecordLength = options.busyRecordLength;
        dnc.captureFile = options.captureFile;
        controller = std::make_unique<Controller>(storage, dnc,
                                                  AnnounceSettings{options.announcedBlocks, options.announcedSize});
        rootReady = true;
        return true;
    }

    bool Fail(std::string text) {
        lastError = std::move(text);
        return false;
    }

    bool BeginStart() {
        if (running) return Fail("already running");
        return PrepareRoot();
    }

    bool Launch(Transport kind) {
        if (const int error = platform::WakeupCreate(&wakeup); error != 0) {
            wakeup = nullptr;
            CloseAll();
            return Fail(ErrorText("cannot make a wakeup", error));
        }
        transport = kind;
        streamFrame.clear();
        collecting = false;
        pending.clear();
        lineOut.clear();
        lineNextMs = lineInMs = 0;
        lastStreamDueMs = 0;
        running = true;
        thread = std::thread([this] { Loop(); });
        return true;
    }

    void CloseAll() {
        platform::UdpClose(socket);
        socket = platform::kNoUdpSocket;
        platform::LineEndClose(line);
        line = nullptr;
        platform::WakeupDestroy(wakeup);
        wakeup = nullptr;
        transport = Transport::None;
    }

    void Log(const char *format, const std::string &a, const std::string &b = {}) {
        if (options.verbose) std::fprintf(stderr, format, a.c_str(), b.c_str());
    }

    bool Chance(double probability) {
        if (probability <= 0) return false;
        return std::uniform_real_distribution<double>(0, 1)(random) < probability;
    }

    // One complete frame from the link; returns the answer frame, or "" when
    // the controller stays silent.
    std::string Process(const char *text, size_t length) {
        ++framesReceived;
        std::string damaged;
        if (Chance(options.corruptProbability)) {
            damaged.assign(text, length);
            DamageLineText(damaged, random);
            text = damaged.data();
            Log("ncsim: a request was damaged on the line%s%s\n", "");
        }
        Request request;
        if (!ParseRequest(text, length, request)) {
            ++framesIgnored;
            Log("ncsim: ignored a damaged frame%s%s\n", "");
            return {};
        }
        const auto &ids = options.ids;
        if (std::find(ids.begin(), ids.end(), request.address) == ids.end()) {
            ++framesIgnored;
            Log("ncsim: id %s: not mine, no answer%s\n", std::to_string(request.address));
            return {};
        }
        // A loss on the line hits the request or the answer alike; losing
        // the answer leaves the controller one step ahead of the sender.
        const bool drop = Chance(options.dropProbability);
        const bool dropRequest = drop && std::uniform_int_distribution<int>(0, 1)(random) == 0;
        if (dropRequest) {
            ++framesIgnored;
            Log("ncsim: id %s: request dropped%s\n", std::to_string(request.address));
            return {};
        }
        const Answer answer = RefusesRead(request)
                                  ? Answer{Answer::Kind::Exception, kExExecuteError, {}, "read refused (fault)"}
                                  : controller->Handle(request.function, request.payload.data(), request.payload.size());
        dncBytesTaken = controller->DncBytesTaken();
        const std::string id = std::to_string(request.address);
        if (answer.kind == Answer::Kind::Exception) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", answer.exceptionCode);
            Log(("ncsim: id %s: %s -> exception " + std::string(code) + "\n").c_str(), id, answer.note);
        } else {
            Log("ncsim: id %s: %s\n", id, answer.note);
        }
        if (drop) {
            ++framesIgnored;
            Log("ncsim: id %s: answer dropped%s\n", id);
            return {};
        }
        std::string frame = answer.kind == Answer::Kind::Exception
                                ? ExceptionAnswerFrame(request.address, request.function, answer.exceptionCode)
                                : NormalFrame(request.address, request.function, answer.payload);
        if (Chance(options.corruptProbability)) {
            CorruptFrame(frame, random);
            Log("ncsim: id %s: answer damaged%s\n", id);
        }
        if (Chance(options.flipProbability)) {
            FlipOneBit(frame, random);
            Log("ncsim: id %s: a bit of the answer flipped%s\n", id);
        }
        return frame;
    }

    // The opening request of a read of options.refuseRead: the path behind
    // a zero block number.
    bool RefusesRead(const Request &request) const {
        const std::string &path = options.refuseRead;
        const auto &p = request.payload;
        return !path.empty() && request.function == 0x24 && p.size() == 4 + path.size() &&
               std::all_of(p.begin(), p.begin() + 4, [](uint8_t b) { return b == 0; }) &&
               std::equal(path.begin(), path.end(), p.begin() + 4);
    }

    bool Delaying() const {
        return options.delayMs > 0 || options.jitterMs > 0 || options.duplicateProbability > 0;
    }

    uint32_t RandomMs(uint32_t low, uint32_t high) {
        return std::uniform_int_distribution<uint32_t>(low, high)(random);
    }

    // Sends an answer now, or queues it (and its copy) to leave later, never
    // before `earliestMs` (when its request has wholly come in on a paced
    // line).
    void SendAnswer(std::string frame, const platform::Ipv4Endpoint &to, int64_t earliestMs = 0) {
        if (!Delaying() && earliestMs <= NowMs()) {
            Transmit(frame, to);
            return;
        }
        int64_t due = NowMs() + options.delayMs + (options.jitterMs > 0 ? RandomMs(0, options.jitterMs) : 0);
        due = std::max(due, earliestMs);
        // A line delivers in order: no answer overtakes the one before it.
        if (transport == Transport::Stream) due = lastStreamDueMs = std::max(due, lastStreamDueMs);
        if (Chance(options.duplicateProbability)) {
            Log("ncsim: the next answer goes out twice%s%s\n", "");
            Queue({due + RandomMs(10, 60), frame, to});
        }
        Queue({due, std::move(frame), to});
    }

    void Queue(PendingAnswer answer) {
        const auto later = std::upper_bound(pending.begin(), pending.end(), answer.dueMs,
                                            [](int64_t due, const PendingAnswer &p) { return due < p.dueMs; });
        pending.insert(later, std::move(answer));
    }

    void Transmit(const std::string &frame, const platform::Ipv4Endpoint &to) {
        ++framesAnswered;
        charactersOut += frame.size();
        if (transport == Transport::Udp) {
            platform::UdpSendTo(socket, frame.data(), static_cast<int32_t>(frame.size()), to);
        } else if (Paced()) {
            if (lineOut.empty()) lineNextMs = std::max(lineNextMs, NowMsFine());
            lineOut += frame;
        } else {
            WriteAll(frame);
        }
    }

    bool Paced() const { return transport == Transport::Stream && options.lineBaud > 0; }

    // Puts on the line the characters whose time has come, one every
    // 10 bits at the line's rate; returns the poll time-out until the next
    // one (-1: nothing waiting).
    int SendPacedCharacters() {
        if (lineOut.empty()) return -1;
        const double perCharacterMs = 10000.0 / options.lineBaud;
        const double now = NowMsFine();
        if (now >= lineNextMs) {
            const size_t due = std::min(lineOut.size(), size_t((now - lineNextMs) / perCharacterMs) + 1);
            WriteAll(lineOut.substr(0, due));
            lineOut.erase(0, due);
            lineNextMs += double(due) * perCharacterMs;
        }
        if (lineOut.empty()) return -1;
        return std::max(1, static_cast<int>(lineNextMs - NowMsFine() + 0.999));
    }

    // Sends the answers that are due; returns the poll time-out until the
    // next one (-1: none waiting).
    int SendDueAnswers() {
        const int64_t now = NowMs();
        size_t sent = 0;
        while (sent < pending.size() && pending[sent].dueMs <= now) {
            Transmit(pending[sent].frame, pending[sent].to);
            ++sent;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(sent));
        if (pending.empty()) return -1;
        return static_cast<int>(std::min<int64_t>(pending.front().dueMs - now, INT_MAX));
    }

    void Loop() {
        uint8_t chunk[kReadChunk];
        while (true) {
            const int answersWait = SendDueAnswers();
            const int lineWait = SendPacedCharacters();
            const int wait = answersWait < 0 ? lineWait : lineWait < 0 ? answersWait : std::min(answersWait, lineWait);
            const int ready = transport == Transport::Udp ? platform::WaitForDatagram(socket, wakeup, wait)
                                                          : platform::WaitForLine(line, false, wakeup, wait);
            if (ready < 0 || ready == platform::kWaitWoken) break;
            if (ready == platform::kWaitTimedOut) continue;
            if (transport == Transport::Udp) {
                if (!ReceiveDatagram(chunk)) break;
            } else if (!ReceiveStream(chunk)) {
                break;
            }
        }
        running = false;
    }

    bool ReceiveDatagram(uint8_t *chunk) {
        platform::Ipv4Endpoint sender{};
        const int32_t n = platform::UdpReceiveFrom(socket, chunk, kReadChunk, &sender, false);
        if (n <= 0) return n == 0 || n == -EAGAIN || n == -ECONNREFUSED;
        charactersIn += static_cast<uint64_t>(n);
        // One frame per datagram, as the program sends them.
        std::string answer = Process(reinterpret_cast<const char *>(chunk), static_cast<size_t>(n));
        if (!answer.empty()) SendAnswer(std::move(answer), sender);
        return true;
    }

    bool ReceiveStream(uint8_t *chunk) {
        const int32_t n = platform::LineEndRead(line, chunk, kReadChunk);
        if (n == 0) return true;
        if (n < 0) {
            lastError = n == -EIO ? "the serial line hung up" : ErrorText("read", -n);
            Log("ncsim: %s%s\n", lastError);
            return false;
        }
        charactersIn += static_cast<uint64_t>(n);
        // On a paced line the characters take their time to come in: a
        // request is whole (and answered) only once its last one would have.
        if (Paced()) lineInMs = std::max(lineInMs, NowMsFine()) + double(n) * 10000.0 / options.lineBaud;
        for (int32_t i = 0; i < n; ++i) {
            const char c = static_cast<char>(chunk[i]);
            // Like the program, a frame starts at the last ':' received.
            if (c == ':') {
                streamFrame.clear();
                collecting = true;
            }
            if (!collecting) continue;
            streamFrame += c;
            if (streamFrame.size() > core::kFrameTextSize) {
                collecting = false;  // line noise, not a frame
                continue;
            }
            if (c == '\n') {
                collecting = false;
                std::string answer = Process(streamFrame.data(), streamFrame.size());
                if (!answer.empty()) SendAnswer(std::move(answer), platform::Ipv4Endpoint{}, Paced() ? int64_t(lineInMs + 0.999) : 0);
            }
        }
        return true;
    }

    void WriteAll(const std::string &data) {
        size_t sent = 0;
        int waits = 0;
        while (sent < data.size()) {
            const int32_t n = platform::LineEndWrite(line, reinterpret_cast<const uint8_t *>(data.data()) + sent,
                                                     static_cast<int32_t>(data.size() - sent));
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            // Nobody reads the line (no program on the other end): give up
            // on this answer after a second instead of blocking the thread.
            if (n == 0 && ++waits <= 100 &&
                platform::WaitForLine(line, true, wakeup, 10) != platform::kWaitWoken) {
                continue;
            }
            return;
        }
    }
};

// The folder is ready (and Root() known) before any transport starts; a
// failure shows in LastError() and in the first Start.
Simulator::Simulator(Options options) : impl_(std::make_unique<Impl>(std::move(options))) { impl_->PrepareRoot(); }

Simulator::~Simulator() {
    Stop();
    if (impl_->ownRoot) RemoveTree(impl_->root);
}

bool Simulator::StartUdp(const std::string &host, uint16_t port) {
    Impl &s = *impl_;
    if (!s.BeginStart()) return false;
    platform::Ipv4Endpoint address{0, port};
    if (!platform::Ipv4Parse(host.c_str(), &address.address)) return s.Fail("not an IPv4 address: " + host);
    if (const int error = platform::UdpOpen(&s.socket); error != 0) {
        s.socket = platform::kNoUdpSocket;
        return s.Fail(ErrorText("socket", error));
    }
    if (const int error = platform::UdpBind(s.socket, address); error != 0) {
        s.CloseAll();
        return s.Fail(ErrorText("cannot bind " + host + ":" + std::to_string(port), error));
    }
    platform::UdpLocalEndpoint(s.socket, &address);
    s.udpPort = address.port;
    return s.Launch(Transport::Udp);
}

uint16_t Simulator::UdpPort() const { return impl_->udpPort; }

bool Simulator::StartPty() {
    Impl &s = *impl_;
    if (!s.BeginStart()) return false;
    if (const int error = platform::LineEndOpenPseudoTerminal(&s.line, &s.ptyPath); error != 0) {
        s.line = nullptr;
        s.CloseAll();
        return s.Fail(error == ENOSYS ? std::string("no pseudo-terminals on this system (POSIX only)")
                                      : ErrorText("cannot create a pseudo-terminal", error));
    }
    return s.Launch(Transport::Stream);
}

const std::string &Simulator::PtyPath() const { return impl_->ptyPath; }

bool Simulator::StartSerial(const std::string &device, uint32_t baud) {
    Impl &s = *impl_;
    if (!s.BeginStart()) return false;
    if (const int error = platform::LineEndOpenDevice(device.c_str(), baud, &s.line); error != 0) {
        s.line = nullptr;
        s.CloseAll();
        if (error == ERANGE) return s.Fail("unsupported rate " + std::to_string(baud));
        if (error == ENOSYS) return s.Fail("serial devices are served on POSIX systems only");
        return s.Fail(ErrorText("cannot open " + device, error));
    }
    return s.Launch(Transport::Stream);
}

void Simulator::Stop() {
    Impl &s = *impl_;
    if (s.thread.joinable()) {
        platform::WakeupSignal(s.wakeup);
        s.thread.join();
    }
    s.running = false;
    s.CloseAll();
}

bool Simulator::Running() const { return impl_->running; }

const std::string &Simulator::Root() const { return impl_->root; }

const std::string &Simulator::LastError() const { return impl_->lastError; }

Stats Simulator::CurrentStats() const {
    const Impl &s = *impl_;
    return {s.framesReceived, s.framesAnswered, s.framesIgnored, s.dncBytesTaken, s.charactersIn, s.charactersOut};
}

}  // namespace ncsim
