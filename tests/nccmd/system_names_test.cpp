// The controller's system names: exact case, last component, any folder.
#include <gtest/gtest.h>

#include "nccmd/system_names.h"

namespace {

struct NameCase {
    const char *path;
    bool file;
    bool dir;
};

TEST(SystemNames, ExactCaseOnTheLastComponent) {
    const NameCase cases[] = {
        {"\\QVT\\QVTROM.BIN", true, false},
        {"QVTROM.BIN", true, false},
        {"\\PRG\\QVTROM.BIN", true, false},  // in any folder
        {"\\QVT\\qvtrom.bin", false, false},  // the controller's names are upper case
        {"\\QVT\\QVTROM.BI", false, false},
        {"\\QVT\\QVTROM.BINX", false, false},
        {"\\QVT", false, true},
        {"\\QVT\\", false, true},
        {"PRG", false, true},
        {"\\DATA\\PRG\\", false, true},
        {"\\qvt", false, false},
        {"\\QVTX", false, false},
        {"\\", false, false},
        {"", false, false},
    };
    for (const NameCase &c : cases) {
        EXPECT_EQ(nccmd::IsSystemFile(c.path), c.file) << c.path;
        EXPECT_EQ(nccmd::IsSystemDir(c.path), c.dir) << c.path;
    }
}

}  // namespace
