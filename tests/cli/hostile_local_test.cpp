// Hostile local folders and files against every command that touches local
// files: links planted in a backup target or a backup folder, FIFOs, a
// device, a file where a folder goes, a journal that is not a file. Nothing
// may be written outside the folder the user named, nothing sent from
// outside the backup, and no command may wait on a special file (a hang
// here ends in ctest's time-out).
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/cli/process.h"
#include "journal/sha256.h"
#include "tests/cli/sim_controller.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::Outcome;
using clitest::Transport;

namespace fs = std::filesystem;

const std::string kVictim = "keep me\n";

// A controller holding \O1.NC and \SUB\Z.NC, a target folder for the
// command, and a folder outside it with one file that must stay as it is.
class Hostile {
public:
    Hostile() {
        clitest::WriteFile(c.RootPath("O1.NC"), "G0 X1\r\n");
        fs::create_directory(c.RootPath("SUB"));
        clitest::WriteFile(c.RootPath("SUB/Z.NC"), "Z\r\n");
        fs::create_directory(Outside());
        clitest::WriteFile(Outside() + "/victim", kVictim);
        fs::create_directory(Target());
    }

    std::string Target(const std::string &relative = "") const {
        return c.WorkPath("target") + (relative.empty() ? "" : "/" + relative);
    }
    std::string Outside() const { return c.WorkPath("outside"); }

    void Link(const std::string &to, const std::string &at) const { fs::create_symlink(to, Target(at)); }
    void Fifo(const std::string &at) const { ASSERT_EQ(mkfifo(Target(at).c_str(), 0644), 0); }
    void File(const std::string &at, const std::string &bytes) const { clitest::WriteFile(Target(at), bytes); }
    // A manifest in the target listing each file with the digest of
    // `bytes` (what a backup would have held).
    void Manifest(const std::vector<std::pair<std::string, std::string>> &files) const {
        std::string text;
        for (const auto &[path, bytes] : files) text += journal::Sha256Hex(bytes.data(), bytes.size()) + "  " + path + "\n";
        File("MANIFEST.sha256", text);
    }

    Controller c{Transport::kUdp};
};

struct Case {
    const char *what;
    std::function<std::vector<std::string>(Hostile &)> arrange;  // returns the command
    int status;
    const char *message;  // on stderr; "" when none is expected
    bool nothingSent;
};

