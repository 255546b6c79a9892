// The restart of a DNC run from a program line: the restart line found, the
// modal state read from the lines before it, the preamble and the stream
// built from them, and the refusals that leave nothing to send.
#include "nccmd/restart_stream.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "tests/nccmd/restart_cases.h"

namespace {

using nccmd::PlanRestart;
using nccmd::RestartError;
using nccmd::RestartFrom;
using nccmd::RestartRequest;
using restart_cases::Join;

RestartRequest From(RestartFrom from, long long number) {
    RestartRequest request;
    request.from = from;
    request.number = number;
    return request;
}

TEST(RestartStream, TableOfProgramsAndRestartPoints) {
    for (const restart_cases::Case &c : restart_cases::Cases()) {
        SCOPED_TRACE(c.name);
        const nccmd::RestartPlan plan = PlanRestart(c.program, From(c.from, c.number));
        ASSERT_TRUE(plan.Ok()) << plan.message;
        EXPECT_EQ(plan.line, c.line);
        EXPECT_EQ(plan.computedPreamble, c.preamble);
        EXPECT_EQ(plan.preamble, c.preamble);
        EXPECT_EQ(plan.stream, c.stream);
        const std::string ending = c.program.find("\r\n") != std::string::npos ? "\r\n" : "\n";
        EXPECT_EQ(plan.PreambleText(), Join(c.preamble, ending));
        EXPECT_TRUE(plan.warnings.empty()) << plan.warnings.front().line << ": " << plan.warnings.front().reason;
    }
}

TEST(RestartStream, ToolChangesAreListedWithTheirTools) {
    const std::string mill = Join(restart_cases::kMill, "\r\n");
    const nccmd::RestartPlan plan = PlanRestart(mill, From(RestartFrom::kLine, 3));
    ASSERT_EQ(plan.toolChanges.size(), 2u);
    EXPECT_EQ(plan.toolChanges[0].line, 5u);
    EXPECT_EQ(plan.toolChanges[0].tool, "1");
    EXPECT_EQ(plan.toolChanges[1].line, 13u);
    EXPECT_EQ(plan.toolChanges[1].tool, "2");
    EXPECT_EQ(plan.lineCount, 21u);
}

// Every line the scan does not wholly understand is listed with its reason;
// the understood words of such a line still count where they can.
TEST(RestartStream, LinesTheScanDoesNotUnderstandAreListed) {
    const std::vector<std::string> lines = {
        "%",                        // 1
        "O2000",                    // 2
        "#100=5",                   // 3
        "G43 H1 Z50.",              // 4
        "M98 P1000",                // 5
        "IF [#100 GT 3] GOTO 10",   // 6
        "/M08",                     // 7
        "G54.1 P3",                 // 8
        "TOOL CALL 5 Z S2000",      // 9
        "G65 P9000 A1",             // 10
        "G81 R1. Z-5. F80",         // 11
        "M19",                      // 12
        "G0 X0 (WARM UP ; FAST)",   // 13
        "M6",                       // 14
        "X1 \xD6\xD0",              // 15 GBK outside a comment
        "X2",                       // 16
    };
    const nccmd::RestartPlan plan = PlanRestart(Join(lines, "\n"), From(RestartFrom::kLine, 16));
    ASSERT_TRUE(plan.Ok()) << plan.message;
    const std::vector<std::pair<size_t, std::string>> expected = {
        {3, "macro statement or expression"},
        {4, "G43 not restored"},
        {5, "subprogram call M98 not followed"},
        {6, "macro statement or expression"},
        {7, "optional block ('/'): read as if it ran"},
        {8, "G54.1 not restored"},
        {9, "not understood"},
        {10, "macro call G65 not followed"},
        {11, "G81 not restored"},
        {12, "M19 not restored"},
        {14, "tool change without a T word before it: tool unknown"},
        {15, "not understood"},
    };
    ASSERT_EQ(plan.warnings.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(plan.warnings[i].line, expected[i].first);
        EXPECT_EQ(plan.warnings[i].text, lines[expected[i].first - 1]);
        EXPECT_EQ(plan.warnings[i].reason, expected[i].second) << "line " << expected[i].first;
    }
    // The optional block's coolant and the canned cycle's feed count; the
    // unknown tool is said, not guessed.
    EXPECT_EQ(plan.preamble, (std::vector<std::string>{"M08", "G00 F80"}));
    EXPECT_TRUE(plan.toolInUse);
    ASSERT_EQ(plan.notes.size(), 1u);
    EXPECT_NE(plan.notes[0].find("line 14"), std::string::npos) << plan.notes[0];
}

TEST(RestartStream, TheOperatorsPreambleIsSentAsGivenWithTheProgramsLineEnding) {
    const std::string mill = Join(restart_cases::kMill, "\n");
    RestartRequest request = From(RestartFrom::kLine, 11);
    request.preamble = std::vector<std::string>{"T1 M06", "G0 Z50. (SAFE)", "G21 G90 G54 S1200 M03"};
    const nccmd::RestartPlan plan = PlanRestart(mill, request);
    ASSERT_TRUE(plan.Ok()) << plan.message;
    EXPECT_EQ(plan.stream, "%\nO0012 (BRACKET)\nT1 M06\nG0 Z50. (SAFE)\nG21 G90 G54 S1200 M03\n" +
                               Join({restart_cases::kMill.begin() + 10, restart_cases::kMill.end()}, "\n"));
    EXPECT_EQ(plan.computedPreamble.size(), 6u);  // still there to compare with
}

TEST(RestartStream, BadInputIsRefusedWithNothingToSend) {
    const std::string mill = Join(restart_cases::kMill, "\r\n");
    auto with = [](RestartRequest request, std::vector<std::string> preamble) {
        request.preamble = std::move(preamble);
        return request;
    };
    const struct {
        const char *name;
        std::string program;
        RestartRequest request;
        RestartError error;
        const char *saying;
    } cases[] = {
        {"line 0", mill, From(RestartFrom::kLine, 0), RestartError::kNoSuchLine, "numbered from 1"},
        {"line past the end", mill, From(RestartFrom::kLine, 22), RestartError::kNoSuchLine, "has 21 lines"},
        {"no such tool change", mill, From(RestartFrom::kToolChange, 3), RestartError::kNoSuchToolChange,
         "no tool change 3 (it has 2"},
        {"tool change 0", mill, From(RestartFrom::kToolChange, 0), RestartError::kNoSuchToolChange, "no tool change 0"},
        {"no tool change at all", Join(restart_cases::kNumbered, "\n"), From(RestartFrom::kToolChange, 2),
         RestartError::kNoSuchToolChange, "it has 1"},
        {"no such block", mill, From(RestartFrom::kBlockNumber, 99), RestartError::kNoSuchBlock, "no block N99"},
        {"block number twice", "N10 G0 X0\nN20 X1\nN10 X2\n", From(RestartFrom::kBlockNumber, 10),
         RestartError::kBlockNumberRepeats, "(1, 3)"},
        {"empty preamble, tool in use", mill, with(From(RestartFrom::kLine, 11), {}), RestartError::kEmptyPreamble,
         "T1 is in use from the tool change on line 5"},
        {"blank preamble, tool in use", mill, with(From(RestartFrom::kLine, 11), {"", "  "}),
         RestartError::kEmptyPreamble, "preamble is empty"},
        {"'%' in the preamble", mill, with(From(RestartFrom::kLine, 11), {"T1 M06", "%"}), RestartError::kBadPreamble,
         "preamble line 2: a '%'"},
        {"control byte in the preamble", mill, with(From(RestartFrom::kLine, 11), {"T1 M06\x01"}),
         RestartError::kBadPreamble, "control byte 0x01"},
        {"preamble inside the opening", mill, with(From(RestartFrom::kLine, 2), {"G90"}), RestartError::kBadPreamble,
         "before its program number"},
        {"not text", std::string("%\r\nO1\r\nG0\0X1\r\n", 15), From(RestartFrom::kLine, 2), RestartError::kNotText,
         "control byte 0x00 at offset 9"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const nccmd::RestartPlan plan = PlanRestart(c.program, c.request);
        EXPECT_EQ(plan.error, c.error);
        EXPECT_NE(plan.message.find(c.saying), std::string::npos) << plan.message;
        EXPECT_TRUE(plan.stream.empty());
        EXPECT_TRUE(plan.PreambleText().empty());
    }
}

// An empty preamble the operator confirmed, and one where no tool is in
// use, are sent: the program's opening, then the program from the line.
TEST(RestartStream, AnEmptyPreambleGoesWhenConfirmedOrWhenNoToolIsInUse) {
    const std::string mill = Join(restart_cases::kMill, "\r\n");
    RestartRequest request = From(RestartFrom::kLine, 11);
    request.preamble = std::vector<std::string>{};
    request.emptyPreambleConfirmed = true;
    nccmd::RestartPlan plan = PlanRestart(mill, request);
    ASSERT_TRUE(plan.Ok()) << plan.message;
    EXPECT_EQ(plan.stream, "%\r\nO0012 (BRACKET)\r\n" +
                               Join({restart_cases::kMill.begin() + 10, restart_cases::kMill.end()}, "\r\n"));

    request.emptyPreambleConfirmed = false;
    request.number = 4;  // before the first tool change
    plan = PlanRestart(mill, request);
    ASSERT_TRUE(plan.Ok()) << plan.message;
    EXPECT_FALSE(plan.toolInUse);
    EXPECT_EQ(plan.stream.substr(0, 25), "%\r\nO0012 (BRACKET)\r\nN10 G");
}

// After a stopped run: the line holding the first byte the controller did
// not take, and the tool change at or before it; stream offsets of a
// restart run map back into the program.
TEST(RestartStream, WhereAStoppedRunCanGoOn) {
    const std::string mill = Join(restart_cases::kMill, "\r\n");
    const auto offsetOfLine = [&](size_t line) {
        size_t offset = 0;
        for (size_t i = 0; i + 1 < line; ++i) offset += restart_cases::kMill[i].size() + 2;
        return offset;
    };
    const struct {
        size_t offset;
        size_t line, toolChange, toolChangeLine;
    } cases[] = {
        {0, 1, 0, 0},
        {offsetOfLine(5) - 1, 4, 0, 0},  // the CR LF ending line 4
        {offsetOfLine(5), 5, 1, 5},
        {offsetOfLine(15) + 3, 15, 2, 13},
        {mill.size() - 1, 21, 2, 13},
        {mill.size(), 0, 0, 0},  // all taken
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset));
        const nccmd::ResumePoint point = nccmd::ResumePointAt(mill, c.offset);
        EXPECT_EQ(point.line, c.line);
        EXPECT_EQ(point.toolChange, c.toolChange);
        EXPECT_EQ(point.toolChangeLine, c.toolChangeLine);
    }

