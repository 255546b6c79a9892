// dncctl dnc restarted from a line, a tool change or a block number, against
// a simulated controller that records what the run streamed: the table of
// programs and restart points byte for byte, the preamble printed before
// sending, the journal line, refusals that send nothing, and the restart
// point offered after a run that stopped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/journal.h"
#include "tests/cli/process.h"
#include "tests/nccmd/restart_cases.h"
#include "journal/sha256.h"
#include "tests/cli/sim_controller.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::Outcome;
using clitest::SameBytes;
using clitest::Transport;
using restart_cases::Join;

std::string Hash(const std::string &bytes) { return journal::Sha256Hex(bytes.data(), bytes.size()); }

const char *Option(nccmd::RestartFrom from) {
    switch (from) {
    case nccmd::RestartFrom::kLine: return "--from-line";
    case nccmd::RestartFrom::kToolChange: return "--from-tool";
    case nccmd::RestartFrom::kBlockNumber: return "--from-block";
    }
    return "";
}

// The controller receives block 1 with CR in place of a leading '%'.
std::string AsReceived(std::string stream) {
    if (!stream.empty() && stream[0] == '%') stream[0] = '\r';
    return stream;
}

// The preamble block dncctl prints on stderr before it sends anything.
std::string PrintedPreamble(const std::vector<std::string> &lines, const char *source = "computed") {
    std::string text = "dncctl: preamble (" + std::string(source) + ", " + std::to_string(lines.size()) +
                       " lines), sent after the program's opening:\n";
    for (const std::string &line : lines) text += "  " + line + "\n";
    return text;
}

journal::Entry LastEntry(const Controller &c) {
    std::string error;
    const std::vector<journal::Entry> entries = journal::ReadAll(c.JournalPath(), &error);
    EXPECT_TRUE(error.empty()) << error;
    return entries.empty() ? journal::Entry{} : entries.back();
}

