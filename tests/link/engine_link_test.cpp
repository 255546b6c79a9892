// The program's engine build with the real links against the simulated
// controller, over UDP loopback and over a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/ncsim/engine_session.h"
#include "link/link_ops.h"
#include "link/serial_link.h"
#include "nccmd/session.h"
#include "ncsim/simulator.h"
#include "link/udp_link.h"
#include "platform/line_end.h"

namespace {

using namespace testing_payloads;

enum class Transport { Udp, Pty };

std::string Slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class EngineOverLinkTest : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override {
        if (GetParam() == Transport::Pty && !platform::PseudoTerminalsAvailable()) {
            GTEST_SKIP() << "this system has no pseudo-terminals";
        }
    }
    // Starts a simulator and sets the engine up as the window does for the
    // link: byte mode with a time-out on serial, block mode on UDP.
    void Start(ncsim::Options options, int32_t retries, int32_t serialTimeoutMs = 600) {
        simulator = std::make_unique<ncsim::Simulator>(options);
        nccmd::SessionConfig config;
        if (GetParam() == Transport::Udp) {
            ASSERT_TRUE(simulator->StartUdp()) << simulator->LastError();
            config.link = nccmd::LinkType::kUdp;
            config.udp = {"127.0.0.1", simulator->UdpPort(), 0};
        } else {
            ASSERT_TRUE(simulator->StartPty()) << simulator->LastError();
            config.serial = {simulator->PtyPath(), nccmd::kDefaultBaudIndex};
        }
        nccmd::SessionTiming timing = nccmd::DefaultTiming(config.link);
        timing.normal.retries = retries;
        if (config.link == nccmd::LinkType::kSerial) timing.normal.timeout = serialTimeoutMs;
        config.timing = timing;
        ASSERT_EQ(session.Open(config), "");
    }
    void TearDown() override {
        dnclink::SerialClose();
        simulator.reset();
    }

    nccmd::Session session;
    std::filesystem::path Root() const { return simulator->Root(); }

    std::unique_ptr<ncsim::Simulator> simulator;
};

TEST_P(EngineOverLinkTest, ListReadWriteAndReadBack) {
    Start({}, 5);
    Bytes listing;
    ASSERT_EQ(ReadAll(1, "%DirList%%\\", listing), 0);
    EXPECT_EQ(EntryNames(listing), (std::vector<std::string>{"DATA", "PRG", "QVT", "O1234.NC"}));

    Bytes program;
    ASSERT_EQ(ReadAll(1, "\\PRG\\O0002.CNC", program), 0);
    EXPECT_EQ(std::string(program.begin(), program.end()), Slurp(Root() / "PRG" / "O0002.CNC"));
    EXPECT_GT(program.size(), 1024u);  // several blocks

    std::string upload;
    for (int i = 0; i < 1500; ++i) upload += char(0x20 + i % 90);
    ASSERT_EQ(WriteAll(1, "\\DATA\\O5000.NC", upload), 0);
    EXPECT_EQ(Slurp(Root() / "DATA" / "O5000.NC"), upload);
}

TEST_P(EngineOverLinkTest, SilentDeviceIdEndsWith0xFFAfterEveryTry) {
    Start({}, 2, 200);
    Bytes search = TextRequest(nccmd::kSearchIdWord);
    EXPECT_EQ(Exchange(false, 9, search), 0xFF);
    const ncsim::Stats stats = simulator->CurrentStats();
    EXPECT_EQ(stats.framesReceived, 3u);  // first try and two retries
    EXPECT_EQ(stats.framesIgnored, 3u);
    EXPECT_EQ(stats.framesAnswered, 0u);
}

TEST_P(EngineOverLinkTest, RetriesCarryTransfersThroughLostFrames) {
    ncsim::Options options;
    options.dropProbability = 0.25;
    options.seed = 11;
    Start(options, 5, 200);
    std::string upload;
    for (int i = 0; i < 3000; ++i) upload += char('A' + i % 26);
    ASSERT_EQ(WriteAll(1, "\\PRG\\O0001.CNC", upload), 0);
    Bytes back;
    ASSERT_EQ(ReadAll(1, "\\PRG\\O0001.CNC", back), 0);
    EXPECT_EQ(std::string(back.begin(), back.end()), upload);
    EXPECT_EQ(Slurp(Root() / "PRG" / "O0001.CNC"), upload);
    EXPECT_GT(simulator->CurrentStats().framesIgnored, 0u);  // the faults did happen
}

TEST_P(EngineOverLinkTest, DamagedAnswersAreRetriedNotTaken) {
    ncsim::Options options;
    options.corruptProbability = 0.3;
    options.seed = 5;
    Start(options, 8, 200);
    const std::string expected = Slurp(Root() / "PRG" / "O0002.CNC");
    for (int round = 0; round < 3; ++round) {
        Bytes program;
        ASSERT_EQ(ReadAll(1, "\\PRG\\O0002.CNC", program), 0);
        EXPECT_EQ(std::string(program.begin(), program.end()), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Links, EngineOverLinkTest, ::testing::Values(Transport::Udp, Transport::Pty),
                         [](const auto &info) { return info.param == Transport::Udp ? "Udp" : "Pty"; });

}  // namespace
