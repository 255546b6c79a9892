#include "ncsim/simulator.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "ncsim/controller.h"
#include "core/frame_codec.h"
#include "ncsim/frames.h"

namespace ncsim {
namespace {

enum class Transport { None, Udp, Stream };

// A received datagram or stream chunk.
constexpr size_t kReadChunk = 4500;

int RemoveEntry(const char *path, const struct stat *, int, FTW *) { return remove(path); }

void RemoveTree(const std::string &folder) { nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

std::string ErrnoText(const std::string &what) { return what + ": " + std::strerror(errno); }

int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

double NowMsFine() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// An answer on its way: it leaves when it is due.
struct PendingAnswer {
    int64_t dueMs;
    std::string frame;
    sockaddr_in to;  // UDP: the request's sender
};

bool MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != B0 && cfsetspeed(&tio, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

speed_t SpeedOf(uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}

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
    int fd = -1;
    int ptySlaveFd = -1;  // held open so the master never sees a hang-up between clients
    int wakeFd = -1;
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
            char folder[] = "/tmp/ncsim-XXXXXX";
            if (mkdtemp(folder) == nullptr) return Fail(ErrnoText("cannot create a temporary folder"));
            root = folder;
            ownRoot = true;
            if (!WriteSampleTree(root)) return Fail(ErrnoText("cannot write the sample tree into " + root));
        } else {
            char resolved[PATH_MAX];
            if (realpath(options.root.c_str(), resolved) == nullptr) return Fail(ErrnoText(options.root));
            root = resolved;
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
        wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) {
            CloseAll();
            return Fail(ErrnoText("eventfd"));
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
        for (int *d : {&fd, &ptySlaveFd, &wakeFd}) {
            if (*d >= 0) close(*d);
            *d = -1;
        }
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
    void SendAnswer(std::string frame, const sockaddr_in &to, int64_t earliestMs = 0) {
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

    void Transmit(const std::string &frame, const sockaddr_in &to) {
        ++framesAnswered;
        charactersOut += frame.size();
        if (transport == Transport::Udp) {
            sendto(fd, frame.data(), frame.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
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
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        uint8_t chunk[kReadChunk];
        while (true) {
            const int answersWait = SendDueAnswers();
            const int lineWait = SendPacedCharacters();
            const int wait = answersWait < 0 ? lineWait : lineWait < 0 ? answersWait : std::min(answersWait, lineWait);
            const int ready = poll(p, 2, wait);
            if (ready < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (ready == 0) continue;
            if (p[1].revents != 0) break;
            if (p[0].revents == 0) continue;
            if (transport == Transport::Udp) {
                if (!ReceiveDatagram(chunk)) break;
            } else if (!ReceiveStream(chunk)) {
                break;
            }
        }
        running = false;
    }

    bool ReceiveDatagram(uint8_t *chunk) {
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t n =
            recvfrom(fd, chunk, kReadChunk, MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&sender), &senderLength);
        if (n <= 0) return n == 0 || errno == EAGAIN || errno == EINTR || errno == ECONNREFUSED;
        charactersIn += static_cast<uint64_t>(n);
        // One frame per datagram, as the program sends them.
        std::string answer = Process(reinterpret_cast<const char *>(chunk), static_cast<size_t>(n));
        if (!answer.empty()) SendAnswer(std::move(answer), sender);
        return true;
    }

    bool ReceiveStream(uint8_t *chunk) {
        const ssize_t n = read(fd, chunk, kReadChunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        if (n <= 0) {
            lastError = n == 0 ? "the serial line hung up" : ErrnoText("read");
            Log("ncsim: %s%s\n", lastError);
            return false;
        }
        charactersIn += static_cast<uint64_t>(n);
        // On a paced line the characters take their time to come in: a
        // request is whole (and answered) only once its last one would have.
        if (Paced()) lineInMs = std::max(lineInMs, NowMsFine()) + double(n) * 10000.0 / options.lineBaud;
        for (ssize_t i = 0; i < n; ++i) {
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
                if (!answer.empty()) SendAnswer(std::move(answer), sockaddr_in{}, Paced() ? int64_t(lineInMs + 0.999) : 0);
            }
        }
        return true;
    }

    void WriteAll(const std::string &data) {
        size_t sent = 0;
        int waits = 0;
        while (sent < data.size()) {
            const ssize_t n = write(fd, data.data() + sent, data.size() - sent);
            if (n > 0) {
                sent += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // Nobody reads the line (no program on the other end): give up
            // on this answer after a second instead of blocking the thread.
            if (n < 0 && errno == EAGAIN && ++waits <= 100) {
                pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
                if (poll(p, 2, 10) >= 0 && p[1].revents == 0) continue;
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
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return s.Fail("not an IPv4 address: " + host);
    s.fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0) return s.Fail(ErrnoText("socket"));
    if (bind(s.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        const std::string error = ErrnoText("cannot bind " + host + ":" + std::to_string(port));
        s.CloseAll();
        return s.Fail(error);
    }
    socklen_t length = sizeof address;
    getsockname(s.fd, reinterpret_cast<sockaddr *>(&address), &length);
    s.udpPort = ntohs(address.sin_port);
    return s.Launch(Transport::Udp);
}

uint16_t Simulator::UdpPort() const { return impl_->udpPort; }

bool Simulator::StartPty() {
    Impl &s = *impl_;
    if (!s.BeginStart()) return false;
    s.fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (s.fd < 0 || grantpt(s.fd) != 0 || unlockpt(s.fd) != 0 || ptsname_r(s.fd, name, sizeof name) != 0) {
        const std::string error = ErrnoText("cannot create a pseudo-terminal");
        s.CloseAll();
        return s.Fail(error);
    }
    s.ptySlaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    // Raw before anyone sees the path: an echoing line would send every
    // request straight back.
    if (s.ptySlaveFd < 0 || !MakeRaw(s.ptySlaveFd, B0)) {
        const std::string error = ErrnoText(std::string("cannot set up ") + name);
        s.CloseAll();
        return s.Fail(error);
    }
    s.ptyPath = name;
    return s.Launch(Transport::Stream);
}

const std::string &Simulator::PtyPath() const { return impl_->ptyPath; }

bool Simulator::StartSerial(const std::string &device, uint32_t baud) {
    Impl &s = *impl_;
    if (!s.BeginStart()) return false;
    const speed_t speed = SpeedOf(baud);
    if (speed == B0) return s.Fail("unsupported rate " + std::to_string(baud));
    s.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s.fd < 0 || !MakeRaw(s.fd, speed)) {
        const std::string error = ErrnoText("cannot open " + device);
        s.CloseAll();
        return s.Fail(error);
    }
    return s.Launch(Transport::Stream);
}

void Simulator::Stop() {
    Impl &s = *impl_;
    if (s.thread.joinable()) {
        const uint64_t one = 1;
        if (write(s.wakeFd, &one, sizeof one) < 0) {
            // The thread still ends: it polls the same descriptor.
        }
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
