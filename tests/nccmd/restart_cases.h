// Programs and restart points with the stream and preamble each must give,
// written out by hand. The planner's tests check the plan against them and
// dncctl's tests check what the simulated controller received.
#pragma once

#include <string>
#include <vector>

#include "nccmd/restart_stream.h"

namespace restart_cases {

// Lines joined with `ending` after each (the last one too unless `lastEnds`
// is false).
inline std::string Join(const std::vector<std::string> &lines, const std::string &ending, bool lastEnds = true) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size() || lastEnds) text += ending;
    }
    return text;
}

// A milling program whose units, plane, distance mode, work offset, motion,
// tool, spindle, coolant and feed all change before its later lines; it
// preselects the next tool after each change.
inline const std::vector<std::string> kMill = {
    "%",                       // 1
    "O0012 (BRACKET)",         // 2
    "G21 G17 G90",             // 3
    "N10 G54 G00 X0 Y0",       // 4
    "T1 M06",                  // 5
    "T2",                      // 6
    "S1200 M03",               // 7
    "M08",                     // 8
    "N20 G01 Z-1. F100.",      // 9
    "X10.",                    // 10
    "G91 Y5.",                 // 11
    "G90 G55",                 // 12
    "N30 T2 M06",              // 13
    "T3",                      // 14
    "S3000 M04",               // 15
    "G00 X0 Y0",               // 16
    "M09",                     // 17
    "G18 G02 X5. Z0 R2.5 F50", // 18
    "N40 G01 X1",              // 19
    "M30",                     // 20
    "%",                       // 21
};

// No '%' and no program number; M6 written short, T after it, G0/G1/M3.
inline const std::vector<std::string> kShort = {
    "G20 G90",            // 1
    "T4 M6",              // 2
    "G0 X1 Y1 S800 M3",   // 3
    "G1 Z-.1 F5.",        // 4
    "(SECOND TOOL)",      // 5
    "M6 T5",              // 6
    "G1 X2",              // 7
};

// A program number without '%'; the last line has no ending.
inline const std::vector<std::string> kNumbered = {
    "O0100",          // 1
    "N1 G90 G54",     // 2
    "N2 T3 M06",      // 3
    "N3 S200 M03",    // 4
    "N4 G00 X1",      // 5
};

// The tool is selected on a line of its own before the M06 that puts it in.
inline const std::vector<std::string> kPreselect = {
    "%",       // 1
    "T5",      // 2
    "M06",     // 3
    "G0 X0",   // 4
    "T6",      // 5
    "M06",     // 6
    "G1 X1 F9",// 7
    "%",       // 8
};

struct Case {
    std::string name;
    std::string program;
    nccmd::RestartFrom from;
    long long number;
    size_t line;                        // the restart line it must find
    std::vector<std::string> preamble;  // computed
    std::string stream;                 // as the planner builds it (a leading '%' still '%')
};

inline std::vector<Case> Cases() {
    using nccmd::RestartFrom;
    const std::string crlf = "\r\n", lf = "\n";
    std::vector<Case> cases;
    for (const std::string &ending : {crlf, lf}) {
        const auto name = [&](const char *base) { return base + std::string(ending == crlf ? "CrLf" : "Lf"); };
        const std::string mill = Join(kMill, ending);
        {
            const std::vector<std::string> pre = {"T1 M06", "T2", "G21 G17 G90 G54", "S1200 M03", "M08", "G01 F100."};
            cases.push_back({name("MillLine11"), mill, RestartFrom::kLine, 11, 11, pre,
                             Join({"%", "O0012 (BRACKET)"}, ending) + Join(pre, ending) +
                                 Join({kMill.begin() + 10, kMill.end()}, ending)});
        }
        {
            // The restart line changes the tool itself: its spindle and
            // coolant come after it in the program.
            const std::vector<std::string> pre = {"G21 G17 G90 G55", "G01 F100."};
            cases.push_back({name("MillTool2"), mill, RestartFrom::kToolChange, 2, 13,
                             pre,
                             Join({"%", "O0012 (BRACKET)"}, ending) + Join(pre, ending) +
                                 Join({kMill.begin() + 12, kMill.end()}, ending)});
        }
        {
            const std::vector<std::string> pre = {"T2 M06", "T3", "G21 G18 G90 G55", "S3000 M04", "G02 F50"};
            cases.push_back({name("MillBlock40"), mill, RestartFrom::kBlockNumber,
                             40, 19, pre,
                             Join({"%", "O0012 (BRACKET)"}, ending) + Join(pre, ending) +
                                 Join({kMill.begin() + 18, kMill.end()}, ending)});
        }
        {
            const std::vector<std::string> pre = {"T4 M06", "G20 G90", "S800 M03", "G00"};
            cases.push_back({name("ShortLine4"), Join(kShort, ending),
                             RestartFrom::kLine, 4, 4, pre,
                             Join(pre, ending) + Join({kShort.begin() + 3, kShort.end()}, ending)});
        }
        {
            const std::vector<std::string> pre = {"G20 G90", "G01 F5."};
            cases.push_back({name("ShortTool2"), Join(kShort, ending),
                             RestartFrom::kToolChange, 2, 6, pre,
                             Join(pre, ending) + Join({kShort.begin() + 5, kShort.end()}, ending)});
        }
        {
            const std::vector<std::string> pre = {"T3 M06", "G90 G54", "S200 M03"};
            cases.push_back({name("NumberedBlock4"),
                             Join(kNumbered, ending, false), RestartFrom::kBlockNumber, 4, 5, pre,
                             "O0100" + ending + Join(pre, ending) + "N4 G00 X1"});
        }
        {
            // M06 alone at the restart line takes the tool selected before
            // it, which the preamble must select again.
            const std::vector<std::string> pre = {"T6", "G00"};
            cases.push_back({name("PreselectTool2"), Join(kPreselect, ending),
                             RestartFrom::kToolChange, 2, 6, pre,
                             "%" + ending + Join(pre, ending) + Join({"M06", "G1 X1 F9", "%"}, ending)});
        }
        {
            // The first line: the whole program, nothing added.
            cases.push_back({name("MillLine1"), mill, RestartFrom::kLine, 1, 1, {},
                             mill});
        }
    }
    return cases;
}

}  // namespace restart_cases