    const nccmd::RestartPlan plan = PlanRestart(mill, From(RestartFrom::kLine, 15));
    ASSERT_TRUE(plan.Ok());
    EXPECT_EQ(plan.ProgramOffsetOf(3), 3u);
    EXPECT_EQ(plan.ProgramOffsetOf(plan.openingBytes + 1), offsetOfLine(15));
    EXPECT_EQ(plan.ProgramOffsetOf(plan.openingBytes + plan.preambleBytes + 7), offsetOfLine(15) + 7);
    EXPECT_EQ(plan.stream.substr(plan.openingBytes + plan.preambleBytes), mill.substr(offsetOfLine(15)));
}

TEST(ProgramLines, LinesKeepTheirEndings) {
    const std::string text = "%\r\nG0\rX1\nM30";  // a lone CR is part of its line
    const std::vector<nccmd::ProgramLine> lines = nccmd::SplitProgramLines(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(nccmd::LineText(text, lines[0]), "%");
    EXPECT_EQ(lines[0].endingLength, 2u);
    EXPECT_EQ(nccmd::LineText(text, lines[1]), "G0\rX1");
    EXPECT_EQ(lines[1].endingLength, 1u);
    EXPECT_EQ(nccmd::LineText(text, lines[2]), "M30");
    EXPECT_EQ(lines[2].endingLength, 0u);
    EXPECT_EQ(nccmd::ProgramLineEnding(text, lines), "\r\n");
    EXPECT_TRUE(nccmd::SplitProgramLines("").empty());
    EXPECT_EQ(nccmd::SplitProgramLines("G0\n").size(), 1u);
    EXPECT_EQ(nccmd::ProgramLineEnding("G0", nccmd::SplitProgramLines("G0")), "\r\n");
}

}  // namespace

