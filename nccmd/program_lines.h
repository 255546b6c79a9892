// An NC program as the lines an editor shows: numbered from 1, each with the
// bytes that end it (CR LF, LF, or none for a last line without an ending),
// so a program can be cut at a line and put back together byte for byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nccmd {

struct ProgramLine {
    size_t offset = 0;        // first byte of the line in the program
    size_t length = 0;        // the line's text, without its ending
    size_t endingLength = 0;  // 2 for CR LF, 1 for LF, 0 for a last line without one

    size_t End() const { return offset + length + endingLength; }
};

// The program's lines in order. Only LF ends a line (a CR just before it
// belongs to the ending); an empty program has no lines, and bytes after the
// last LF are one more line.
std::vector<ProgramLine> SplitProgramLines(std::string_view program);

inline std::string_view LineText(std::string_view program, const ProgramLine &line) {
    return program.substr(line.offset, line.length);
}

// The ending that lines added to the program get: that of its first ended
// line, CR LF when no line has an ending.
std::string ProgramLineEnding(std::string_view program, const std::vector<ProgramLine> &lines);

// "" for a text program, else why it is not one. A program is text when it
// holds no control byte other than TAB, LF, VT, FF and CR (bytes from 0x80
// up are allowed: comments in GBK).
std::string NotTextReason(std::string_view program);

// The 1-based number of the line that holds byte `offset`; the line count
// + 1 for an offset at or past the end.
size_t LineOfOffset(const std::vector<ProgramLine> &lines, size_t offset);

}  // namespace nccmd
