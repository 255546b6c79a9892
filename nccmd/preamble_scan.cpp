#include "nccmd/preamble_scan.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace nccmd {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The code of a G or M word in tenths (G1 -> 10, G54.1 -> 541), so that G1,
// G01 and G1.0 are one code; -1 when the number is not one.
int CodeTenths(const std::string &number) {
    char *end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end == number.c_str() || value < 0 || value > 10000) return -1;
    return static_cast<int>(std::lround(value * 10));
}

std::string Code(char letter, int tenths) {
    std::string text(1, letter);
    const int whole = tenths / 10;
    if (whole < 10) text += '0';
    text += std::to_string(whole);
    if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
    return text;
}

// Reads a word's number: an optional sign, digits and at most one point,
// at least one digit; spaces may stand between the letter and the number.
bool ReadNumber(std::string_view text, size_t *i, std::string *number) {
    size_t j = *i;
    while (j < text.size() && IsBlank(text[j])) ++j;
    const size_t start = j;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    bool digits = false, point = false;
    for (; j < text.size(); ++j) {
        if (IsDigit(text[j])) {
            digits = true;
        } else if (text[j] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    *number = std::string(text.substr(start, j - start));
    *i = j;
    return true;
}

void AddReason(std::string *reasons, const std::string &reason) {
    if (reasons->find(reason) != std::string::npos) return;
    if (!reasons->empty()) *reasons += "; ";
    *reasons += reason;
}

// Applies one line's words to the state. Returns why the line is not wholly
// understood ("" when it is).
std::string Apply(const NcBlock &block, ModalState *state, size_t lineNumber) {
    std::string reasons;
    std::string notRestored;
    auto unrestored = [&](const std::string &code) { notRestored += (notRestored.empty() ? "" : ", ") + code; };
    // A T word on the line is the tool its M06 puts in, wherever it stands.
    for (const NcWord &w : block.words) {
        if (w.letter == 'T') state->selectedTool = w.number;
    }
    for (const NcWord &w : block.words) {
        const int code = CodeTenths(w.number);
        switch (w.letter) {
        case 'G':
            switch (code) {
            case 0: case 10: case 20: case 30: state->motion = Code('G', code); break;
            case 170: case 180: case 190: state->plane = Code('G', code); break;
            case 200: case 210: state->units = Code('G', code); break;
            case 900: case 910: state->distance = Code('G', code); break;
            case 540: case 550: case 560: case 570: case 580: case 590: state->workOffset = Code('G', code); break;
            // Dwell, reference return and the cancels of compensation and
            // canned cycles leave nothing to restore.
            case 40: case 280: case 400: case 490: case 800: break;
            case 650: case 660: case 661: AddReason(&reasons, "macro call " + Code('G', code) + " not followed"); break;
            default: unrestored(code < 0 ? "G" + w.number : Code('G', code)); break;
            }
            break;
        case 'M':
            switch (code) {
            case 0: case 10: case 20: case 300: break;  // stops and program end
            case 30: case 40: case 50: state->spindle = Code('M', code); break;
            case 60:
                state->tool = state->selectedTool.empty() ? "?" : state->selectedTool;
                state->toolChangeLine = lineNumber;
                state->selectedTool.clear();
                if (state->tool == "?") AddReason(&reasons, "tool change without a T word before it: tool unknown");
                break;
            case 70: state->mist = true; break;
            case 80: state->flood = true; break;
            case 90: state->mist = state->flood = false; break;
            case 980: AddReason(&reasons, "subprogram call M98 not followed"); break;
            case 990: AddReason(&reasons, "subprogram end M99"); break;
            default: unrestored(code < 0 ? "M" + w.number : Code('M', code)); break;
            }
            break;
        case 'S': state->spindleSpeed = w.number; break;
        case 'F': state->feed = w.number; break;
        default: break;  // N, O, T, and the axes and arguments: no modal state of their own here
        }
    }
    if (!notRestored.empty()) AddReason(&reasons, notRestored + " not restored");
    if (block.optional) AddReason(&reasons, "optional block ('/'): read as if it ran");
    return reasons;
}

}  // namespace

NcBlock ParseNcBlock(std::string_view text) {
    NcBlock block;
    size_t i = 0;
    bool first = true;
    while (i < text.size()) {
        const char c = text[i];
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        if (c == '(') {
            const size_t close = text.find(')', i);
            i = close == std::string_view::npos ? text.size() : close + 1;
            continue;
        }
        if (c == ';') break;  // end of block; the rest is a comment
        if (first && c == '%') {
            // The tape mark: a line of its own.
            i = text.size();
            continue;
        }
        if (first && c == '/') {
            block.optional = true;
            ++i;
            first = false;
            continue;
        }
        const char letter = first && c == ':' ? 'O' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!IsLetter(letter)) {
            const bool macro = text.find_first_of("#[]=") != std::string_view::npos;
            block.problem = macro ? "macro statement or expression" : "not understood";
            block.words.clear();
            return block;
        }
        size_t j = i + 1;
        NcWord word{letter, {}};
        if (!ReadNumber(text, &j, &word.number)) {
            const bool macro = text.find_first_of("#[]=") != std::string_view::npos;
            block.problem = macro ? "macro statement or expression" : "not understood";
            block.words.clear();
            return block;
        }
        block.words.push_back(word);
        i = j;
        first = false;
    }
    return block;
}

