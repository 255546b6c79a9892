#include "nccmd/program_lines.h"

#include <algorithm>
#include <cstdio>

namespace nccmd {

std::vector<ProgramLine> SplitProgramLines(std::string_view program) {
    std::vector<ProgramLine> lines;
    size_t start = 0;
    while (start < program.size()) {
        const size_t lf = program.find('\n', start);
        ProgramLine line;
        line.offset = start;
        if (lf == std::string_view::npos) {
            line.length = program.size() - start;
        } else {
            const bool cr = lf > start && program[lf - 1] == '\r';
            line.length = lf - start - (cr ? 1 : 0);
            line.endingLength = cr ? 2 : 1;
        }
        lines.push_back(line);
        start = line.End();
    }
    return lines;
}

std::string ProgramLineEnding(std::string_view program, const std::vector<ProgramLine> &lines) {
    for (const ProgramLine &line : lines) {
        if (line.endingLength > 0) return std::string(program.substr(line.offset + line.length, line.endingLength));
    }
    return "\r\n";
}

std::string NotTextReason(std::string_view program) {
    for (size_t i = 0; i < program.size(); ++i) {
        const auto byte = static_cast<unsigned char>(program[i]);
        const bool control = byte < 0x20 || byte == 0x7F;
        if (control && byte != '\t' && byte != '\n' && byte != '\v' && byte != '\f' && byte != '\r') {
            char text[80];
            std::snprintf(text, sizeof text, "it holds the control byte 0x%02X at offset %zu", byte, i);
            return text;
        }
    }
    return "";
}

size_t LineOfOffset(const std::vector<ProgramLine> &lines, size_t offset) {
    const auto after = std::upper_bound(lines.begin(), lines.end(), offset,
                                        [](size_t value, const ProgramLine &line) { return value < line.End(); });
    return static_cast<size_t>(after - lines.begin()) + 1;
}

}  // namespace nccmd
