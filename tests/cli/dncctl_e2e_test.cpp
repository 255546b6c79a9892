// dncctl as a script would run it, against a simulated controller on UDP
// loopback and on a pseudo-terminal.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>

#include "tests/cli/process.h"
#include "tests/cli/sim_controller.h"
#include "ncsim/simulator.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::kDncctl;
using clitest::Outcome;
using clitest::RandomBytes;
using clitest::SameBytes;
using clitest::Transport;

class OverEachLink : public ::testing::TestWithParam<Transport> {};

TEST_P(OverEachLink, PutThenGetRoundTripsEveryByte) {
    Controller c(GetParam());
    const size_t sizes[] = {0, 1, 511, 512, 513, 1025, 200 * 1024};
    for (size_t size : sizes) {
        SCOPED_TRACE("size " + std::to_string(size));
        const std::string bytes = RandomBytes(size, uint32_t(size) + 1);
        const std::string name = "F" + std::to_string(size) + ".BIN";
        const Outcome put = c.Run({"put", c.Local(name, bytes), "/" + name});
        ASSERT_EQ(put.status, 0) << Describe(put);
        EXPECT_TRUE(SameBytes(clitest::ReadFile(c.RootPath(name)), bytes));
        const std::string back = c.WorkPath("back.bin");
        const Outcome get = c.Run({"get", "\\" + name, back});
        ASSERT_EQ(get.status, 0) << Describe(get);
        EXPECT_TRUE(SameBytes(clitest::ReadFile(back), bytes));
    }
}

TEST_P(OverEachLink, DirectoriesAndDeletion) {
    Controller c(GetParam());
    ASSERT_EQ(c.Run({"mkdir", "/JOBS"}).status, 0);
    const Outcome put = c.Run({"put", c.Local("A1.NC", "G0 X1\r\n"), "JOBS/", "--verify"});
    ASSERT_EQ(put.status, 0) << Describe(put);

    Outcome ls = c.Run({"ls"});
    ASSERT_EQ(ls.status, 0) << Describe(ls);
    EXPECT_NE(ls.out.find("dir           0 JOBS\n"), std::string::npos) << ls.out;
    ls = c.Run({"ls", "\\JOBS\\"});
    ASSERT_EQ(ls.status, 0) << Describe(ls);
    EXPECT_EQ(ls.out, "file          7 A1.NC\n");

    // A directory with a file in it is refused; emptied, it goes.
    const Outcome busyDir = c.Run({"rmdir", "JOBS"});
    EXPECT_NE(busyDir.status, 0);
    ASSERT_EQ(c.Run({"rm", "JOBS/A1.NC"}).status, 0);
    EXPECT_FALSE(clitest::FileExists(c.RootPath("JOBS/A1.NC")));
    ASSERT_EQ(c.Run({"rmdir", "/JOBS/"}).status, 0);
    EXPECT_FALSE(clitest::FileExists(c.RootPath("JOBS")));
    ls = c.Run({"ls"});
    EXPECT_EQ(ls.out.find("JOBS"), std::string::npos) << ls.out;
}

TEST_P(OverEachLink, ControllerErrorsShowTheirPanelText) {
    Controller c(GetParam());
    const Outcome rm = c.Run({"rm", "/NOFILE.NC"});
    EXPECT_EQ(rm.status, 1);
    EXPECT_NE(rm.err.find("0xe2,Open File Error 代码42"), std::string::npos) << rm.err;
    const Outcome get = c.Run({"get", "/NOFILE.NC", c.WorkPath("x")});
    EXPECT_EQ(get.status, 1);
    EXPECT_FALSE(clitest::FileExists(c.WorkPath("x")));  // no partial local file
}

