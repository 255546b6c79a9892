#include "cli/dnc_restart.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/commands.h"
#include "cli/local_folder.h"

namespace dncctl {

namespace {

// A program or preamble file, whole: only a regular file is read (a FIFO or
// a device is refused without waiting), and no more than the controller's
// signed 32-bit sizes hold.
bool ReadText(const std::string &path, std::string *text, std::string *error) {
    RegularFile file;
    if (!OpenRegularFile(path, &file, error)) return false;
    if (file.size > uint64_t(INT32_MAX)) {
        *error = path + " is too large for the controller (2 GiB at most)";
        return false;
    }
    text->resize(file.size);
    const int64_t got = ReadFully(file.file, text->data(), text->size());
    if (got < 0 || size_t(got) != text->size()) {
        *error = "cannot read " + path + " to its end (did it change?)";
        return false;
    }
    return true;
}

std::string Sha256Of(std::string_view bytes) { return journal::Sha256Hex(bytes.data(), bytes.size()); }

std::string Where(const nccmd::RestartPlan &plan) {
    std::string where = "line " + std::to_string(plan.line) + " of " + std::to_string(plan.lineCount);
    for (size_t i = 0; i < plan.toolChanges.size(); ++i) {
        if (plan.toolChanges[i].line == plan.line) {
            where += " (tool change " + std::to_string(i + 1) + ", T" + plan.toolChanges[i].tool + ")";
        }
    }
    return where;
}

// The plan as the operator reads it before anything is sent. `prefix`
// starts each line ("dncctl: " on stderr).
void PrintPlan(FILE *out, const char *prefix, const std::string &path, const nccmd::RestartPlan &plan,
               bool computed) {
    std::fprintf(out, "%srestart %s from %s\n", prefix, path.c_str(), Where(plan).c_str());
    for (const nccmd::ScanWarning &w : plan.warnings) {
        std::fprintf(out, "%swarning: line %zu (%s): %s\n", prefix, w.line,
                     w.text.c_str(), w.reason.c_str());
    }
    for (const std::string &note : plan.notes) std::fprintf(out, "%snote: %s\n", prefix, note.c_str());
    std::fprintf(out, "%spreamble (%s, %zu lines), sent after the program's opening:\n", prefix,
                 computed ? "computed" : "from --preamble", plan.preamble.size());
    for (const std::string &line : plan.preamble) std::fprintf(out, "  %s\n", line.c_str());
}

int Refuse(const nccmd::RestartPlan &plan, const std::string &path) {
    std::fprintf(stderr, "dncctl: cannot restart %s: %s; nothing was sent\n", path.c_str(), plan.message.c_str());
    return plan.error == nccmd::RestartError::kNotText ? kExitLocal : kExitUsage;
}

// Reads the program and the preamble file and plans; the exit status of a
// refusal, or -1.
int PlanFromOptions(const CliOptions &o, std::string *program, nccmd::RestartPlan *plan) {
    const std::string &path = o.arguments[0];
    std::string error;
    if (!ReadText(path, program, &error)) {
        std::fprintf(stderr, "dncctl: %s\n", error.c_str());
        return kExitLocal;
    }
    nccmd::RestartRequest request;
    request.from = *o.restart.from;
    request.number = o.restart.number;
    if (!o.restart.preambleFile.empty()) {
        std::string text;
        if (!ReadText(o.restart.preambleFile, &text, &error)) {
            std::fprintf(stderr, "dncctl: %s\n", error.c_str());
            return kExitLocal;
        }
        std::vector<std::string> lines;
        for (const nccmd::ProgramLine &line : nccmd::SplitProgramLines(text)) {
            lines.emplace_back(nccmd::LineText(text, line));
        }
        request.preamble = std::move(lines);
    }
    *plan = nccmd::PlanRestart(*program, request);
    return plan->Ok() ? -1 : Refuse(*plan, path);
}

}  // namespace

int RestartRun::Prepare(const CliOptions &o) {
    if (const int status = PlanFromOptions(o, &program_, &plan_); status >= 0) return status;
    PrintPlan(stderr, "dncctl: ", o.arguments[0], plan_, o.restart.preambleFile.empty());
    preambleSha256_ = Sha256Of(plan_.PreambleText());
    return -1;
}

bool RestartRun::Read(uint8_t *buffer, size_t n) {
    const size_t at = size_t(sent_.Bytes());
    if (n > plan_.stream.size() - at) return false;
    std::memcpy(buffer, plan_.stream.data() + at, n);
    sent_.Add(buffer, n);
    return true;
}

std::string RestartRun::JournalNote() const {
    return "restart from line " + std::to_string(plan_.line) + ", preamble sha256 " + preambleSha256_;
}

int ShowRestart(const CliOptions &o) {
    std::string program;
    nccmd::RestartPlan plan;
    if (const int status = PlanFromOptions(o, &program, &plan); status >= 0) return status;
    PrintPlan(stdout, "", o.arguments[0], plan, o.restart.preambleFile.empty());
    const std::vector<nccmd::ProgramLine> lines = nccmd::SplitProgramLines(plan.stream);
    const size_t ahead = nccmd::LineOfOffset(lines, plan.openingBytes + plan.preambleBytes) - 1;
    const size_t shown = std::min(lines.size(), ahead + 10);
    std::printf("first %zu of the stream's %zu lines (lines end in %s):\n", shown, lines.size(),
                plan.lineEnding == "\r\n" ? "CR LF" : "LF");
    for (size_t i = 0; i < shown; ++i) std::printf("  %.*s\n", int(lines[i].length), plan.stream.data() + lines[i].offset);
    if (!plan.stream.empty() && plan.stream[0] == '%') std::printf("(the first '%%' goes to the controller as CR)\n");
    std::printf("nothing was sent\n");
    return std::fflush(stdout) == 0 ? kExitOk : kExitLocal;
}

void OfferResume(const std::string &path, const RestartRun *restart, uint64_t streamTaken) {
    std::string read;
    size_t programTaken = 0;
    if (restart != nullptr) {
        // Bytes of the opening and preamble leave the restart line to do.
        const nccmd::RestartPlan &plan = restart->Plan();
        programTaken = std::max(plan.ProgramOffsetOf(size_t(streamTaken)), plan.programOffset);
    } else {
        std::string error;
        if (streamTaken == 0 || !ReadText(path, &read, &error)) return;
        programTaken = size_t(streamTaken);
    }
    const std::string &program = restart != nullptr ? restart->Program() : read;
    if (!nccmd::NotTextReason(program).empty()) return;
    const nccmd::ResumePoint point = nccmd::ResumePointAt(program, programTaken);
    if (point.line == 0) return;
    std::fprintf(stderr,
                 "dncctl: the controller took %s up to line %zu; it may not have machined all it took.\n"
                 "dncctl: to go on: dncctl dnc %s --from-line %zu",
                 path.c_str(), point.line, path.c_str(), point.line);
    if (point.toolChange > 0) {
        std::fprintf(stderr, ", or --from-tool %zu (the tool change on line %zu)", point.toolChange,
                     point.toolChangeLine);
    }
    std::fprintf(stderr, "\n");
}

}  // namespace dncctl
