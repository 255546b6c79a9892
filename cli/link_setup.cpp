#include "link_setup.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link_ops.h"
#include "request_engine.h"
#include "serial_link.h"
#include "udp_link.h"

namespace dncctl {

namespace {

// The UDP link takes dotted IPv4 text; names are resolved here first.
std::string ResolveIpv4(const std::string &host, std::string *error) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) == 1) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0 || found == nullptr) {
        *error = "cannot resolve host '" + host + "': " + gai_strerror(rc);
        return "";
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr, text, sizeof text);
    freeaddrinfo(found);
    return text;
}

// "COM3" (any case) names the third serial port; 0 when `device` is a path.
int ComPortNumber(const std::string &device) {
    if (device.size() < 4 || (device.compare(0, 3, "COM") != 0 && device.compare(0, 3, "com") != 0)) return 0;
    int n = 0;
    for (size_t i = 3; i < device.size(); ++i) {
        if (device[i] < '0' || device[i] > '9' || n > 1000) return 0;
        n = n * 10 + (device[i] - '0');
    }
    return n;
}

void PrintLinkLine(const char *utf8Line) { std::fprintf(stderr, "dncctl: %s\n", utf8Line); }

}  // namespace

EngineSetting NormalSetting(const CliOptions &options) {
    if (options.link == LinkChoice::kUdp) return {0, options.retries.value_or(5)};
    return {options.timeoutMs.value_or(600), options.retries.value_or(5)};
}

// A search keeps an absent ID cheap: one retry at a short time-out on the
// serial line; on UDP no retry at all, each try already waiting its wait
// (100 ms unless --timeout says otherwise).
EngineSetting SearchSetting(const CliOptions &options) {
    if (options.link == LinkChoice::kUdp) return {0, options.retries.value_or(0)};
    return {options.timeoutMs.value_or(100), options.retries.value_or(1)};
}

void ApplySetting(const CliOptions &options, EngineSetting setting) {
    core::ModbusInit(options.id, setting.timeout, setting.retries);
}

std::string SetUpLink(const CliOptions &options) {
    std::string error;
    if (options.link == LinkChoice::kUdp) {
        const std::string ip = ResolveIpv4(options.udpHost, &error);
        if (ip.empty()) return error;
        dnclink::LinkKind = dnclink::kLinkUdp;
        dnclink::UdpSetReceiveTimeout(options.timeoutMs.value_or(dnclink::kUdpReceiveTimeoutMs));
        if (dnclink::UdpPrepare(ip.c_str()) != 0) return std::string("cannot create a UDP socket: ") + std::strerror(errno);
        dnclink::UdpSetDestinationPort(options.udpPort);
    } else {
        const int baudIndex = BaudIndex(options.baud);
        dnclink::LinkKind = dnclink::kLinkSerial;
        if (const int port = ComPortNumber(options.serialDevice); port > 0) {
            dnclink::SerialSelect(port, baudIndex);
        } else {
            dnclink::SerialSelectDevice(options.serialDevice.c_str(), baudIndex);
        }
        if (!dnclink::SerialOpen()) {
            return std::string("cannot open serial port ") + dnclink::SerialDevicePath() + ": " +
                   dnclink::SerialLastError();
        }
    }
    dnclink::SetLinkMemoHook(PrintLinkLine);
    // The engine's first initialisation clears the callbacks: register after.
    ApplySetting(options, NormalSetting(options));
    core::SetUartReceiveFun(dnclink::LinkReceive);
    core::SetUartSendFrameFun(dnclink::LinkSendFrame);
    return "";
}

void TearDownLink() {
    if (!dnclink::CurrentSerialConfig().open) return;
    // Late answers to this run's retried requests would reach the next
    // program on the line as answers to its first request: wait for them.
    if (dnclink::SerialAnswersMayBeInFlight()) {
        const core::EngineSettings &s = core::CurrentEngineSettings();
        const int wait = std::max(s.timeout, 1);
        dnclink::SerialDrainLateAnswers(2 * wait, (std::max(s.retries, 0) + 2) * wait);
    }
    dnclink::SerialClose();
}

}  // namespace dncctl
