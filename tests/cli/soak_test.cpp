// Transfers through a network or line that loses, repeats and delays
// answers: every get, put and DNC run must end with the exact bytes or with
// a non-zero exit and a result text. Success with wrong data fails the test.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "tests/cli/process.h"
#include "tests/cli/sim_controller.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::Tree;
using clitest::Outcome;
using clitest::RandomBytes;
using clitest::Transport;

// How long each try waits, on both links, and the retries per request.
constexpr int kWaitMs = 100;

struct Counts {
    int exact = 0;
    int cleanFailure = 0;
    int wrongButSuccess = 0;
    int failureWithoutText = 0;
};

// Classifies one run: `delivered` is what the other end ended up with.
void Count(const Outcome &outcome, const std::string &delivered, const std::string &sent, Counts *counts,
           const std::string &what) {
    if (outcome.status == 0 && delivered == sent) {
        ++counts->exact;
    } else if (outcome.status == 0) {
        ++counts->wrongButSuccess;
        ADD_FAILURE() << what << ": success reported with wrong data (" << delivered.size() << " bytes, want "
                      << sent.size() << ")" << (delivered.size() < 200 ? ": " + delivered : "");
    } else if (outcome.err.empty()) {
        ++counts->failureWithoutText;
        ADD_FAILURE() << what << ": failed without saying why, " << Describe(outcome);
    } else {
        ++counts->cleanFailure;
        std::printf("  %s: clean failure, %s", what.c_str(), outcome.err.substr(outcome.err.rfind('\n', outcome.err.size() - 2) + 1).c_str());
    }
}

// One round: a get, a put and a DNC run of a few KiB through one simulator.
void Round(Transport transport, ncsim::Options options, uint32_t seed, Counts *counts) {
    options.seed = seed;
    Controller c(transport, options, true);
    const std::vector<std::string> wait = {"--timeout", std::to_string(kWaitMs)};
    auto run = [&](std::vector<std::string> command) {
        command.insert(command.begin(), wait.begin(), wait.end());
        return c.Run(command);
    };
    const std::string tag = " (seed " + std::to_string(seed) + ")";

    const std::string served = RandomBytes(3000 + seed % 512, seed);
    clitest::WriteFile(c.RootPath("SERVED.BIN"), served);
    const std::string fetched = c.WorkPath("FETCHED.BIN");
    const Outcome get = run({"get", "\\SERVED.BIN", fetched});
    Count(get, clitest::FileExists(fetched) ? clitest::ReadFile(fetched) : "", served, counts, "get" + tag);

    const std::string upload = RandomBytes(2500 + seed % 700, seed + 1);
    const Outcome put = run({"put", c.Local("UP.BIN", upload), "\\UP.BIN"});
    const std::string stored = clitest::FileExists(c.RootPath("UP.BIN")) ? clitest::ReadFile(c.RootPath("UP.BIN")) : "";
    Count(put, stored, upload, counts, "put" + tag);

    // The controller takes block 1 with CR in place of its leading '%'.
    const std::string program = "%\r\nO0100\r\n" + RandomBytes(2800 + seed % 300, seed + 2) + "\r\n%\r\n";
    const Outcome dnc = run({"dnc", c.Local("PROG.NC", program)});
    std::string expected = program;
    expected[0] = '\r';
    const std::string captured = clitest::FileExists(c.CapturePath()) ? clitest::ReadFile(c.CapturePath()) : "";
    Count(dnc, captured, expected, counts, "dnc" + tag);
}

void Print(const char *profile, Transport transport, const Counts &counts) {
    std::printf("%s over %s: %d exact, %d clean failures, %d wrong but success, %d failures without a text\n",
                profile, transport == Transport::kUdp ? "UDP" : "a pseudo-terminal", counts.exact,
                counts.cleanFailure, counts.wrongButSuccess, counts.failureWithoutText);
    std::fflush(stdout);
}

class Soak : public ::testing::TestWithParam<Transport> {};

// Every answer arrives half a wait after its try gave up: the late answer
// to the first try is the one the second try takes, and the second try's
// own answer arrives while the next request waits. Nothing is lost, so
// every transfer must complete exactly.
TEST_P(Soak, AnswersLateByHalfAWaitStillGiveTheExactBytes) {
    ncsim::Options options;
    options.delayMs = kWaitMs * 3 / 2;
    Counts counts;
    for (uint32_t seed : {11u, 12u}) Round(GetParam(), options, seed, &counts);
    Print("late answers", GetParam(), counts);
    EXPECT_EQ(counts.exact, 6);
}