TEST(DncRestart, TableOfProgramsAndRestartPointsAsTheControllerReceivedThem) {
    Controller c(Transport::kUdp, {}, true);
    for (const restart_cases::Case &rc : restart_cases::Cases()) {
        SCOPED_TRACE(rc.name);
        const std::string file = c.Local(rc.name + ".NC", rc.program);
        const Outcome run = c.Run({"dnc", file, Option(rc.from), std::to_string(rc.number)});
        ASSERT_EQ(run.status, 0) << Describe(run);
        EXPECT_TRUE(SameBytes(clitest::ReadFile(c.CapturePath()), AsReceived(rc.stream)));
        EXPECT_NE(run.err.find("from line " + std::to_string(rc.line) + " of "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(PrintedPreamble(rc.preamble)), std::string::npos) << run.err;

        const journal::Entry entry = LastEntry(c);
        EXPECT_EQ(entry.operation, journal::kDnc);
        EXPECT_EQ(entry.bytes, std::to_string(rc.stream.size()));
        EXPECT_EQ(entry.sha256, Hash(rc.stream));
        const std::string ending = rc.program.find("\r\n") != std::string::npos ? "\r\n" : "\n";
        EXPECT_EQ(entry.result, "Operation Successful (restart from line " + std::to_string(rc.line) +
                                    ", preamble sha256 " + Hash(Join(rc.preamble, ending)) + ")");
    }
}

// A restart of several blocks, paced by a busy controller, over each link:
// the preamble lands inside block 1 and the program follows across blocks.
class RestartOverEachLink : public ::testing::TestWithParam<Transport> {};

TEST_P(RestartOverEachLink, ALongRestartIsPacedLikeAnyRun) {
    ncsim::Options options;
    options.busyPerBlock = 2;
    Controller c(GetParam(), options, true);
    std::vector<std::string> lines(restart_cases::kMill.begin(), restart_cases::kMill.begin() + 11);  // to "G91 Y5."
    for (int i = 0; i < 200; ++i) lines.push_back("N" + std::to_string(1000 + i) + " X" + std::to_string(i) + ".5");
    lines.insert(lines.end(), restart_cases::kMill.begin() + 11, restart_cases::kMill.end());
    const std::string program = Join(lines, "\r\n");
    // Line 100 is "N1088 X88.5": G91 from line 11 is in force there.
    const std::vector<std::string> preamble = {"T1 M06", "T2", "G21 G17 G91 G54", "S1200 M03", "M08", "G01 F100."};
    const std::string stream = "%\r\nO0012 (BRACKET)\r\n" + Join(preamble, "\r\n") +
                               Join({lines.begin() + 99, lines.end()}, "\r\n");
    ASSERT_GT(stream.size(), 1024u);  // blocks 1 and 2 are paced, the last is not

    const Outcome run = c.Run({"dnc", c.Local("LONG.NC", program), "--from-block", "1088"});
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_TRUE(SameBytes(clitest::ReadFile(c.CapturePath()), AsReceived(stream)));
    EXPECT_NE(run.err.find(PrintedPreamble(preamble)), std::string::npos) << run.err;
    EXPECT_EQ(c.Sim().CurrentStats().dncBytesTaken, stream.size());
}

INSTANTIATE_TEST_SUITE_P(Links, RestartOverEachLink, ::testing::Values(Transport::kUdp, Transport::kPty),
                         [](const auto &info) { return info.param == Transport::kUdp ? "Udp" : "Pty"; });

// --preamble FILE: its lines go as given, each with the program's line
// ending, and are what dncctl prints and the journal hashes.
TEST(DncRestart, TheOperatorsPreambleIsSentAsShown) {
    Controller c(Transport::kUdp, {}, true);
    const std::string program = Join(restart_cases::kMill, "\n");
    const std::vector<std::string> preamble = {"T1 M06", "G0 G90 Z50. (SAFE HEIGHT)", "G21 G17 G54 S1200 M03"};
    const std::string preambleFile = c.Local("PRE.TXT", Join(preamble, "\r\n"));  // its own endings do not matter
    const Outcome run = c.Run({"dnc", c.Local("MILL.NC", program), "--from-line", "11", "--preamble", preambleFile});
    ASSERT_EQ(run.status, 0) << Describe(run);
    const std::string stream = "%\nO0012 (BRACKET)\n" + Join(preamble, "\n") +
                               Join({restart_cases::kMill.begin() + 10, restart_cases::kMill.end()}, "\n");
    EXPECT_TRUE(SameBytes(clitest::ReadFile(c.CapturePath()), AsReceived(stream)));
    EXPECT_NE(run.err.find(PrintedPreamble(preamble, "from --preamble")), std::string::npos) << run.err;
    EXPECT_NE(LastEntry(c).result.find("preamble sha256 " + Hash(Join(preamble, "\n")) + ")"), std::string::npos);
}

// --show prints the plan and the stream's first lines, with the scan's
// warnings, and sends nothing.
TEST(DncRestart, ShowPrintsThePlanAndSendsNothing) {
    Controller c(Transport::kUdp, {}, true);
    std::vector<std::string> lines = restart_cases::kMill;
    lines.insert(lines.begin() + 8, "G43 H1 Z50.");  // line 9; "G91 Y5." is now line 12
    const std::string file = c.Local("SHOW.NC", Join(lines, "\r\n"));
    const Outcome show = c.Run({"dnc", file, "--from-line", "12", "--show"});
    ASSERT_EQ(show.status, 0) << Describe(show);
    EXPECT_NE(show.out.find("warning: line 9 (G43 H1 Z50.): G43 not restored\n"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("first 18 of the stream's 19 lines (lines end in CR LF):\n  %\n  O0012 (BRACKET)\n  T1 M06\n"
                            "  T2\n  G21 G17 G90 G54\n  S1200 M03\n  M08\n  G01 F100.\n  G91 Y5.\n"),
              std::string::npos)
        << show.out;
    EXPECT_NE(show.out.find("nothing was sent\n"), std::string::npos);
    EXPECT_EQ(c.Sim().CurrentStats().framesReceived, 0u);
    EXPECT_FALSE(clitest::FileExists(c.JournalPath()));
}

TEST(DncRestart, BadInputIsRefusedAndNothingIsSent) {
    Controller c(Transport::kUdp, {}, true);
    const std::string mill = c.Local("MILL.NC", Join(restart_cases::kMill, "\r\n"));
    const std::string empty = c.Local("EMPTY.TXT", "");
    const std::string percent = c.Local("PCT.TXT", "T1 M06\r\n%\r\n");
    const std::string binary = c.Local("BIN.NC", std::string("%\r\nO1\r\nG0 X1\r\n\x00\x01\x02", 17));
    const struct {
        const char *name;
        std::vector<std::string> command;
        int status;
        const char *saying;
    } cases[] = {
        {"line past the end", {"dnc", mill, "--from-line", "22"}, 2, "line 22 is past the program's end (it has 21 lines)"},
        {"no such tool change", {"dnc", mill, "--from-tool", "3"}, 2, "the program has no tool change 3"},
        {"no such block", {"dnc", mill, "--from-block", "35"}, 2, "the program has no block N35"},
        {"empty preamble, tool in use", {"dnc", mill, "--from-line", "11", "--preamble", empty}, 2,
         "the preamble is empty, but T1 is in use"},
        {"'%' in the preamble", {"dnc", mill, "--from-line", "11", "--preamble", percent}, 2, "preamble line 2: a '%'"},
        {"not text", {"dnc", binary, "--from-line", "3"}, 3, "not a text program: it holds the control byte 0x00"},
        {"missing preamble file", {"dnc", mill, "--from-line", "11", "--preamble", c.WorkPath("NONE.TXT")}, 3,
         "NONE.TXT"},
        {"line 0", {"dnc", mill, "--from-line", "0"}, 2, "--from-line wants a whole number from 1"},
        {"two restart points", {"dnc", mill, "--from-line", "3", "--from-tool", "1"}, 2, "give one of"},
        {"--show alone", {"dnc", mill, "--show"}, 2, "go with --from-line"},
    };
    for (const auto &rc : cases) {
        SCOPED_TRACE(rc.name);
        const Outcome run = c.Run(rc.command);
        EXPECT_EQ(run.status, rc.status) << Describe(run);
        EXPECT_NE(run.err.find(rc.saying), std::string::npos) << run.err;
    }
    EXPECT_EQ(c.Sim().CurrentStats().framesReceived, 0u);
    EXPECT_FALSE(clitest::FileExists(c.CapturePath()));
}

// A run that the controller ends part-way says where it stopped and how to
// go on; the offered restart then sends the rest.
TEST(DncRestart, AStoppedRunOffersTheLineAndTheToolChangeBeforeIt) {
    ncsim::Options options;
    options.abnormalAtBlock = 2;
    options.abnormalCode = 9;
    Controller c(Transport::kUdp, options, true);
    std::vector<std::string> lines(restart_cases::kMill.begin(), restart_cases::kMill.begin() + 13);  // to "N30 T2 M06"
    for (int i = 0; i < 300; ++i) lines.push_back("X" + std::to_string(i));  // four blocks
    lines.push_back("M30");
    lines.push_back("%");
    const std::string program = Join(lines, "\r\n");
    // Block 1 (bytes 0..511) is taken; the line holding byte 512 is where
    // the run stopped.
    size_t line = 0, offset = 0;
    while (offset + lines[line].size() + 2 <= 512) offset += lines[line++].size() + 2;
    const std::string stoppedAt = std::to_string(line + 1);
    const std::string file = c.Local("STOP.NC", program);

    const Outcome run = c.Run({"dnc", file});
    EXPECT_EQ(run.status, 5) << Describe(run);
    EXPECT_NE(run.err.find("up to line " + stoppedAt + ";"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("dncctl dnc " + file + " --from-line " + stoppedAt +
                           ", or --from-tool 2 (the tool change on line 13)"),
              std::string::npos)
        << run.err;
}

}  // namespace
