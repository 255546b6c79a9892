// The serial link on a pseudo-terminal pair: the test holds the master end
// where a controller's cable would be.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link/link_ops.h"
#include "core/request_engine.h"
#include "link/serial_link.h"

namespace {

using dnclink::LinkReceive;
using dnclink::LinkSendFrame;

int idleCalls = 0;
void CountIdle() { ++idleCalls; }

class SerialLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        path = ptsname(master);
        // A second view of the line's input queue: poll on it tells when
        // bytes written at the master have arrived, without taking them.
        watcher = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(watcher, 0);
        idleCalls = 0;
        dnclink::SetLinkIdleHook(CountIdle);
        dnclink::SelectLink(dnclink::kLinkSerial);
        dnclink::SerialSelectDevice(path.c_str(), 16);
        ASSERT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
    }
    void TearDown() override {
        dnclink::SerialClose();
        if (watcher >= 0) close(watcher);
        if (master >= 0) close(master);
    }

    void WriteAtMaster(const std::string &bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        pollfd p{watcher, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
    }

    // What arrived at the master, up to `n` bytes.
    std::string ReadAtMaster(size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) break;
            char buffer[4096];
            const ssize_t k = read(master, buffer, std::min(sizeof buffer, n - got.size()));
            if (k <= 0) break;
            got.append(buffer, size_t(k));
        }
        return got;
    }

    // Bytes the link hands the engine, one per call, until n or the link
    // has said "nothing" many times in a row.
    std::string Collect(size_t n) {
        std::string got;
        for (int empty = 0; got.size() < n && empty < 5000;) {
            const uint8_t b = LinkReceive(nullptr, nullptr);
            if (b == 255) {
                ++empty;
            } else {
                empty = 0;
                got += char(b);
            }
        }
        return got;
    }

    int master = -1;
    int watcher = -1;
    std::string path;
};

TEST_F(SerialLinkTest, FrameIsWrittenUpToItsLfAndNotBeyond) {
    const std::string first = ":0124000361626338\r\n";
    const std::string second = ":012400003F\r\n";
    LinkSendFrame((first + "STALE REST OF A LONGER FRAME").c_str());
    LinkSendFrame(second.c_str());
    EXPECT_EQ(ReadAtMaster(first.size() + second.size()), first + second);
}

TEST_F(SerialLinkTest, EveryReceivedByteIsHandedOverInOrder) {
    std::string data;
    for (int i = 0; i < 9000; ++i) data += char('0' + i % 43);  // more than one read's worth
    ASSERT_EQ(write(master, data.data(), data.size()), ssize_t(data.size()));
    EXPECT_EQ(Collect(data.size()), data);
}

TEST_F(SerialLinkTest, NothingWaitingRunsTheIdleHookAndReturns255) {
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    EXPECT_EQ(idleCalls, 1);
}

TEST_F(SerialLinkTest, InputWaitingBeforeASendIsDiscarded) {
    WriteAtMaster(":01A405C5\r\n");  // a late answer to an earlier try
    LinkSendFrame(":0124000361626338\r\n");
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    WriteAtMaster(":fresh\n");
    EXPECT_EQ(Collect(7), ":fresh\n");
}

// A controller whose answer came twice, both copies in one read: the copy
// still sits in the link's own buffer when the next frame goes out, and must
// never be handed back as that frame's answer.
TEST_F(SerialLinkTest, CopyOfAnAnswerReadTogetherWithItIsNeverTheNextAnswer) {
    LinkSendFrame(":first\r\n");
    ASSERT_EQ(ReadAtMaster(8), ":first\r\n");
    WriteAtMaster(":answer\r\n:answer\r\n");
    EXPECT_EQ(Collect(9), ":answer\r\n");
    LinkSendFrame(":second\r\n");
    ASSERT_EQ(ReadAtMaster(9), ":second\r\n");
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    WriteAtMaster(":fresh\n");
    EXPECT_EQ(Collect(7), ":fresh\n");
}

