// The session: one configuration opens a link, wires it to the engine and
// switches the engine's timing for a search and back.
#include <gtest/gtest.h>

#include "link/link_ops.h"
#include "nccmd/nc_commands.h"
#include "core/request_engine.h"
#include "link/serial_link.h"
#include "nccmd/session.h"
#include "ncsim/simulator.h"
#include "platform/line_end.h"

namespace {

struct TimingCase {
    nccmd::LinkType link;
    nccmd::LinkTiming normal, search, afterSearch;
};

class SessionTimingTest : public ::testing::TestWithParam<TimingCase> {};

// The window's timing: what the engine runs with while the link serves
// requests, during a device search and after it.
TEST_P(SessionTimingTest, OpenSearchAndBackSetTheEngine) {
    const TimingCase &c = GetParam();
    ncsim::Simulator simulator;
    nccmd::SessionConfig config;
    config.link = c.link;
    config.deviceId = 7;
    if (c.link == nccmd::LinkType::kUdp) {
        ASSERT_TRUE(simulator.StartUdp()) << simulator.LastError();
        config.udp = {"127.0.0.1", simulator.UdpPort(), 0};
    } else {
        if (!platform::PseudoTerminalsAvailable()) GTEST_SKIP() << "this system has no pseudo-terminals";
        ASSERT_TRUE(simulator.StartPty()) << simulator.LastError();
        config.serial = {simulator.PtyPath(), nccmd::kDefaultBaudIndex};
    }
    nccmd::Session session;
    ASSERT_EQ(session.Open(config), "");
    EXPECT_EQ(session.Selected(), c.link);
    EXPECT_EQ(int(dnclink::SelectedLink()), int(c.link));
    auto expectEngine = [](nccmd::LinkTiming t) {
        EXPECT_EQ(core::CurrentEngineSettings().timeout, t.timeout);
        EXPECT_EQ(core::CurrentEngineSettings().retries, t.retries);
        EXPECT_EQ(core::CurrentEngineSettings().address, 7);
    };
    expectEngine(c.normal);
    session.BeginSearch();
    expectEngine(c.search);
    EXPECT_EQ(session.CurrentTiming().retries, c.search.retries);
    // Wired: the simulated controller (ID 1) answers through the link.
    EXPECT_EQ(nccmd::NcSearchId(1), 0);
    session.EndSearch();
    expectEngine(c.afterSearch);
    session.Close();
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
}

INSTANTIATE_TEST_SUITE_P(Links, SessionTimingTest,
                         ::testing::Values(TimingCase{nccmd::LinkType::kSerial, {600, 5}, {100, 1}, {600, 5}},
                                           TimingCase{nccmd::LinkType::kUdp, {0, 5}, {0, 0}, {0, 10}}),
                         [](const auto &info) { return info.param.link == nccmd::LinkType::kUdp ? "Udp" : "Serial"; });

TEST(Session, PortThatDoesNotOpenIsReportedAndNotWired) {
    nccmd::Session session;
    nccmd::SessionConfig config;
    config.serial = {"/dev/no-such-serial-port", nccmd::kDefaultBaudIndex};
    const std::string error = session.Open(config);
    EXPECT_NE(error.find("cannot open serial port /dev/no-such-serial-port"), std::string::npos) << error;
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
}

TEST(Session, ComNamesPickPortsOtherNamesArePaths) {
    const std::pair<const char *, int> cases[] = {
        {"COM3", 3}, {"com12", 12}, {"COM", 0}, {"COM3x", 0}, {"/dev/ttyUSB0", 0}, {"COM99999", 0},
    };
    for (const auto &[name, port] : cases) EXPECT_EQ(nccmd::ComPortNumber(name), port) << name;
}

// The one baud table serves lists (134.5) and texts (134) alike.
TEST(Session, BaudTextsFindTheirTableEntry) {
    EXPECT_EQ(dnclink::BaudIndexOf("115200"), nccmd::kDefaultBaudIndex);
    EXPECT_EQ(dnclink::BaudIndexOf("134.5"), 3);
    EXPECT_EQ(dnclink::BaudIndexOf("134"), 3);
    EXPECT_EQ(dnclink::BaudIndexOf("115201"), -1);
    for (int i = 0; i < dnclink::kBaudRateCount; ++i) EXPECT_EQ(dnclink::BaudRateOf(i), dnclink::BaudRateTable[i].rate);
}

}  // namespace
