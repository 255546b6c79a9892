#include "nccmd/restart_stream.h"

#include <algorithm>
#include <climits>

namespace nccmd {

namespace {

// The lines of the program's opening: a first line that starts with '%',
// and the program-number line (O or ':' and a number) after it, past blank
// and comment-only lines. Returns how many lines the opening spans.
size_t OpeningLineCount(std::string_view program, const std::vector<ProgramLine> &lines) {
    size_t count = 0;
    if (!lines.empty() && LineText(program, lines[0]).starts_with('%')) count = 1;
    for (size_t n = count; n < lines.size(); ++n) {
        const NcBlock block = ParseNcBlock(LineText(program, lines[n]));
        if (!block.problem.empty() || block.optional) break;
        if (block.words.empty()) continue;
        if (block.words[0].letter == 'O') return n + 1;
        break;
    }
    return count;
}

bool AllBlank(const std::vector<std::string> &lines) {
    for (const std::string &line : lines) {
        if (line.find_first_not_of(" \t\r\v\f") != std::string::npos) return false;
    }
    return true;
}

// Why a preamble line cannot be sent, "" when it can.
std::string PreambleLineProblem(const std::string &line) {
    if (line.find('%') != std::string::npos) return "a '%' there would end the program on the controller";
    if (const std::string why = NotTextReason(line); !why.empty()) return why;
    if (line.find_first_of("\r\n") != std::string::npos) return "it holds a line break";
    return "";
}

}  // namespace

size_t RestartPlan::ProgramOffsetOf(size_t streamOffset) const {
    if (streamOffset < openingBytes) return streamOffset;
    if (streamOffset < openingBytes + preambleBytes) return programOffset;
    return programOffset + (streamOffset - openingBytes - preambleBytes);
}

RestartPlan PlanRestart(std::string_view program, const RestartRequest &request) {
    RestartPlan plan;
    auto refuse = [&plan](RestartError error, std::string message) {
        plan.error = error;
        plan.message = std::move(message);
        plan.stream.clear();
        plan.openingBytes = plan.preambleBytes = 0;
        return plan;
    };
    if (const std::string why = NotTextReason(program); !why.empty()) {
        return refuse(RestartError::kNotText, "not a text program: " + why);
    }
    const std::vector<ProgramLine> lines = SplitProgramLines(program);
    plan.lineCount = lines.size();
    plan.toolChanges = FindToolChanges(program, lines);
    const std::string count = std::to_string(request.number);

    switch (request.from) {
    case RestartFrom::kLine:
        if (request.number < 1) return refuse(RestartError::kNoSuchLine, "lines are numbered from 1");
        if (static_cast<unsigned long long>(request.number) > lines.size()) {
            return refuse(RestartError::kNoSuchLine, "line " + count + " is past the program's end (it has " +
                                                         std::to_string(lines.size()) + " lines)");
        }
        plan.line = static_cast<size_t>(request.number);
        break;
    case RestartFrom::kToolChange:
        if (request.number < 1 || static_cast<unsigned long long>(request.number) > plan.toolChanges.size()) {
            return refuse(RestartError::kNoSuchToolChange,
                          "the program has no tool change " + count + " (it has " +
                              std::to_string(plan.toolChanges.size()) + ", lines with M06)");
        }
        plan.line = plan.toolChanges[static_cast<size_t>(request.number) - 1].line;
        break;
    case RestartFrom::kBlockNumber: {
        const std::vector<size_t> found = LinesWithBlockNumber(program, lines, request.number);
        if (found.empty()) return refuse(RestartError::kNoSuchBlock, "the program has no block N" + count);
        if (found.size() > 1) {
            std::string where;
            for (size_t line : found) where += (where.empty() ? "" : ", ") + std::to_string(line);
            return refuse(RestartError::kBlockNumberRepeats,
                          "block N" + count + " is on several lines (" + where + "): choose one by its line number");
        }
        plan.line = found.front();
        break;
    }
    }

    const size_t restartIndex = plan.line - 1;
    ModalScan scan = ScanModalState(program, lines, restartIndex);
    plan.state = scan.state;
    plan.warnings = std::move(scan.warnings);
    const RestartLineFacts facts = FactsOfLine(LineText(program, lines[restartIndex]));
    plan.computedPreamble = PreambleLines(plan.state, facts);
    plan.toolInUse = ToolInUse(plan.state, facts);
    if (facts.toolChange && !plan.state.tool.empty()) {
        plan.notes.push_back("line " + std::to_string(plan.line) +
                             " changes the tool: the preamble leaves the tool, spindle and coolant to it");
    }
    if (plan.toolInUse && plan.state.tool == "?") {
        plan.notes.push_back("the tool in use is not known (the tool change on line " +
                             std::to_string(plan.state.toolChangeLine) + " names no T word): put it in the preamble");
    }

    plan.preamble = request.preamble ? *request.preamble : plan.computedPreamble;
    for (size_t i = 0; i < plan.preamble.size(); ++i) {
        if (const std::string why = PreambleLineProblem(plan.preamble[i]); !why.empty()) {
            return refuse(RestartError::kBadPreamble, "preamble line " + std::to_string(i + 1) + ": " + why);
        }
    }
    const size_t wholeOpening = OpeningLineCount(program, lines);
    const size_t opening = std::min(wholeOpening, restartIndex);
    const bool blank = AllBlank(plan.preamble);
    if (!blank && restartIndex < wholeOpening) {
        return refuse(RestartError::kBadPreamble, "line " + std::to_string(plan.line) +
                                                      " is in the program's opening: a preamble there would "
                                                      "come before its program number");
    }
    if (blank && plan.toolInUse && !request.emptyPreambleConfirmed) {
        const std::string tool = plan.state.tool == "?" ? "a tool" : "T" + plan.state.tool;
        return refuse(RestartError::kEmptyPreamble,
                      "the preamble is empty, but " + tool + " is in use from the tool change on line " +
                          std::to_string(plan.state.toolChangeLine) + "; the rest of the program expects it");
    }

    plan.lineEnding = ProgramLineEnding(program, lines);
    std::string preambleText;
    for (const std::string &line : plan.preamble) preambleText += line + plan.lineEnding;
    plan.openingBytes = opening > 0 ? lines[opening - 1].End() : 0;
    plan.preambleBytes = preambleText.size();
    plan.programOffset = lines[restartIndex].offset;
    const size_t size = plan.openingBytes + plan.preambleBytes + (program.size() - plan.programOffset);
    if (size > size_t(INT32_MAX)) return refuse(RestartError::kTooLarge, "the restart stream is larger than 2 GiB");
    plan.stream.reserve(size);
    plan.stream.append(program.substr(0, plan.openingBytes));
    plan.stream.append(preambleText);
    plan.stream.append(program.substr(plan.programOffset));
    return plan;
}

ResumePoint ResumePointAt(std::string_view program, size_t programOffset) {
    ResumePoint point;
    if (programOffset >= program.size()) return point;
    const std::vector<ProgramLine> lines = SplitProgramLines(program);
    point.line = LineOfOffset(lines, programOffset);
    const std::vector<ToolChange> changes = FindToolChanges(program, lines);
    for (size_t i = 0; i < changes.size() && changes[i].line <= point.line; ++i) {
        point.toolChange = i + 1;
        point.toolChangeLine = changes[i].line;
    }
    return point;
}

}  // namespace nccmd