// Loss, repeated answers and answers that wander around the wait: failures
// are allowed when the tries run out, wrong data never.
TEST_P(Soak, LossRepeatsAndJitterNeverGiveWrongData) {
    ncsim::Options options;
    options.dropProbability = 0.05;
    options.duplicateProbability = 0.3;
    options.delayMs = 30;
    options.jitterMs = 100;
    Counts counts;
    for (uint32_t seed : {21u, 22u, 23u}) Round(GetParam(), options, seed, &counts);
    Print("loss, repeats and jitter", GetParam(), counts);
    EXPECT_EQ(counts.wrongButSuccess, 0);
    EXPECT_EQ(counts.failureWithoutText, 0);
    EXPECT_GT(counts.exact, 0);
}

// Opening answers that announce what the controller does not hold: a read
// or a listing whose count cannot hold its size, or whose blocks do not add
// up to it. Every get and ls must fail cleanly; none may hand over an empty
// or short file, or an empty folder, as success.
TEST_P(Soak, AnnouncementsThatDisagreeWithTheBlocksFailCleanly) {
    const struct {
        int64_t blocks, size;
    } lies[] = {{0, -1}, {0, 1000}, {0, 0xFFFFFFFF}, {-1, 0xFFFFFFFF}, {1, -1}, {0x7FFFFFFF, -1}};
    Counts counts;
    uint32_t seed = 30;
    for (const auto &lie : lies) {
        ncsim::Options options;
        options.announcedBlocks = lie.blocks;
        options.announcedSize = lie.size;
        Controller c(GetParam(), options);
        const std::string served = RandomBytes(1500, ++seed);
        clitest::WriteFile(c.RootPath("SERVED.BIN"), served);
        const std::string fetched = c.WorkPath("FETCHED.BIN");
        const std::string tag = " (announcing " + std::to_string(lie.blocks) + " blocks, " + std::to_string(lie.size) + " bytes)";
        const Outcome get = c.Run({"--timeout", std::to_string(kWaitMs), "get", "\\SERVED.BIN", fetched});
        Count(get, clitest::FileExists(fetched) ? clitest::ReadFile(fetched) : "", served, &counts, "get" + tag);
        // The root holds SERVED.BIN alone: its listing is one entry.
        const Outcome ls = c.Run({"--timeout", std::to_string(kWaitMs), "ls", "\\"});
        const bool listed = ls.out.find("SERVED.BIN") != std::string::npos && ls.out.find('\n') == ls.out.size() - 1;
        Count(ls, listed ? "listed" : ls.out, "listed", &counts, "ls" + tag);
    }
    Print("announcements that disagree", GetParam(), counts);
    EXPECT_EQ(counts.wrongButSuccess, 0);
    EXPECT_EQ(counts.failureWithoutText, 0);
}

