// Restarting a DNC run from a line of the program: the program's opening
// (its '%' line and program-number line), a preamble that puts back the
// modal state the skipped lines set up, then the program from the restart
// line to its end. The stream goes through RunDncStream like any program, so
// a leading '%' is sent as CR there and nowhere else.
//
// The plan is computed without a controller: the window shows it in its
// dialog and dncctl prints it, and exactly the plan's stream is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nccmd/preamble_scan.h"
#include "nccmd/program_lines.h"

namespace nccmd {

enum class RestartFrom {
    kLine,        // a line number, 1 for the first line (the '%' line where there is one)
    kToolChange,  // the Nth tool change (M06), 1 for the first
    kBlockNumber, // the block whose N word is this number
};

struct RestartRequest {
    RestartFrom from = RestartFrom::kLine;
    long long number = 0;
    // The preamble to send, one entry a line without its ending; when absent
    // the computed one is sent.
    std::optional<std::vector<std::string>> preamble;
    // The operator was asked and wants no preamble although a tool is in use.
    bool emptyPreambleConfirmed = false;
};

enum class RestartError {
    kNone,
    kNotText,             // the program holds control bytes: not an NC program
    kNoSuchLine,          // line 0, or past the program's end
    kNoSuchToolChange,
    kNoSuchBlock,
    kBlockNumberRepeats,  // the N word names several lines: say which by line number
    kEmptyPreamble,       // a tool is in use and the given preamble is empty
    kBadPreamble,         // the given preamble cannot be sent as it is
    kTooLarge,            // the stream is beyond the controller's 2 GiB
};

struct RestartPlan {
    RestartError error = RestartError::kNone;
    std::string message;  // why the restart is refused; "" when it is not

    size_t line = 0;       // the restart line, 1-based
    size_t lineCount = 0;
    std::vector<ToolChange> toolChanges;   // of the whole program, for choosing a restart point
    ModalState state;                      // before the restart line
    std::vector<ScanWarning> warnings;     // lines before the restart line the scan did not understand
    std::vector<std::string> notes;        // what the computed preamble leaves out, and why
    std::vector<std::string> computedPreamble;
    std::vector<std::string> preamble;     // as sent
    bool toolInUse = false;

    std::string lineEnding;    // of the preamble's lines: the program's own
    std::string stream;        // opening + preamble + the program from `line`
    size_t openingBytes = 0;
    size_t preambleBytes = 0;
    size_t programOffset = 0;  // of the restart line in the program

    bool Ok() const { return error == RestartError::kNone; }
    // The preamble exactly as it is sent, line endings included.
    std::string_view PreambleText() const { return std::string_view(stream).substr(openingBytes, preambleBytes); }
    // Where a byte of the stream comes from in the program: bytes of the
    // opening are their own, bytes of the preamble count as the restart line.
    size_t ProgramOffsetOf(size_t streamOffset) const;
};

RestartPlan PlanRestart(std::string_view program, const RestartRequest &request);

// Where a stopped run can go on: the line holding the first byte the
// controller did not take, and the last tool change at or before it.
struct ResumePoint {
    size_t line = 0;            // 1-based; 0 when the whole program was taken
    size_t toolChange = 0;      // its number for kToolChange (1-based); 0 when none
    size_t toolChangeLine = 0;
};
ResumePoint ResumePointAt(std::string_view program, size_t programOffset);

}  // namespace nccmd
