// ncsim: a simulated NC controller serving a folder over UDP, a fresh
// pseudo-terminal or a serial device, until SIGINT or SIGTERM (Ctrl-C).
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ncsim/simulator.h"
#include "platform/clock.h"

namespace {

const char kUsage[] =
    "usage: ncsim [--udp [HOST:]PORT | --pty [--baud N] | --serial DEVICE [--baud N]] [options]\n"
    "\n"
    "Transports (default --udp 127.0.0.1:2232):\n"
    "  --udp [HOST:]PORT   listen for frames on UDP; port 0 picks a free one\n"
    "  --pty               create a pseudo-terminal; its path is the first line on stdout\n"
    "                      (POSIX systems only)\n"
    "  --serial DEVICE     use a serial port, 8N1, at --baud (default 115200)\n"
    "                      (POSIX systems only)\n"
    "  --baud N            with --serial: the port's rate; with --pty: answers leave\n"
    "                      at the pace of a line at N baud, 10 bits a character\n"
    "                      (default: at once)\n"
    "With --udp the first line on stdout is HOST:PORT.\n"
    "\n"
    "Options:\n"
    "  --root DIR          folder served as storage (default: a fresh sample tree)\n"
    "  --ids 1,2,4         device IDs answered (default 1)\n"
    "  --rate BYTES_PER_S  DNC machining rate (default unlimited)\n"
    "  --drop P            lose a request or its answer with probability P\n"
    "  --corrupt P         damage a request or an answer on the line with probability P\n"
    "  --delay MS          each answer leaves MS after its request (requests are\n"
    "                      still read meanwhile, as over a far network)\n"
    "  --jitter MS         add a random 0..MS to each answer's delay\n"
    "  --dup P             send an answer twice with probability P, the copy\n"
    "                      10 to 60 ms later\n"
    "  --flip P            flip one bit of an answer, anywhere in it, with probability P\n"
    "  --busy N            answer busy N times before taking each DNC block\n"
    "  --busy-record N     busy answers carry only N bytes (0-15) of the state record\n"
    "  --announce N:SIZE   opening answers of reads announce N blocks and SIZE bytes\n"
    "                      ('=' keeps the true value); blocks past the data are zeros\n"
    "  --abnormal-at K:CODE  report abnormal state CODE from DNC block K on\n"
    "  --seed S            seed of the fault injection\n"
    "  --capture FILE      write the bytes a DNC run streamed\n"
    "  --verbose           one line per request on stderr\n";

[[noreturn]] void Usage(const std::string &error) {
    std::fprintf(stderr, "ncsim: %s (ncsim --help lists the options)\n", error.c_str());
    std::exit(2);
}

long long Integer(const std::string &option, const char *text, long long low, long long high) {
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        Usage(option + " wants a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
              ", not '" + text + "'");
    }
    return value;
}

double Probability(const std::string &option, const char *text) {
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0 && value <= 1)) {
        Usage(option + " wants a probability from 0 to 1, not '" + text + "'");
    }
    return value;
}

std::vector<uint8_t> Ids(const char *text) {
    std::vector<uint8_t> ids;
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        ids.push_back(static_cast<uint8_t>(Integer("--ids", list.substr(start, end - start).c_str(), 0, 255)));
        start = end + 1;
    }
    return ids;
}

struct Command {
    ncsim::Options options;
    enum { Udp, Pty, Serial } transport = Udp;
    std::string host = "127.0.0.1";
    uint16_t port = 2232;
    std::string device;
    uint32_t baud = 115200;
    bool baudGiven = false;
};

// One number of --announce: '=' keeps the true value (-1).
int64_t Announced(const std::string &text) {
    if (text == "=") return -1;
    return Integer("--announce", text.c_str(), 0, UINT32_MAX);
}