// A line that never stops sending bytes that make no frame (noise, a wrong
// rate, a chatty device) never falls silent: every try still ends once two
// of the longest frames' worth of characters came without a frame among
// them, so the request ends after its tries while the noise goes on.
TEST_F(SerialLinkTest, ANoisyLineCannotHoldARequestBeyondItsTries) {
    std::atomic<bool> stop{false};
    std::atomic<bool> noiseOver{false};
    // One thread keeps the line full (it wakes as soon as the link has taken
    // bytes), another takes the frames the engine sends.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    std::thread noise([&] {
        const std::string junk(65536, 'x');
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop && std::chrono::steady_clock::now() < end) {
            if (write(master, junk.data(), junk.size()) > 0) continue;
            pollfd p{master, POLLOUT, 0};
            poll(&p, 1, 10);
        }
        noiseOver = true;
    });
    std::thread sink([&] {
        char drain[4096];
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 50) == 1 && read(master, drain, sizeof drain) <= 0) break;
        }
    });
    core::ModbusInit(1, 200, 2);
    core::SetUartReceiveFun(LinkReceive);
    core::SetUartSendFrameFun(LinkSendFrame);
    uint8_t buffer[core::kMaxPayload] = {0, 0, 0, 0, '%'};
    uint16_t length = 5;
    EXPECT_EQ(core::ModbusReadFileReq(1, &length, buffer), core::kResultNoAnswer);
    EXPECT_FALSE(noiseOver) << "the request lasted as long as the noise";
    stop = true;
    noise.join();
    sink.join();
}

// Whatever waits in the port when it is opened was meant for whoever had
// the line before.
TEST_F(SerialLinkTest, OpeningEmptiesThePort) {
    dnclink::SerialClose();
    WriteAtMaster(":01240004000000003C\r\n");  // another program's late answer
    ASSERT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    WriteAtMaster(":fresh\n");
    EXPECT_EQ(Collect(7), ":fresh\n");
}

// A frame sent while the one before it is unanswered (a try that timed
// out), or a last frame without its answer: answers may still come, and the
// program waits for them before letting the line go, so the next program on
// it never takes them for its own.
TEST_F(SerialLinkTest, UnansweredFramesAreAwaitedBeforeTheLineIsLetGo) {
    EXPECT_FALSE(dnclink::SerialAnswersMayBeInFlight());
    LinkSendFrame(":first\r\n");
    EXPECT_TRUE(dnclink::SerialAnswersMayBeInFlight());  // the last frame is unanswered
    WriteAtMaster(":answer\r\n");
    EXPECT_EQ(Collect(9), ":answer\r\n");
    EXPECT_FALSE(dnclink::SerialAnswersMayBeInFlight());

    LinkSendFrame(":try\r\n");
    LinkSendFrame(":try\r\n");  // the first try's answer did not come in time
    WriteAtMaster(":answer\r\n");
    EXPECT_EQ(Collect(9), ":answer\r\n");
    EXPECT_TRUE(dnclink::SerialAnswersMayBeInFlight());
    WriteAtMaster(":late\r\n");
    dnclink::SerialDrainLateAnswers(50, 5000);
    EXPECT_FALSE(dnclink::SerialAnswersMayBeInFlight());
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);  // the late answer went with the drain
}

TEST_F(SerialLinkTest, ClosedPortSendsNothingAndReceivesNothing) {
    dnclink::SerialClose();
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
    LinkSendFrame(":ghost\r\n");
    WriteAtMaster("x");
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    EXPECT_EQ(idleCalls, 1);  // the window still gets its messages processed
    ASSERT_TRUE(dnclink::SerialOpen());
    LinkSendFrame(":marker\r\n");
    EXPECT_EQ(ReadAtMaster(9), ":marker\r\n");
}

TEST_F(SerialLinkTest, NeitherLinkReturnsAtOnceWithoutTheHook) {
    dnclink::SelectLink(2);
    WriteAtMaster("y");
    LinkSendFrame(":ghost\r\n");
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    EXPECT_EQ(idleCalls, 0);
    dnclink::SelectLink(dnclink::kLinkSerial);
    LinkSendFrame(":marker\r\n");
    EXPECT_EQ(ReadAtMaster(9), ":marker\r\n");
}

TEST_F(SerialLinkTest, HangUpClosesThePortInsteadOfSpinning) {
    close(master);  // the other end of the cable goes away
    master = -1;
    for (int i = 0; i < 1000 && dnclink::CurrentSerialConfig().open; ++i) LinkReceive(nullptr, nullptr);
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
    EXPECT_STRNE(dnclink::SerialLastError(), "");
    idleCalls = 0;
    EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
    EXPECT_EQ(idleCalls, 1);
}

