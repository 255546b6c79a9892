#include "cli/link_setup.h"

#include <cstdio>
#include <cstring>

#include "link/link_ops.h"
#include "link/udp_link.h"
#include "platform/udp_socket.h"

namespace dncctl {

namespace {

nccmd::Session session;

// The UDP link takes dotted IPv4 text; names are resolved here first.
std::string ResolveIpv4(const std::string &host, std::string *error) {
    uint32_t address = 0;
    if (platform::Ipv4Parse(host.c_str(), &address)) return host;
    std::string why;
    if (platform::Ipv4Resolve(host.c_str(), &address, &why) != 0) {
        *error = "cannot resolve host '" + host + "': " + why;
        return "";
    }
    return platform::Ipv4Text(address);
}

void PrintLinkEvent(const dnclink::LinkEvent &event) {
    if (event.code == dnclink::LinkEventCode::kSendFailed)
        std::fprintf(stderr, "dncctl: cannot send a frame to the controller: %s\n", std::strerror(event.error));
}

}  // namespace

nccmd::SessionConfig SessionConfigFor(const CliOptions &options) {
    nccmd::SessionConfig config;
    const bool udp = options.link == LinkChoice::kUdp;
    config.link = udp ? nccmd::LinkType::kUdp : nccmd::LinkType::kSerial;
    config.deviceId = options.id;
    config.serial.device = options.serialDevice;
    config.serial.baudIndex = BaudIndex(options.baud);
    config.udp.address = options.udpHost;
    config.udp.port = options.udpPort;
    nccmd::SessionTiming timing = nccmd::DefaultTiming(config.link);
    if (udp) {
        // --timeout is the wait of each try for its datagram; the engine
        // takes whole datagrams.
        config.udp.waitMs = options.timeoutMs.value_or(dnclink::kUdpReceiveTimeoutMs);
    } else if (options.timeoutMs) {
        timing.normal.timeout = timing.search.timeout = *options.timeoutMs;
    }
    if (options.retries) timing.normal.retries = timing.search.retries = *options.retries;
    // A search is a command of its own: the run goes on as it started.
    timing.afterSearch = timing.normal;
    config.timing = timing;
    return config;
}

std::string SetUpLink(const CliOptions &options) {
    nccmd::SessionConfig config = SessionConfigFor(options);
    if (config.link == nccmd::LinkType::kUdp) {
        std::string error;
        config.udp.address = ResolveIpv4(options.udpHost, &error);
        if (config.udp.address.empty()) return error;
    }
    if (std::string error = session.Open(config); !error.empty()) return error;
    nccmd::Session::SetEventHandler(PrintLinkEvent);
    return "";
}

nccmd::Session &LinkSession() { return session; }

void TearDownLink() { session.Close(); }

}  // namespace dncctl