TEST(HostileLocalFiles, NothingOutsideIsWrittenOrSentAndNothingWaits) {
    const Case cases[] = {
        {"backup: a link to a folder where a folder goes",
         [](Hostile &h) {
             h.Link(h.Outside(), "SUB");
             return std::vector<std::string>{"backup", h.Target()};
         },
         3, "SUB: a link, not followed", false},
        {"backup: a link to a file where a file goes",
         [](Hostile &h) {
             h.Link(h.Outside() + "/victim", "O1.NC");
             return std::vector<std::string>{"backup", h.Target()};
         },
         3, "O1.NC: a link, not replaced nor written through", false},
        {"backup: a file where a folder goes",
         [](Hostile &h) {
             h.File("SUB", "in the way");
             return std::vector<std::string>{"backup", h.Target()};
         },
         3, "SUB is a file where a folder should be", false},
        {"backup: the old manifest is a link",
         [](Hostile &h) {
             h.Link(h.Outside() + "/victim", "MANIFEST.sha256");
             return std::vector<std::string>{"backup", h.Target()};
         },
         0, "", false},
        {"restore: a manifest line through a link to a folder",
         [](Hostile &h) {
             h.File("O1.NC", "G0\r\n");
             h.Link(h.Outside(), "SUB");
             h.Manifest({{"O1.NC", "G0\r\n"}, {"SUB/victim", kVictim}});
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "SUB: a link, not followed", true},
        {"restore: a link to a file, no manifest",
         [](Hostile &h) {
             h.File("O2.NC", "G0\r\n");
             h.Link(h.Outside() + "/victim", "O1.NC");
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "O1.NC: a link, not followed", true},
        {"restore: a manifest listing a FIFO",
         [](Hostile &h) {
             h.Fifo("P.NC");
             h.Manifest({{"P.NC", ""}});
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "P.NC is a FIFO, not a regular file", true},
        {"restore: a manifest listing a link to /dev/zero",
         [](Hostile &h) {
             h.Link("/dev/zero", "Z.NC");
             h.Manifest({{"Z.NC", ""}});
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "Z.NC: a link, not followed", true},
        {"restore: the manifest is a FIFO",
         [](Hostile &h) {
             h.File("O1.NC", "G0\r\n");
             h.Fifo("MANIFEST.sha256");
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "MANIFEST.sha256 is a FIFO", true},
        {"restore: a FIFO, no manifest",
         [](Hostile &h) {
             h.File("O1.NC", "G0\r\n");
             h.Fifo("P.NC");
             return std::vector<std::string>{"restore", h.Target()};
         },
         3, "P.NC: neither a file nor a folder", true},
        {"diff: a FIFO and a link to /dev/zero in the folder",
         [](Hostile &h) {
             h.Fifo("O1.NC");
             h.Link("/dev/zero", "Z.NC");
             return std::vector<std::string>{"diff", h.Target()};
         },
         3, "Z.NC: a link, not followed", false},
        {"diff: a FIFO as the file",
         [](Hostile &h) {
             h.Fifo("O1.NC");
             return std::vector<std::string>{"diff", h.Target("O1.NC")};
         },
         3, "neither a folder nor a file", true},
        {"put: a FIFO",
         [](Hostile &h) {
             h.Fifo("P.NC");
             return std::vector<std::string>{"put", h.Target("P.NC")};
         },
         3, "P.NC is a FIFO, not a regular file", true},
        {"put: a device", [](Hostile &) { return std::vector<std::string>{"put", "/dev/zero", "/Z.NC"}; }, 3,
         "/dev/zero is a device, not a regular file", true},
        {"dnc: a FIFO",
         [](Hostile &h) {
             h.Fifo("P.NC");
             return std::vector<std::string>{"dnc", h.Target("P.NC")};
         },
         3, "P.NC is a FIFO, not a regular file", true},
        {"get: the journal is a FIFO",
         [](Hostile &h) {
             h.Fifo("journal");
             setenv("DNCPANEL_JOURNAL", h.Target("journal").c_str(), 1);
             return std::vector<std::string>{"get", "/O1.NC", h.Target("O1.NC")};
         },
         0, "journal is not a regular file; the journal must be one", false},
        {"log: the journal is a device",
         [](Hostile &) {
             setenv("DNCPANEL_JOURNAL", "/dev/zero", 1);
             return std::vector<std::string>{"log"};
         },
         3, "/dev/zero is not a regular file", true},
        {"get: a name near the file system's limit",
         [](Hostile &h) {
             return std::vector<std::string>{"get", "/O1.NC", h.Target(std::string(250, 'n'))};
         },
         0, "", false},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.what);
        Hostile h;
        const std::vector<std::string> command = test.arrange(h);
        const Outcome run = h.c.Run(command);
        setenv("DNCPANEL_JOURNAL", h.c.JournalPath().c_str(), 1);
        EXPECT_EQ(run.status, test.status) << Describe(run);
        if (*test.message != '\0') {
            EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
        // Nothing written through a link: the folder outside holds what it held.
        std::vector<std::string> outside;
        for (const auto &e : fs::directory_iterator(h.Outside())) outside.push_back(e.path().filename().string());
        EXPECT_EQ(outside, std::vector<std::string>{"victim"});
        EXPECT_EQ(clitest::ReadFile(h.Outside() + "/victim"), kVictim);
        if (test.nothingSent) {
            EXPECT_EQ(h.c.Sim().CurrentStats().framesReceived, 0u);
        }
    }
}

// The links a refused backup met are left as they were, and everything
// else is still copied.
TEST(HostileLocalFiles, BackupGoesOnPastALinkAndLeavesItAlone) {
    Hostile h;
    h.Link(h.Outside(), "SUB");
    const Outcome run = h.c.Run({"backup", h.Target()});
    EXPECT_EQ(run.status, 3) << Describe(run);
    EXPECT_TRUE(fs::is_symlink(h.Target("SUB")));
    EXPECT_EQ(clitest::ReadFile(h.Target("O1.NC")), "G0 X1\r\n");
    const std::string manifest = clitest::ReadFile(h.Target("MANIFEST.sha256"));
    EXPECT_NE(manifest.find("  O1.NC\n"), std::string::npos) << manifest;
    EXPECT_EQ(manifest.find("Z.NC"), std::string::npos) << manifest;
}

}  // namespace
