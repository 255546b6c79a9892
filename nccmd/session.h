// One connection to one controller: the link that carries the frames (a
// serial line or the UDP socket), its timing, and the request engine wired
// to it. The engine and the links keep one state for the whole process, so
// one session is in use at a time; it is the only code that selects a link,
// points it at a device and initialises the engine for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/link_ops.h"
#include "core/uart_callbacks.h"

namespace nccmd {

// The values are those the address book stores for the selected link.
enum class LinkType : uint8_t { kSerial = 0, kUdp = 1 };

// The engine's two settings besides the device address: a time-out of 0
// takes one whole datagram per receive, 1 or more assembles the answer byte
// by byte within that many milliseconds.
struct LinkTiming {
    int32_t timeout;
    int32_t retries;
};

struct SessionTiming {
    LinkTiming normal;
    // While a device search asks ID after ID: an absent controller should
    // cost little.
    LinkTiming search;
    // What a search leaves behind.
    LinkTiming afterSearch;
};

// The timing each link runs with unless told otherwise: 600 ms and 5 retries
// on the serial line, whole datagrams and 5 retries on the network; a search
// tries once more at 100 ms on the line and once on the network, after which
// the network keeps 10 retries.
SessionTiming DefaultTiming(LinkType link);

// The rate a serial line starts with: "115200".
inline constexpr int32_t kDefaultBaudIndex = 16;

struct SerialEndpoint {
    std::string device;  // "COM3" (any case) for the third port, or a device path
    int32_t baudIndex = kDefaultBaudIndex;  // into dnclink::BaudRateTable
};

struct UdpEndpoint {
    std::string address;  // dotted IPv4 text; taken as it is
    uint16_t port = 0;    // 0: the controller's own port
    int32_t waitMs = 0;   // each try's wait for its answer; 0: the link's default
};

struct SessionConfig {
    LinkType link = LinkType::kSerial;
    uint8_t deviceId = 1;
    SerialEndpoint serial;
    UdpEndpoint udp;
    std::optional<SessionTiming> timing;  // empty: DefaultTiming(link)
};

// The port number a "COMn" name gives (any case), 0 for a device path.
int ComPortNumber(const std::string &device);

class Session {
public:
    // Opens the configured link only and wires it to the engine with the
    // normal timing. "" on success, else why the link did not open.
    std::string Open(const SessionConfig &config);

    // The steps of Open, for a front end that keeps both links ready and
    // switches between them.
    //
    // Closes the port open before and opens this one; false when it did not
    // open (dnclink::SerialLastError says why).
    bool OpenSerial(const SerialEndpoint &endpoint);
    // A fresh socket aimed at the endpoint; false when no socket could be
    // made (errno says why).
    bool PrepareUdp(const UdpEndpoint &endpoint);
    void SetUdpAddress(const std::string &address);
    void SetUdpPort(uint16_t port);
    void SetUdpWait(int32_t milliseconds);
    int32_t UdpWait() const;

    // Which link carries the frames from now on.
    void Select(LinkType link);
    LinkType Selected() const;

    // Initialises the engine for `deviceId` with the selected link's normal
    // timing, then registers the link's two operations. `receive` replaces
    // the link's own receive operation (the window's can be cut).
    void Wire(uint8_t deviceId, const SessionTiming &timing, UartReceiveFun receive = nullptr);

    // Search timing and back. The device address stays: the searched ID
    // travels in each request.
    void BeginSearch();
    void EndSearch();

    // The engine's time-out and retries as last applied.
    LinkTiming CurrentTiming() const { return current_; }

    // Waits for late answers a retried request may still have on their way
    // on the serial line (the next program on the line would take them for
    // its own), then closes the port. The network socket needs no closing.
    void Close();

    // Run while a serial receive waits (the window processes its events
    // there); null: nothing.
    static void SetIdleHook(void (*hook)());
    // Receives what the link reports (a frame the network refused); the
    // front end words it. Null: dropped.
    static void SetEventHandler(void (*handler)(const dnclink::LinkEvent &event));

private:
    void Apply(LinkTiming timing);

    uint8_t deviceId_ = 1;
    SessionTiming timing_ = DefaultTiming(LinkType::kSerial);
    LinkTiming current_{0, 0};
};

}  // namespace nccmd