// The engine asks again and again until its time-out runs out; every empty
// answer must have slept (at least 1 ms), also when there is no port at all,
// or a request over a closed port burns a core for its whole time-out. The
// bound follows from the sleep itself, so a slow machine only loosens it.
TEST_F(SerialLinkTest, ClosedPortStillSleepsBetweenEmptyReceives) {
    for (const bool hangUp : {false, true}) {
        SCOPED_TRACE(hangUp ? "closed after a hang-up" : "closed by the program");
        if (hangUp) {
            ASSERT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
            close(master);
            master = -1;
            for (int i = 0; i < 1000 && dnclink::CurrentSerialConfig().open; ++i) LinkReceive(nullptr, nullptr);
        } else {
            dnclink::SerialClose();
        }
        ASSERT_FALSE(dnclink::CurrentSerialConfig().open);
        idleCalls = 0;
        const auto start = std::chrono::steady_clock::now();
        auto elapsed = std::chrono::steady_clock::duration::zero();
        while (elapsed < std::chrono::milliseconds(30)) {
            EXPECT_EQ(LinkReceive(nullptr, nullptr), 255);
            elapsed = std::chrono::steady_clock::now() - start;
        }
        const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
        EXPECT_LE(idleCalls, elapsedMs + 1) << "empty receives that did not wait";
    }
}

TEST_F(SerialLinkTest, PortHeldByAnotherProgramIsNotOpened) {
    dnclink::SerialClose();
    const int other = open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(dnclink::SerialOpen());
    EXPECT_EQ(dnclink::SerialLastErrno(), EBUSY);
    close(other);
    EXPECT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
}

TEST_F(SerialLinkTest, EveryTableRateOpensAPseudoTerminal) {
    for (int index = 0; index < dnclink::kBaudRateCount; ++index) {
        SCOPED_TRACE(dnclink::BaudRateTable[index].text);
        EXPECT_EQ(dnclink::BaudRateTable[index].code, index);
        dnclink::SerialSelectDevice(path.c_str(), index);
        EXPECT_TRUE(dnclink::SerialOpen()) << dnclink::SerialLastError();
        termios tio{};
        ASSERT_EQ(tcgetattr(watcher, &tio), 0);
        EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    }
    EXPECT_STREQ(dnclink::BaudRateTable[3].text, "134");
    EXPECT_EQ(dnclink::BaudRateOf(3), 134u);
    EXPECT_EQ(dnclink::BaudRateOf(11), 7200u);
}

TEST_F(SerialLinkTest, SelectingClosesTheOpenPortAndNamesTheSystemPort) {
    ASSERT_TRUE(dnclink::CurrentSerialConfig().open);
    EXPECT_EQ(dnclink::SerialSelect(4, 12), 0);
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
    EXPECT_STREQ(dnclink::SerialDevicePath(), "/dev/ttyS3");
    const dnclink::SerialConfig &c = dnclink::CurrentSerialConfig();
    EXPECT_EQ(c.port, 4);
    EXPECT_EQ(c.baudCode, 12);
    EXPECT_EQ(c.dataBitsCode, 3);
    EXPECT_TRUE(c.dtr && c.rts);
    EXPECT_FALSE(c.hardwareHandshake || c.softwareHandshake);
}

TEST_F(SerialLinkTest, MissingDeviceOrRateFailsWithTheReason) {
    dnclink::SerialSelectDevice("/dev/no-such-serial-port", 16);
    EXPECT_FALSE(dnclink::SerialOpen());
    EXPECT_EQ(dnclink::SerialLastErrno(), ENOENT);
    EXPECT_NE(std::strstr(dnclink::SerialLastError(), "/dev/no-such-serial-port"), nullptr);
    dnclink::SerialSelectDevice(path.c_str(), 20);
    EXPECT_FALSE(dnclink::SerialOpen());
    dnclink::SerialSelectDevice("/dev/null", 16);  // not a terminal
    EXPECT_FALSE(dnclink::SerialOpen());
    EXPECT_FALSE(dnclink::CurrentSerialConfig().open);
}

}  // namespace
