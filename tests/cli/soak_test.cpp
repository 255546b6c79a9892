// Transfers through a network or line that loses, repeats and delays
// answers: every get, put and DNC run must end with the exact bytes or with
// a non-zero exit and a result text. Success with wrong data fails the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "process.h"
#include "sim_controller.h"

namespace {

using clitest::Controller;
using clitest::Describe;
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
                      << sent.size() << ")";
    } else if (outcome.err.empty()) {
        ++counts->failureWithoutText;
        ADD_FAILURE() << what << ": failed without saying why, " << Describe(outcome);
    } else {
        ++counts->cleanFailure;
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

INSTANTIATE_TEST_SUITE_P(Links, Soak, ::testing::Values(Transport::kUdp, Transport::kPty),
                         [](const auto &info) { return info.param == Transport::kUdp ? "Udp" : "Pty"; });

}  // namespace