namespace {

// Programs of random words, junk and line endings, every restart point:
// a plan is refused or is exactly opening + preamble + the program's tail.
TEST(RestartStream, AnyProgramGivesAWellFormedPlanOrARefusal) {
    const char *pieces[] = {"%", "O12", "G1", "G01", "X-1.5", "T3", "M6", "M06", "S900", "M3", "F.5", "N10", "N20",
                            "#1=2", "(C ; D)", ";X", "/", "G54.1", "M98 P1", "IF[", "\xB0\xA1", " ", "\t", "\r",
                            "\r\n", "\n", "\n", ""};
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int round = 0; round < 300; ++round) {
        std::string program;
        const int count = int(next() % 40);
        for (int i = 0; i < count; ++i) program += pieces[next() % std::size(pieces)];
        const size_t lines = nccmd::SplitProgramLines(program).size();
        for (RestartFrom from : {RestartFrom::kLine, RestartFrom::kToolChange, RestartFrom::kBlockNumber}) {
            for (long long n = 0; n <= static_cast<long long>(lines) + 1; ++n) {
                const nccmd::RestartPlan plan = PlanRestart(program, From(from, from == RestartFrom::kBlockNumber ? n * 10 : n));
                if (!plan.Ok()) {
                    EXPECT_TRUE(plan.stream.empty());
                    continue;
                }
                ASSERT_GE(plan.line, 1u);
                ASSERT_LE(plan.line, lines);
                EXPECT_EQ(plan.stream.substr(0, plan.openingBytes), program.substr(0, plan.openingBytes));
                EXPECT_EQ(plan.stream.substr(plan.openingBytes + plan.preambleBytes), program.substr(plan.programOffset));
                EXPECT_LE(plan.openingBytes, plan.programOffset);
            }
        }
    }
}

}  // namespace