ModalScan ScanModalState(std::string_view program, const std::vector<ProgramLine> &lines, size_t count) {
    ModalScan scan;
    for (size_t n = 0; n < count && n < lines.size(); ++n) {
        const std::string_view text = LineText(program, lines[n]);
        const NcBlock block = ParseNcBlock(text);
        const std::string reason = block.problem.empty() ? Apply(block, &scan.state, n + 1) : block.problem;
        if (!reason.empty()) scan.warnings.push_back({n + 1, std::string(text), reason});
    }
    return scan;
}

RestartLineFacts FactsOfLine(std::string_view text) {
    RestartLineFacts facts;
    for (const NcWord &w : ParseNcBlock(text).words) {
        if (w.letter == 'M' && CodeTenths(w.number) == 60) facts.toolChange = true;
        if (w.letter == 'T') facts.namesTool = true;
    }
    return facts;
}

std::vector<ToolChange> FindToolChanges(std::string_view program, const std::vector<ProgramLine> &lines) {
    std::vector<ToolChange> changes;
    ModalState state;
    for (size_t n = 0; n < lines.size(); ++n) {
        const NcBlock block = ParseNcBlock(LineText(program, lines[n]));
        const size_t before = state.toolChangeLine;
        Apply(block, &state, n + 1);
        if (state.toolChangeLine != before) changes.push_back({n + 1, state.tool});
    }
    return changes;
}

std::vector<size_t> LinesWithBlockNumber(std::string_view program, const std::vector<ProgramLine> &lines,
                                         long long number) {
    std::vector<size_t> found;
    for (size_t n = 0; n < lines.size(); ++n) {
        const NcBlock block = ParseNcBlock(LineText(program, lines[n]));
        if (block.words.empty() || block.words[0].letter != 'N') continue;
        const std::string &digits = block.words[0].number;
        if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
        if (std::strtoll(digits.c_str(), nullptr, 10) == number) found.push_back(n + 1);
    }
    return found;
}

std::vector<std::string> PreambleLines(const ModalState &state, const RestartLineFacts &restartLine) {
    std::vector<std::string> lines;
    const bool ownToolChange = restartLine.toolChange;
    if (!ownToolChange && !state.tool.empty() && state.tool != "?") lines.push_back("T" + state.tool + " M06");
    // A preselected tool: the next M06 expects it.
    if (!state.selectedTool.empty() && !(ownToolChange && restartLine.namesTool)) {
        lines.push_back("T" + state.selectedTool);
    }
    std::string modes;
    for (const std::string *code : {&state.units, &state.plane, &state.distance, &state.workOffset}) {
        if (!code->empty()) modes += (modes.empty() ? "" : " ") + *code;
    }
    if (!modes.empty()) lines.push_back(modes);
    if (!ownToolChange) {
        const bool turning = state.spindle == "M03" || state.spindle == "M04";
        std::string spindle = state.spindleSpeed.empty() ? "" : "S" + state.spindleSpeed;
        if (turning) spindle += (spindle.empty() ? "" : " ") + state.spindle;
        if (!spindle.empty()) lines.push_back(spindle);
        if (state.mist) lines.push_back("M07");
        if (state.flood) lines.push_back("M08");
    }
    std::string motion = state.motion;
    if (!state.feed.empty()) motion += (motion.empty() ? "F" : " F") + state.feed;
    if (!motion.empty()) lines.push_back(motion);
    return lines;
}

bool ToolInUse(const ModalState &state, const RestartLineFacts &restartLine) {
    return !restartLine.toolChange && !state.tool.empty();
}

}  // namespace nccmd