// A listing announcing 0x7FFFFFFF blocks of data that never ends: ls reads
// until its buffer is full and stops; Ctrl-C stops it at once, with the
// abort block.
TEST_P(Soak, AListingWithoutEndEndsAndCtrlCEndsItAtOnce) {
    ncsim::Options options;
    options.announcedBlocks = 0x7FFFFFFF;
    options.announcedSize = 0x7FFFFFFF;
    Controller c(GetParam(), options);
    const Outcome ls = c.Run({"ls", "\\"});
    EXPECT_EQ(ls.status, 0) << Describe(ls);
    EXPECT_EQ(std::count(ls.out.begin(), ls.out.end(), '\n'), 1024);  // the listing buffer's entries

    options.delayMs = 40;  // 40 blocks now take seconds: time for Ctrl-C
    Controller slow(GetParam(), options);
    clitest::Process run(clitest::kDncctl, slow.Args({"ls", "\\"}));
    while (slow.Sim().CurrentStats().framesAnswered < 3 && !run.Ended()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const uint64_t answeredAtCtrlC = slow.Sim().CurrentStats().framesAnswered;
    run.Signal(SIGINT);
    const Outcome stopped = run.Wait();
    EXPECT_EQ(stopped.status, 130) << Describe(stopped);
    EXPECT_LE(slow.Sim().CurrentStats().framesAnswered, answeredAtCtrlC + 3);  // the block in hand and the abort block
}

// A bit flipped anywhere in some answers, as line noise does. Past the
// checksum's reach only the hex-digit check and reading back can tell; a
// flip that leaves a valid digit is caught by the verification a serial
// link does by default. (A datagram carries its own checksum: the network
// link never sees a flipped bit, so this is a line's fault.)
TEST(SoakLine, FlippedBitsNeverGiveWrongData) {
    for (const double p : {0.02, 0.1}) {
        ncsim::Options options;
        options.flipProbability = p;
        Counts counts;
        for (uint32_t seed : {41u, 42u, 43u}) Round(Transport::kPty, options, seed, &counts);
        Print(p < 0.05 ? "a bit flipped in 2% of answers" : "a bit flipped in 10% of answers", Transport::kPty, counts);
        EXPECT_EQ(counts.wrongButSuccess, 0);
        EXPECT_EQ(counts.failureWithoutText, 0);
    }
}

// A controller that answers busy DNC blocks with a record too short to say
// whether it took the block. The block is sent again; a controller that
// never sends a whole record ends the run with an error, never with blocks
// skipped.
TEST_P(Soak, ShortStateRecordsNeverSkipBlocks) {
    Counts counts;
    uint32_t seed = 50;
    for (const int32_t length : {1, 8, 12, 15}) {
        for (const uint32_t busy : {2u, 9u}) {  // within the retries, and beyond them
            ncsim::Options options;
            options.busyRecordLength = length;
            options.busyPerBlock = busy;
            Controller c(GetParam(), options, true);
            const std::string program = "%\r\nO0100\r\n" + RandomBytes(1800, ++seed) + "\r\n%\r\n";
            const Outcome dnc = c.Run({"--timeout", std::to_string(kWaitMs), "dnc", c.Local("PROG.NC", program)});
            std::string expected = program;
            expected[0] = '\r';
            const std::string captured = clitest::FileExists(c.CapturePath()) ? clitest::ReadFile(c.CapturePath()) : "";
            Count(dnc, captured, expected, &counts,
                  "dnc, records of " + std::to_string(length) + " bytes, busy " + std::to_string(busy));
            if (busy == 2) {
                EXPECT_EQ(dnc.status, 0) << Describe(dnc);
            }
        }
    }
    Print("short state records", GetParam(), counts);
    EXPECT_EQ(counts.wrongButSuccess, 0);
    EXPECT_EQ(counts.exact, 4);
}

// A whole-controller backup through late, repeated and lost answers: a late
// or repeated opening answer must never leave a file empty, cut short or
// missing from a backup that reports success.
TEST_P(Soak, BackupThroughLateAndRepeatedAnswersIsWholeOrFails) {
    Counts counts;
    for (uint32_t seed : {81u, 82u, 83u}) {
        ncsim::Options options;
        options.seed = seed;
        options.duplicateProbability = 0.3;
        options.delayMs = 30;
        options.jitterMs = 100;
        Controller c(GetParam(), options);
        ASSERT_TRUE(ncsim::WriteSampleTree(c.Sim().Root()));
        clitest::WriteFile(c.RootPath("DATA/SMALL.NC"), RandomBytes(700, seed));
        const std::string out = c.WorkPath("backup");
        const Outcome backup = c.Run({"--timeout", std::to_string(kWaitMs), "backup", out});
        std::map<std::string, std::string> copy = clitest::FileExists(out) ? Tree(out) : std::map<std::string, std::string>{};
        const bool manifest = copy.erase("MANIFEST.sha256") == 1;
        const std::map<std::string, std::string> served = Tree(c.Sim().Root());
        std::string differences;
        for (const auto &[path, bytes] : served) {
            const auto found = copy.find(path);
            if (found == copy.end()) differences += " missing " + path;
            else if (found->second != bytes) differences += " " + path + " has " + std::to_string(found->second.size()) + " bytes, not " + std::to_string(bytes.size());
        }
        for (const auto &[path, bytes] : copy) {
            if (served.count(path) == 0) differences += " extra " + path;
        }
        if (!manifest) differences += " no manifest";
        Count(backup, differences.empty() ? "whole" : "not whole:" + differences, "whole", &counts,
              "backup (seed " + std::to_string(seed) + ")");
    }
    Print("a backup through late and repeated answers", GetParam(), counts);
    EXPECT_EQ(counts.wrongButSuccess, 0);
    EXPECT_EQ(counts.failureWithoutText, 0);
}

INSTANTIATE_TEST_SUITE_P(Links, Soak, ::testing::Values(Transport::kUdp, Transport::kPty),
                         [](const auto &info) { return info.param == Transport::kUdp ? "Udp" : "Pty"; });

// Two dncctl runs in a row on one line, against a controller slower than the
// wait: the first run's late answers must not answer the second run's
// first request (a text command's answer carries nothing to tell it by).
TEST(SoakLine, ARunNeverTakesTheLateAnswersOfTheRunBeforeIt) {
    ncsim::Options options;
    options.delayMs = 300;
    Controller c(Transport::kPty, options);
    const std::string program = RandomBytes(1200, 61);
    clitest::WriteFile(c.RootPath("A.NC"), program);
    const std::vector<std::string> wait = {"--timeout", "200"};
    auto run = [&](std::vector<std::string> command) {
        command.insert(command.begin(), wait.begin(), wait.end());
        return c.Run(command);
    };
    Counts counts;
    for (int round = 0; round < 3; ++round) {
        const std::string folder = "\\NEW" + std::to_string(round);
        ASSERT_EQ(run({"mkdir", folder}).status, 0);
        const std::string fetched = c.WorkPath("A" + std::to_string(round) + ".NC");
        const Outcome get = run({"get", "\\A.NC", fetched});
        Count(get, clitest::FileExists(fetched) ? clitest::ReadFile(fetched) : "", program, &counts, "get after mkdir");

        ASSERT_EQ(run({"mkdir", folder + "X"}).status, 0);
        const Outcome ls = run({"ls", "\\"});
        const bool listed = ls.out.find("A.NC") != std::string::npos && ls.out.find("NEW" + std::to_string(round)) != std::string::npos;
        Count(ls, listed ? "listed" : ls.out, "listed", &counts, "ls after mkdir");


        // A listing's tries are all answered alike: the runs after it would
        // take any of them.
        ASSERT_EQ(run({"ls", "\\"}).status, 0);
        const Outcome rm = run({"rm", "\\MISSING.NC"});
        if (rm.status == 0) {
            ++counts.wrongButSuccess;
            ADD_FAILURE() << "rm of a missing file after mkdir: success";
        } else {
            ++counts.cleanFailure;
        }
    }
    Print("a run after a slow one", Transport::kPty, counts);
    EXPECT_EQ(counts.wrongButSuccess, 0);
    EXPECT_EQ(counts.failureWithoutText, 0);
}

// A line at 9600 baud carries a full block's answer (1,045 characters) in
// 1.09 s, longer than the default wait of 600 ms: only silence counts
// against the wait, and a request's own time on the line is not taken from
// its answer's wait. get, put and a DNC run of full blocks, default wait.
TEST(SlowLine, FullBlocksAt9600BaudWithTheDefaultWait) {
    ncsim::Options options;
    options.lineBaud = 9600;
    Controller c(Transport::kPty, options, true);
    const std::vector<std::string> line = {"--serial", c.Sim().PtyPath(), "--baud", "9600"};
    auto run = [&](std::vector<std::string> command) {
        command.insert(command.begin(), line.begin(), line.end());
        return clitest::Run(clitest::kDncctl, command);
    };
    const std::string served = RandomBytes(1536, 71);
    clitest::WriteFile(c.RootPath("FULL.BIN"), served);
    const Outcome get = run({"get", "\\FULL.BIN", c.WorkPath("FULL.BIN")});
    ASSERT_EQ(get.status, 0) << Describe(get);
    EXPECT_TRUE(clitest::SameBytes(clitest::ReadFile(c.WorkPath("FULL.BIN")), served));

    const std::string upload = RandomBytes(1024, 72);
    const Outcome put = run({"put", c.Local("UP.BIN", upload), "\\UP.BIN"});
    ASSERT_EQ(put.status, 0) << Describe(put);
    EXPECT_TRUE(clitest::SameBytes(clitest::ReadFile(c.RootPath("UP.BIN")), upload));

    const std::string program = "O0200\r\n" + RandomBytes(1017, 73);
    const Outcome dnc = run({"dnc", c.Local("PROG.NC", program)});
    ASSERT_EQ(dnc.status, 0) << Describe(dnc);
    EXPECT_TRUE(clitest::SameBytes(clitest::ReadFile(c.CapturePath()), program));
}

}  // namespace