TEST_P(OverEachLink, SearchPrintsTheIdsThatAnswered) {
    ncsim::Options options;
    options.ids = {2, 4};
    Controller c(GetParam(), options);
    const Outcome search = c.Run({"search", "1", "5"});
    ASSERT_EQ(search.status, 0) << Describe(search);
    EXPECT_EQ(search.out, "2\n4\n");
    // The device ID of later commands is not changed by the search.
    const Outcome none = c.Run({"--id", "4", "search", "5", "5"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
}

TEST_P(OverEachLink, StatePrintsTheFieldsAndTheRecord) {
    Controller c(GetParam());
    const Outcome state = c.Run({"state"});
    ASSERT_EQ(state.status, 0) << Describe(state);
    EXPECT_EQ(state.out.rfind("AbnormalCode 0\nBlockTaken ", 0), 0u) << state.out;
    EXPECT_NE(state.out.find("\n0000: "), std::string::npos) << state.out;
}

TEST_P(OverEachLink, DncRunWithBusyAnswersStreamsTheFile) {
    ncsim::Options options;
    options.busyPerBlock = 2;
    Controller c(GetParam(), options, true);
    std::string program = "%\r\nO0001\r\n" + RandomBytes(1500, 5) + "\r\n%\r\n";  // 3 blocks
    const Outcome run = c.Run({"dnc", c.Local("PROG.NC", program)});
    ASSERT_EQ(run.status, 0) << Describe(run);
    program[0] = '\r';  // block 1's leading '%' goes as CR; the closing '%' stays
    EXPECT_TRUE(SameBytes(clitest::ReadFile(c.CapturePath()), program));
    // Announcement; blocks 1 and 2 refused twice each before being taken;
    // the last block goes once.
    EXPECT_EQ(c.Sim().CurrentStats().framesAnswered, 1u + 3 + 3 + 1);
}

TEST_P(OverEachLink, AbnormalStateEndsTheDncRunWithItsText) {
    ncsim::Options options;
    options.abnormalAtBlock = 2;
    options.abnormalCode = 77;
    Controller c(GetParam(), options);
    const Outcome run = c.Run({"dnc", c.Local("PROG.NC", RandomBytes(3000, 2))});
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.err.find("下位机出现异常状态 异常代码:77"), std::string::npos) << run.err;
    EXPECT_EQ(c.Sim().CurrentStats().dncBytesTaken, 512u);
}

INSTANTIATE_TEST_SUITE_P(Links, OverEachLink, ::testing::Values(Transport::kUdp, Transport::kPty),
                         [](const auto &info) { return info.param == Transport::kUdp ? "Udp" : "Pty"; });

// On a serial line a byte damaged past the frame checksum's reach can pass
// every check, so get reads the file twice there and keeps it only when both
// reads agree; --no-verify reads once, --verify reads twice over UDP too.
TEST(Verify, GetReadsTwiceOnASerialLineUnlessToldNot) {
    const struct {
        Transport transport;
        std::vector<std::string> flags;
        uint64_t reads;
    } cases[] = {
        {Transport::kPty, {}, 2},
        {Transport::kPty, {"--no-verify"}, 1},
        {Transport::kUdp, {}, 1},
        {Transport::kUdp, {"--verify"}, 2},
    };
    for (const auto &c : cases) {
        Controller ctl(c.transport);
        const std::string served = RandomBytes(1500, 17);  // an opening and 3 blocks a read
        clitest::WriteFile(ctl.RootPath("F.BIN"), served);
        std::vector<std::string> command = {"get", "\\F.BIN", ctl.WorkPath("F.BIN")};
        command.insert(command.end(), c.flags.begin(), c.flags.end());
        const Outcome get = ctl.Run(command);
        ASSERT_EQ(get.status, 0) << Describe(get);
        EXPECT_EQ(clitest::ReadFile(ctl.WorkPath("F.BIN")), served);
        EXPECT_EQ(ctl.Sim().CurrentStats().framesAnswered, 4 * c.reads) << (c.transport == Transport::kPty ? "pty " : "udp ")
                                                                        << (c.flags.empty() ? "" : c.flags[0]);
    }
}

// A network that refuses every frame (a broadcast address without leave to
// broadcast): each refused frame is named on stderr with the system's
// reason, and the request fails as unanswered.
TEST(Link, RefusedSendsAreNamedOnStderr) {
    const Outcome ls = clitest::Run(kDncctl, {"--udp", "255.255.255.255:2232", "--retries", "1", "ls"});
    EXPECT_EQ(ls.status, 1) << Describe(ls);
    const std::string line = "dncctl: cannot send a frame to the controller: Permission denied\n";
    size_t count = 0;
    for (size_t at = ls.err.find(line); at != std::string::npos; at = ls.err.find(line, at + 1)) ++count;
    EXPECT_EQ(count, 2u) << ls.err;  // the try and its retry
}

// Waits, without a deadline of its own (ctest's time-out bounds the test),
// until `ready` holds or the process has ended.
template <typename Ready>
void WaitUntil(clitest::Process &process, Ready ready) {
    while (!ready() && !process.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// Ctrl-C during a DNC run sends the abort block: the controller ends the run
// before the whole program arrived, and dncctl exits non-zero.
TEST(Interrupt, CtrlCStopsADncRunWithTheAbortBlock) {
    ncsim::Options options;
    options.dncRate = 2000;  // slow machining: the run lasts long enough to be stopped
    Controller c(Transport::kUdp, options);
    const std::string program = RandomBytes(200 * 1024, 8);
    clitest::Process run(kDncctl, c.Args({"dnc", c.Local("LONG.NC", program)}));
    WaitUntil(run, [&] { return c.Sim().CurrentStats().dncBytesTaken > 0; });
    run.Signal(SIGINT);
    const Outcome outcome = run.Wait();
    EXPECT_EQ(outcome.status, 130) << Describe(outcome);
    EXPECT_LT(c.Sim().CurrentStats().dncBytesTaken, program.size());
    // The run is over on the controller: a new one is accepted at once.
    const Outcome again = c.Run({"dnc", c.Local("SHORT.NC", "G0 X0\r\n")});
    EXPECT_EQ(again.status, 0) << Describe(again);
}

TEST(Interrupt, CtrlCStopsAGetAndLeavesNoPartialFile) {
    ncsim::Options options;
    options.delayMs = 10;  // a 400-block read takes seconds: time to press Ctrl-C
    Controller c(Transport::kUdp, options);
    clitest::WriteFile(c.RootPath("BIG.BIN"), RandomBytes(200 * 1024, 3));
    const std::string local = c.WorkPath("big.bin");
    clitest::Process get(kDncctl, c.Args({"get", "/BIG.BIN", local}));
    WaitUntil(get, [&] { return c.Sim().CurrentStats().framesAnswered > 3; });
    get.Signal(SIGINT);
    const Outcome outcome = get.Wait();
    EXPECT_EQ(outcome.status, 130) << Describe(outcome);
    EXPECT_FALSE(clitest::FileExists(local));
}

// A get onto a local file that already exists replaces it only with the
// whole remote file: a get that fails at once, one whose controller goes
// silent half-way, and one interrupted by Ctrl-C all leave it as it was.
TEST(Interrupt, GetOntoAnExistingFileLeavesItAsItWasUnlessItSucceeds) {
    const std::string known = "O0007 (KEEP ME)\r\nG0 X0 Y0\r\nM30\r\n";
    enum class Ending { kMissingRemote, kControllerGoesSilent, kCtrlC };
    for (Ending ending : {Ending::kMissingRemote, Ending::kControllerGoesSilent, Ending::kCtrlC}) {
        SCOPED_TRACE(static_cast<int>(ending));
        ncsim::Options options;
        options.delayMs = 10;  // a 400-block read takes seconds
        Controller c(Transport::kUdp, options);
        clitest::WriteFile(c.RootPath("BIG.BIN"), RandomBytes(200 * 1024, 3));
        const std::string local = c.Local("O0007.NC", known);
        const std::string remote = ending == Ending::kMissingRemote ? "/NOPE.BIN" : "/BIG.BIN";
        clitest::Process get(kDncctl, c.Args({"--retries", "1", "get", remote, local}));
        if (ending != Ending::kMissingRemote) {
            WaitUntil(get, [&] { return c.Sim().CurrentStats().framesAnswered > 3; });
            if (ending == Ending::kCtrlC) get.Signal(SIGINT);
            else c.Sim().Stop();
        }
        const Outcome outcome = get.Wait();
        EXPECT_EQ(outcome.status, ending == Ending::kCtrlC ? 130 : 1) << Describe(outcome);
        EXPECT_EQ(clitest::ReadFile(local), known);
    }
}

TEST(Interrupt, CtrlCStopsAPutAndTheControllerDropsTheFile) {
    ncsim::Options options;
    options.delayMs = 10;
    Controller c(Transport::kUdp, options);
    clitest::Process put(kDncctl, c.Args({"put", c.Local("BIG.BIN", RandomBytes(200 * 1024, 4))}));
    WaitUntil(put, [&] { return c.Sim().CurrentStats().framesAnswered > 3; });
    put.Signal(SIGINT);
    const Outcome outcome = put.Wait();
    EXPECT_EQ(outcome.status, 130) << Describe(outcome);
    EXPECT_FALSE(clitest::FileExists(c.RootPath("BIG.BIN")));
}

// ncsim --corrupt damages requests where the frame checksum does not reach
// (most of a long block's characters): the damage lands in the controller's
// file unnoticed. Only reading the file back shows it.
TEST(Verify, PutVerifyCatchesCorruptionTheChecksumMisses) {
    ncsim::Options options;
    options.corruptProbability = 0.1;
    options.seed = 11;
    Controller c(Transport::kUdp, options);
    const std::string bytes = RandomBytes(64 * 1024, 7);
    const std::string local = c.Local("C.BIN", bytes);

    const Outcome plain = c.Run({"put", local, "/P.BIN"});
    EXPECT_EQ(plain.status, 0) << "without --verify the damage goes unnoticed\n" << Describe(plain);
    EXPECT_FALSE(SameBytes(clitest::ReadFile(c.RootPath("P.BIN")), bytes));

    const Outcome verified = c.Run({"put", local, "/V.BIN", "--verify"});
    EXPECT_EQ(verified.status, 4) << Describe(verified);
    EXPECT_NE(verified.err.find("verify failed"), std::string::npos) << verified.err;
}

TEST(Output, GetToStandardOutputWritesTheBytes) {
    Controller c(Transport::kUdp);
    const std::string bytes = RandomBytes(1300, 9) + std::string(3, '\0');
    clitest::WriteFile(c.RootPath("S.BIN"), bytes);
    const Outcome get = c.Run({"get", "/S.BIN", "-"});
    ASSERT_EQ(get.status, 0) << Describe(get);
    EXPECT_TRUE(SameBytes(get.out, bytes));
    EXPECT_EQ(get.err, "");  // no progress bar when stderr is not a terminal

    // A folder as the target takes the remote file's name.
    const Outcome intoFolder = c.Run({"get", "/S.BIN", c.WorkPath("")});
    ASSERT_EQ(intoFolder.status, 0) << Describe(intoFolder);
    EXPECT_TRUE(SameBytes(clitest::ReadFile(c.WorkPath("S.BIN")), bytes));
}

// On a terminal stderr carries the progress line; the file's bytes still go
// only to the file.
TEST(Output, ProgressBarOnlyOnATerminal) {
    Controller c(Transport::kUdp);
    const std::string bytes = RandomBytes(200 * 1024, 10);
    clitest::WriteFile(c.RootPath("T.BIN"), bytes);
    const std::string local = c.WorkPath("t.bin");
    const Outcome outcome = clitest::RunOnTerminal(kDncctl, c.Args({"get", "/T.BIN", local}));
    ASSERT_EQ(outcome.status, 0);
    const std::string &terminal = outcome.err;
    EXPECT_NE(terminal.find("get ["), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("200.0 KiB / 200.0 KiB"), std::string::npos) << terminal;
    EXPECT_TRUE(SameBytes(clitest::ReadFile(local), bytes));
}

TEST(CommandLine, StatusForBadInputAndHelp) {
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 2},
        {{"frobnicate"}, 2},
        {{"--id", "0", "ls"}, 2},
        {{"--id", "x", "ls"}, 2},
        {{"get"}, 2},
        {{"rm", "a", "b"}, 2},
        {{"--udp", "127.0.0.1:notaport", "ls"}, 2},
        {{"--baud", "9600", "ls"}, 2},
        {{"ls", "--verify"}, 2},
        {{"--help"}, 0},
        {{"get", "--help"}, 0},
        {{"put", "/no/such/file.nc"}, 3},
        {{"--serial", "/no/such/tty", "ls"}, 3},
        {{"--serial", "/dev/null", "--baud", "12345", "ls"}, 2},
    };
    for (const auto &c : cases) {
        std::string joined;
        for (const auto &a : c.args) joined += a + " ";
        const Outcome o = clitest::Run(kDncctl, c.args);
        EXPECT_EQ(o.status, c.status) << joined << "\n" << o.err;
        if (c.status == 0) {
            EXPECT_NE(o.out.find("usage: dncctl"), std::string::npos) << joined;
        } else {
            EXPECT_FALSE(o.err.empty()) << joined;
        }
    }
}

}  // namespace
