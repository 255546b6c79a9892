// Reads the modal state an ISO-style controller keeps (units, distance mode,
// plane, work offset, tool, spindle, coolant, feed, motion mode) from the
// lines of a program, so that a run restarted in the middle can be given the
// state the skipped lines would have set up. Only word addresses are read
// (a letter and a number, comments in parentheses or after ';'); a line
// with anything else, or with a code whose state is not kept here, is
// reported as a warning with its reason and never passed over in silence.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "nccmd/program_lines.h"

namespace nccmd {

// One word of a block, its number as written ("T02", "F250.").
struct NcWord {
    char letter = 0;  // upper case
    std::string number;
};

struct NcBlock {
    std::vector<NcWord> words;
    bool optional = false;  // starts with '/': the block delete switch decides
    std::string problem;    // not "": the line cannot be read as words, and why
};

// The words of one line.
NcBlock ParseNcBlock(std::string_view text);

// Codes as the preamble writes them ("G21", "M03"); "" while no line has
// set the state.
struct ModalState {
    std::string units;       // G20 / G21
    std::string distance;    // G90 / G91
    std::string plane;       // G17 / G18 / G19
    std::string workOffset;  // G54 .. G59
    std::string motion;      // G00 / G01 / G02 / G03
    std::string tool;        // number of the tool put in by the last tool change; "?" when it named none
    size_t toolChangeLine = 0;
    std::string selectedTool;  // a T word since the last tool change (a preselection)
    std::string spindleSpeed;  // the S word's number
    std::string spindle;       // M03 / M04 / M05
    bool mist = false;         // M07
    bool flood = false;        // M08
    std::string feed;          // the F word's number
};

struct ScanWarning {
    size_t line = 0;  // 1-based
    std::string text;
    std::string reason;
};

struct ModalScan {
    ModalState state;
    std::vector<ScanWarning> warnings;
};

// The state after lines 1 .. count of the program, with a warning for every
// line among them that the scan did not wholly understand.
ModalScan ScanModalState(std::string_view program, const std::vector<ProgramLine> &lines, size_t count);

// A line with M06 (the tool change), and the tool it puts in: the T word on
// the line or the one selected before it; "?" when there is none.
struct ToolChange {
    size_t line = 0;
    std::string tool;
};
std::vector<ToolChange> FindToolChanges(std::string_view program, const std::vector<ProgramLine> &lines);

// The 1-based lines whose block number (the N word first in the block) is
// `number`.
std::vector<size_t> LinesWithBlockNumber(std::string_view program, const std::vector<ProgramLine> &lines,
                                         long long number);

// What the restart line itself does, as far as the preamble cares.
struct RestartLineFacts {
    bool toolChange = false;  // it has M06: it sets up the tool, spindle and coolant itself
    bool namesTool = false;   // it has a T word
};
RestartLineFacts FactsOfLine(std::string_view text);

// The preamble's lines, without endings, tool change first: the tool (and a
// tool preselected after it), units / plane / distance / work offset,
// spindle, coolant, then motion mode and feed. Tool, spindle and coolant are
// left to a restart line that changes the tool itself, except a preselected
// tool it would otherwise not find.
std::vector<std::string> PreambleLines(const ModalState &state, const RestartLineFacts &restartLine);

// True when a tool is in the spindle that the restart line does not change:
// then an empty preamble would run the rest of the program with whatever
// tool the machine holds.
bool ToolInUse(const ModalState &state, const RestartLineFacts &restartLine);

}  // namespace nccmd
