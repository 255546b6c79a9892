#include "nccmd/session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/link_ops.h"
#include "core/request_engine.h"
#include "link/serial_link.h"
#include "link/udp_link.h"

namespace nccmd {

namespace {

constexpr LinkTiming kSerialTiming{600, 5};
constexpr LinkTiming kSerialSearchTiming{100, 1};
constexpr LinkTiming kUdpTiming{0, 5};
constexpr LinkTiming kUdpSearchTiming{0, 0};
constexpr LinkTiming kUdpAfterSearchTiming{0, 10};

}  // namespace

SessionTiming DefaultTiming(LinkType link) {
    if (link == LinkType::kUdp) return {kUdpTiming, kUdpSearchTiming, kUdpAfterSearchTiming};
    return {kSerialTiming, kSerialSearchTiming, kSerialTiming};
}

int ComPortNumber(const std::string &device) {
    if (device.size() < 4 || (device.compare(0, 3, "COM") != 0 && device.compare(0, 3, "com") != 0)) return 0;
    int n = 0;
    for (size_t i = 3; i < device.size(); ++i) {
        if (device[i] < '0' || device[i] > '9' || n > 1000) return 0;
        n = n * 10 + (device[i] - '0');
    }
    return n;
}

std::string Session::Open(const SessionConfig &config) {
    Select(config.link);
    if (config.link == LinkType::kUdp) {
        if (!PrepareUdp(config.udp)) return std::string("cannot create a UDP socket: ") + std::strerror(errno);
    } else if (!OpenSerial(config.serial)) {
        return std::string("cannot open serial port ") + dnclink::SerialDevicePath() + ": " +
               dnclink::SerialLastError();
    }
    Wire(config.deviceId, config.timing.value_or(DefaultTiming(config.link)));
    return "";
}

bool Session::OpenSerial(const SerialEndpoint &endpoint) {
    if (const int port = ComPortNumber(endpoint.device); port > 0) {
        dnclink::SerialSelect(port, endpoint.baudIndex);
    } else {
        dnclink::SerialSelectDevice(endpoint.device.c_str(), endpoint.baudIndex);
    }
    return dnclink::SerialOpen();
}

bool Session::PrepareUdp(const UdpEndpoint &endpoint) {
    if (endpoint.waitMs > 0) dnclink::UdpSetReceiveTimeout(endpoint.waitMs);
    const bool made = dnclink::UdpPrepare(endpoint.address.c_str()) == 0;
    if (endpoint.port != 0) dnclink::UdpSetDestinationPort(endpoint.port);
    return made;
}

void Session::SetUdpAddress(const std::string &address) { dnclink::UdpSetDestination(address.c_str()); }

void Session::SetUdpPort(uint16_t port) { dnclink::UdpSetDestinationPort(port); }

void Session::SetUdpWait(int32_t milliseconds) { dnclink::UdpSetReceiveTimeout(milliseconds); }

int32_t Session::UdpWait() const { return dnclink::UdpReceiveTimeout(); }

void Session::Select(LinkType link) { dnclink::SelectLink(static_cast<uint8_t>(link)); }

LinkType Session::Selected() const {
    return dnclink::SelectedLink() == dnclink::kLinkUdp ? LinkType::kUdp : LinkType::kSerial;
}

void Session::Wire(uint8_t deviceId, const SessionTiming &timing, UartReceiveFun receive) {
    deviceId_ = deviceId;
    timing_ = timing;
    Apply(timing_.normal);
    // The engine's first initialisation clears the callbacks: register after.
    core::SetUartReceiveFun(receive != nullptr ? receive : dnclink::LinkReceive);
    core::SetUartSendFrameFun(dnclink::LinkSendFrame);
}

void Session::BeginSearch() { Apply(timing_.search); }

void Session::EndSearch() { Apply(timing_.afterSearch); }

void Session::Apply(LinkTiming timing) {
    current_ = timing;
    core::ModbusInit(deviceId_, timing.timeout, timing.retries);
}

void Session::Close() {
    if (!dnclink::CurrentSerialConfig().open) return;
    if (dnclink::SerialAnswersMayBeInFlight()) {
        const core::EngineSettings &s = core::CurrentEngineSettings();
        const int wait = std::max(s.timeout, 1);
        dnclink::SerialDrainLateAnswers(2 * wait, (std::max(s.retries, 0) + 2) * wait);
    }
    dnclink::SerialClose();
}

void Session::SetIdleHook(void (*hook)()) { dnclink::SetLinkIdleHook(hook); }

void Session::SetEventHandler(void (*handler)(const dnclink::LinkEvent &event)) {
    dnclink::SetLinkEventHandler(handler);
}

}  // namespace nccmd