Command Parse(int argc, char **argv) {
    Command c;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (option == "--pty") {
            c.transport = Command::Pty;
            continue;
        }
        if (option == "--verbose") {
            c.options.verbose = true;
            continue;
        }
        static const char *const kValueOptions[] = {"--udp",   "--serial", "--baud", "--root",        "--ids",
                                                    "--rate",  "--drop",   "--corrupt", "--delay",   "--busy",  "--jitter", "--dup",
                                                    "--abnormal-at", "--seed", "--capture", "--flip", "--busy-record",
                                                    "--announce"};
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), option) == std::end(kValueOptions)) {
            Usage("unknown option " + option);
        }
        if (i + 1 >= argc) Usage(option + " wants a value");
        const char *value = argv[++i];
        if (option == "--udp") {
            c.transport = Command::Udp;
            std::string text = value;
            const size_t colon = text.rfind(':');
            if (colon != std::string::npos) {
                c.host = text.substr(0, colon);
                text = text.substr(colon + 1);
            }
            c.port = static_cast<uint16_t>(Integer("--udp", text.c_str(), 0, 65535));
        } else if (option == "--serial") {
            c.transport = Command::Serial;
            c.device = value;
        } else if (option == "--baud") {
            c.baud = static_cast<uint32_t>(Integer(option, value, 1, 4000000));
            c.baudGiven = true;
        } else if (option == "--flip") {
            c.options.flipProbability = Probability(option, value);
        } else if (option == "--busy-record") {
            c.options.busyRecordLength = static_cast<int32_t>(Integer(option, value, 0, 15));
        } else if (option == "--announce") {
            const std::string text = value;
            const size_t colon = text.find(':');
            if (colon == std::string::npos) Usage("--announce wants N:SIZE, not '" + text + "'");
            c.options.announcedBlocks = Announced(text.substr(0, colon));
            c.options.announcedSize = Announced(text.substr(colon + 1));
        } else if (option == "--root") {
            c.options.root = value;
        } else if (option == "--ids") {
            c.options.ids = Ids(value);
        } else if (option == "--rate") {
            c.options.dncRate = static_cast<uint32_t>(Integer(option, value, 0, UINT32_MAX));
        } else if (option == "--drop") {
            c.options.dropProbability = Probability(option, value);
        } else if (option == "--corrupt") {
            c.options.corruptProbability = Probability(option, value);
        } else if (option == "--delay") {
            c.options.delayMs = static_cast<uint32_t>(Integer(option, value, 0, 600000));
        } else if (option == "--jitter") {
            c.options.jitterMs = static_cast<uint32_t>(Integer(option, value, 0, 600000));
        } else if (option == "--dup") {
            c.options.duplicateProbability = Probability(option, value);
        } else if (option == "--busy") {
            c.options.busyPerBlock = static_cast<uint32_t>(Integer(option, value, 0, 1000000));
        } else if (option == "--abnormal-at") {
            const std::string text = value;
            const size_t colon = text.find(':');
            if (colon == std::string::npos) Usage("--abnormal-at wants BLOCK:CODE, not '" + text + "'");
            c.options.abnormalAtBlock = static_cast<int32_t>(Integer(option, text.substr(0, colon).c_str(), 1, INT32_MAX));
            c.options.abnormalCode = static_cast<int32_t>(Integer(option, text.substr(colon + 1).c_str(), INT32_MIN, INT32_MAX));
            if (c.options.abnormalCode == 0) Usage("--abnormal-at wants a non-zero code");
        } else if (option == "--seed") {
            c.options.seed = static_cast<uint32_t>(Integer(option, value, 0, UINT32_MAX));
        } else if (option == "--capture") {
            c.options.captureFile = value;
        } else {
            Usage("unknown option " + option);
        }
    }
    // A pseudo-terminal carries characters at no rate of its own.
    if (c.transport == Command::Pty && c.baudGiven) c.options.lineBaud = c.baud;
    return c;
}

// Set by SIGINT or SIGTERM; the main thread looks at it between naps.
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void RequestStop(int) { stopRequested = 1; }

}  // namespace

int main(int argc, char **argv) {
    const Command command = Parse(argc, argv);

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    ncsim::Simulator simulator(command.options);
    bool started = false;
    switch (command.transport) {
        case Command::Udp:
            started = simulator.StartUdp(command.host, command.port);
            if (started) std::printf("%s:%u\n", command.host.c_str(), simulator.UdpPort());
            break;
        case Command::Pty:
            started = simulator.StartPty();
            if (started) std::printf("%s\n", simulator.PtyPath().c_str());
            break;
        case Command::Serial:
            started = simulator.StartSerial(command.device, command.baud);
            if (started) std::printf("%s\n", command.device.c_str());
            break;
    }
    if (!started) {
        std::fprintf(stderr, "ncsim: %s\n", simulator.LastError().c_str());
        return 1;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "ncsim: serving %s\n", simulator.Root().c_str());

    // Wait for a stop signal, or for the line to go away under the thread.
    while (simulator.Running() && stopRequested == 0) platform::SleepMs(200);
    const bool lineLost = !simulator.Running();
    simulator.Stop();
    if (lineLost) {
        std::fprintf(stderr, "ncsim: %s\n", simulator.LastError().c_str());
        return 1;
    }
    return 0;
}
