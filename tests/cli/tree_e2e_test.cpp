// backup, restore and diff as a script runs them, against simulated
// controllers serving the sample tree, on UDP loopback and a pseudo-terminal.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "journal/journal.h"
#include "tests/cli/process.h"
#include "journal/sha256.h"
#include "tests/cli/sim_controller.h"
#include "ncsim/simulator.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::Tree;
using clitest::kDncctl;
using clitest::Outcome;
using clitest::Transport;

namespace fs = std::filesystem;

std::map<std::string, std::string> Without(std::map<std::string, std::string> tree, const std::string &path) {
    tree.erase(path);
    return tree;
}

std::string Keys(const std::map<std::string, std::string> &tree) {
    std::string keys;
    for (const auto &[k, v] : tree) keys += k + " ";
    return keys;
}

// `sha256sum -c` run inside the backup folder, as an operator would.
int Sha256sumCheck(const std::string &folder) {
    const std::string command = "cd '" + folder + "' && sha256sum --quiet -c MANIFEST.sha256";
    return std::system(command.c_str());
}

class Sample : public Controller {
public:
    explicit Sample(Transport transport, ncsim::Options options = {}) : Controller(transport, options) {
        if (!ncsim::WriteSampleTree(Sim().Root())) throw std::runtime_error("cannot write the sample tree");
    }
};

class TreeOverEachLink : public ::testing::TestWithParam<Transport> {};

TEST_P(TreeOverEachLink, BackupEqualsTheServedFolderAndPassesSha256sum) {
    Sample c(GetParam());
    const std::string out = c.WorkPath("backup");
    const Outcome backup = c.Run({"backup", out});
    ASSERT_EQ(backup.status, 0) << Describe(backup);
    EXPECT_EQ(backup.err, "");  // quiet when stderr is not a terminal
    const auto copy = Tree(out);
    EXPECT_EQ(Without(copy, "MANIFEST.sha256"), Tree(c.Sim().Root())) << Keys(copy);
    EXPECT_EQ(Sha256sumCheck(out), 0);
    const std::string manifest = copy.at("MANIFEST.sha256");
    EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '\n'), 5) << manifest;
    EXPECT_NE(manifest.find("  PRG/O0001.CNC\n"), std::string::npos) << manifest;

    // One folder of the controller, into a folder of its own.
    const std::string prg = c.WorkPath("prg");
    const Outcome one = c.Run({"backup", prg, "/PRG"});
    ASSERT_EQ(one.status, 0) << Describe(one);
    EXPECT_EQ(Without(Tree(prg), "MANIFEST.sha256"), Tree(c.RootPath("PRG"))) << Keys(Tree(prg));
    EXPECT_EQ(Sha256sumCheck(prg), 0);
}

TEST_P(TreeOverEachLink, RestoreIntoAnEmptyControllerRecreatesItButTheBootImage) {
    Sample from(Transport::kUdp);
    const std::string out = from.WorkPath("backup");
    ASSERT_EQ(from.Run({"backup", out}).status, 0);

    // A file the manifest does not list (left from an earlier backup) stays home.
    clitest::WriteFile(out + "/PRG/STALE.NC", "old\r\n");
    Controller to(GetParam());
    clitest::WriteFile(to.RootPath("KEEP.NC"), "G0\r\n");  // restore never deletes
    const Outcome dry = to.Run({"restore", out, "--dry-run"});
    ASSERT_EQ(dry.status, 0) << Describe(dry);
    EXPECT_NE(dry.out.find("would create \\PRG\\\n"), std::string::npos) << dry.out;
    EXPECT_NE(dry.out.find(" to \\PRG\\O0002.CNC ("), std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("QVTROM"), std::string::npos) << dry.out;
    EXPECT_EQ(Keys(Tree(to.Sim().Root())), "KEEP.NC ");  // a dry run changes nothing

    const Outcome restore = to.Run({"restore", out, "--verify"});
    ASSERT_EQ(restore.status, 0) << Describe(restore);
    EXPECT_NE(restore.err.find("\\QVT\\QVTROM.BIN: left out"), std::string::npos) << restore.err;
    EXPECT_NE(restore.err.find("PRG/STALE.NC: not in MANIFEST.sha256, not sent"), std::string::npos) << restore.err;
    auto want = Without(Tree(from.Sim().Root()), "QVT/QVTROM.BIN");
    want["KEEP.NC"] = "G0\r\n";
    EXPECT_EQ(Tree(to.Sim().Root()), want) << Keys(Tree(to.Sim().Root()));

    // Into a folder that does not exist yet: it is made, parents first.
    const Outcome deeper = to.Run({"restore", out, "/OLD/COPY"});
    ASSERT_EQ(deeper.status, 0) << Describe(deeper);
    EXPECT_EQ(clitest::ReadFile(to.RootPath("OLD/COPY/PRG/O0001.CNC")),
              clitest::ReadFile(from.RootPath("PRG/O0001.CNC")));
}

INSTANTIATE_TEST_SUITE_P(Links, TreeOverEachLink, ::testing::Values(Transport::kUdp, Transport::kPty),
                         [](const auto &info) { return info.param == Transport::kUdp ? "Udp" : "Pty"; });

// One change, one addition and one removal on each side, and a folder the
// controller alone has: each shows once, and only what differs shows.
TEST(Diff, NamesEveryDifferenceOnceAndChangesNothing) {
    Sample c(Transport::kUdp);
    const std::string out = c.WorkPath("backup");
    ASSERT_EQ(c.Run({"backup", out}).status, 0);
    const Outcome same = c.Run({"diff", out});
    EXPECT_EQ(same.status, 0) << Describe(same);
    EXPECT_EQ(same.out, "");

    std::string o1 = clitest::ReadFile(out + "/PRG/O0001.CNC");
    o1[20] ^= 1;  // same size: only reading the file shows it
    clitest::WriteFile(out + "/PRG/O0001.CNC", o1);
    clitest::WriteFile(out + "/NEW.NC", "new\r\n");
    fs::remove(out + "/O1234.NC");
    clitest::WriteFile(c.RootPath("PRG/O0002.CNC"), "shorter\r\n");
    clitest::WriteFile(c.RootPath("PRG/O0009.NC"), "added\r\n");
    fs::remove(c.RootPath("PRG/O0003.NC"));
    fs::create_directory(c.RootPath("JOBS"));
    clitest::WriteFile(c.RootPath("JOBS/A.NC"), "a\r\n");
    const auto before = Tree(c.Sim().Root());

    const Outcome diff = c.Run({"diff", out});
    EXPECT_EQ(diff.status, 4) << Describe(diff);
    EXPECT_EQ(diff.out,
              "only-remote JOBS/\n"
              "only-local NEW.NC\n"
              "only-remote O1234.NC\n"
              "differs PRG/O0001.CNC local 151 remote 151\n"
              "differs PRG/O0002.CNC local 2651 remote 9\n"
              "only-local PRG/O0003.NC\n"
              "only-remote PRG/O0009.NC\n");
    EXPECT_EQ(Tree(c.Sim().Root()), before);

    // One file, against its own name or a named remote file.
    const Outcome file = c.Run({"diff", out + "/PRG/O0001.CNC", "/PRG/"});
    EXPECT_EQ(file.status, 4) << Describe(file);
    EXPECT_EQ(file.out, "differs O0001.CNC local 151 remote 151\n");
    const Outcome sameFile = c.Run({"diff", out + "/PRG/O0002.CNC", "/PRG/O0002.CNC"});
    EXPECT_EQ(sameFile.out, "differs O0002.CNC local 2651 remote 9\n");
    EXPECT_EQ(c.Run({"diff", c.RootPath("PRG/O0009.NC"), "/PRG/"}).status, 0);
    const Outcome missing = c.Run({"diff", out + "/NEW.NC"});
    EXPECT_EQ(missing.status, 4);
    EXPECT_EQ(missing.out, "only-local NEW.NC\n");

    // Errors keep their own status: a folder the controller lacks.
    EXPECT_EQ(c.Run({"diff", out, "/NOWHERE"}).status, 1);
    EXPECT_EQ(c.Run({"diff", c.WorkPath("nothing-here")}).status, 3);
}

TEST(SeveralDevices, BackupPerDeviceFolderAndDiffLinesCarryTheId) {
    ncsim::Options options;
    options.ids = {1, 2};
    Sample c(Transport::kUdp, options);
    const std::string out = c.WorkPath("backup");
    const Outcome backup = c.Run({"--id", "1,2", "backup", out});
    ASSERT_EQ(backup.status, 0) << Describe(backup);
    for (const char *id : {"1", "2"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(Without(Tree(out + "/" + id), "MANIFEST.sha256"), Tree(c.Sim().Root()));
        EXPECT_EQ(Sha256sumCheck(out + "/" + id), 0);
    }
    EXPECT_EQ(c.Run({"--id", "1,2", "diff", out}).status, 0);
    clitest::WriteFile(c.RootPath("O1234.NC"), "changed\r\n");
    const Outcome diff = c.Run({"--id", "1,2", "diff", out});
    EXPECT_EQ(diff.status, 4) << Describe(diff);
    EXPECT_EQ(diff.out, "1: differs O1234.NC local 34 remote 9\n2: differs O1234.NC local 34 remote 9\n");

    // A device that does not answer fails the run; the others are still done.
    const std::string three = c.WorkPath("three");
    const Outcome absent = c.Run({"--retries", "0", "--id", "3,1", "backup", three});
    EXPECT_EQ(absent.status, 1) << Describe(absent);
    EXPECT_NE(absent.err.find("device 3: "), std::string::npos) << absent.err;
    EXPECT_EQ(Sha256sumCheck(three + "/1"), 0);
}

TEST(Backup, AFileTheControllerRefusesIsNamedAndTheRestCopied) {
    ncsim::Options options;
    options.refuseRead = "\\PRG\\O0002.CNC";
    Sample c(Transport::kUdp, options);
    const std::string out = c.WorkPath("backup");
    const Outcome backup = c.Run({"backup", out});
    EXPECT_EQ(backup.status, 1) << Describe(backup);
    EXPECT_NE(backup.err.find("\\PRG\\O0002.CNC: not copied: 0x04"), std::string::npos) << backup.err;
    // Everything else whole, nothing of the refused file (not even a
    // temporary one), and a manifest of what was copied.
    EXPECT_EQ(Without(Tree(out), "MANIFEST.sha256"), Without(Tree(c.Sim().Root()), "PRG/O0002.CNC"))
        << Keys(Tree(out));
    EXPECT_EQ(Sha256sumCheck(out), 0);
    EXPECT_EQ(clitest::ReadFile(out + "/MANIFEST.sha256").find("O0002"), std::string::npos);
}

// A backup that no longer matches its manifest is refused before anything
// reaches the controller.
TEST(Restore, ADamagedBackupIsRefusedNamingTheFiles) {
    const struct {
        const char *what;
        void (*damage)(const std::string &folder);
        const char *named;
    } cases[] = {
        {"changed file",
         [](const std::string &f) { clitest::WriteFile(f + "/PRG/O0003.NC", "tampered\r\n"); }, "PRG/O0003.NC"},
        {"missing file", [](const std::string &f) { fs::remove(f + "/O1234.NC"); }, "O1234.NC"},
        {"manifest path leaving the folder",
         [](const std::string &f) {
             clitest::WriteFile(f + "/MANIFEST.sha256", clitest::ReadFile(f + "/MANIFEST.sha256") +
                                                           std::string(64, '0') + "  ../secret\n");
         },
         "'../secret'"},
    };
    Sample from(Transport::kUdp);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string out = from.WorkPath(std::string("backup-") + c.what);
        ASSERT_EQ(from.Run({"backup", out}).status, 0);
        c.damage(out);
        Controller to(Transport::kUdp);
        const Outcome restore = to.Run({"restore", out});
        EXPECT_EQ(restore.status, 3) << Describe(restore);
        EXPECT_NE(restore.err.find(c.named), std::string::npos) << restore.err;
        EXPECT_NE(restore.err.find("restore refused"), std::string::npos) << restore.err;
        EXPECT_EQ(to.Sim().CurrentStats().framesReceived, 0u);
        EXPECT_TRUE(fs::is_empty(to.Sim().Root()));
    }
}

// Ctrl-C during a backup: the file being read is dropped, the controller
// is sent the abort block, the files before it stay whole, and no
// manifest (not even one from an earlier backup) describes the folder.
TEST(Interrupt, CtrlCDuringBackupLeavesOnlyWholeFilesAndNoManifest) {
    ncsim::Options options;
    options.delayMs = 10;  // a 400-block file takes seconds
    Sample c(Transport::kUdp, options);
    const std::string big = clitest::RandomBytes(200 * 1024, 21);
    clitest::WriteFile(c.RootPath("PRG/BIG.BIN"), big);
    const std::string out = c.WorkPath("backup");
    fs::create_directories(out);
    clitest::WriteFile(out + "/MANIFEST.sha256", std::string(64, '0') + "  O1234.NC\n");

    clitest::Process backup(kDncctl, c.Args({"backup", out}));
    // Blocks of BIG.BIN are flowing once it exists as a temporary file.
    const auto reading = [&] {
        if (!fs::exists(out + "/PRG")) return false;
        for (const auto &e : fs::directory_iterator(out + "/PRG")) {
            if (e.path().filename().string().rfind(".BIG.BIN", 0) == 0) return true;
        }
        return false;
    };
    while (!reading() && !backup.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    backup.Signal(SIGINT);
    const Outcome outcome = backup.Wait();
    EXPECT_EQ(outcome.status, 130) << Describe(outcome);
    const auto left = Tree(out);
    EXPECT_EQ(left.count("MANIFEST.sha256"), 0u) << Keys(left);
    EXPECT_EQ(left.count("PRG/BIG.BIN"), 0u) << Keys(left);
    for (const auto &[path, bytes] : left) {
        EXPECT_EQ(path.find("/."), std::string::npos) << "temporary file left: " << path;
        if (path.back() != '/') {
            EXPECT_EQ(bytes, clitest::ReadFile(c.RootPath(path))) << path;
        }
    }
    // The read was ended on the controller: the next request is served.
    const Outcome get = c.Run({"get", "/O1234.NC", c.WorkPath("o1234")});
    EXPECT_EQ(get.status, 0) << Describe(get);
}

// Waits, without a deadline of its own (ctest's time-out bounds the test),
// until `ready` holds or the process has ended.
template <typename Ready>
void WaitUntil(clitest::Process &process, Ready ready) {
    while (!ready() && !process.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

std::string Digest(const std::string &bytes) { return journal::Sha256Hex(bytes.data(), bytes.size()); }

// A file of the backup changes after the manifest was checked: before its
// turn, or while it is being sent. The bytes that would go no longer have
// the manifest's digest, so its last block never goes: the controller is
// sent the abort block and keeps nothing of it.
TEST(Restore, AFileThatChangesAfterTheCheckIsNeverSentWhole) {
    enum class When { kBeforeItsTurn, kWhileSent };
    for (const When when : {When::kBeforeItsTurn, When::kWhileSent}) {
        SCOPED_TRACE(when == When::kBeforeItsTurn ? "before its turn" : "while it is sent");
        ncsim::Options options;
        options.delayMs = 5;  // A.BIN's 400 blocks take seconds: time to change a file
        Controller c(Transport::kUdp, options);
        const std::string out = c.WorkPath("backup");
        fs::create_directory(out);
        const std::string a = clitest::RandomBytes(200 * 1024, 31);
        const std::string b = "O0002\r\nG0 X2\r\nM30\r\n";
        clitest::WriteFile(out + "/A.BIN", a);
        clitest::WriteFile(out + "/B.NC", b);
        clitest::WriteFile(out + "/MANIFEST.sha256", Digest(a) + "  A.BIN\n" + Digest(b) + "  B.NC\n");

        clitest::Process restore(kDncctl, c.Args({"restore", out}));
        WaitUntil(restore, [&] { return c.Sim().CurrentStats().framesReceived > 5; });
        // Its last byte, in place: the size stays, and the byte has not been
        // read yet.
        const std::string changedName = when == When::kBeforeItsTurn ? "B.NC" : "A.BIN";
        const char last = (when == When::kBeforeItsTurn ? b : a).back();
        std::fstream edit(out + "/" + changedName, std::ios::in | std::ios::out | std::ios::binary);
        edit.seekp(-1, std::ios::end);
        edit.put(char(last ^ 1));
        edit.close();
        const Outcome outcome = restore.Wait();

        EXPECT_EQ(outcome.status, 3) << Describe(outcome);
        EXPECT_NE(outcome.err.find("\\" + changedName + ": not restored: changed since the manifest was checked"),
                  std::string::npos)
            << outcome.err;
        EXPECT_FALSE(clitest::FileExists(c.RootPath(changedName)));
        const std::string other = when == When::kBeforeItsTurn ? "A.BIN" : "B.NC";
        EXPECT_EQ(clitest::ReadFile(c.RootPath(other)), other == "A.BIN" ? a : b);
    }
}

// diff of a file the controller stops serving half-way, or that Ctrl-C
// interrupts: an error (1) or 130, never "differs"; after Ctrl-C nothing
// more is compared.
TEST(Diff, AFailureOrCtrlCInTheMiddleOfAFileIsNotADifference) {
    enum class Ending { kControllerGoesSilent, kCtrlC };
    for (const Ending ending : {Ending::kControllerGoesSilent, Ending::kCtrlC}) {
        SCOPED_TRACE(ending == Ending::kCtrlC ? "Ctrl-C" : "controller silent");
        ncsim::Options options;
        options.delayMs = 10;  // a 400-block file takes seconds
        Controller c(Transport::kUdp, options);
        const std::string out = c.WorkPath("local");
        fs::create_directory(out);
        const std::string big = clitest::RandomBytes(200 * 1024, 41);
        for (const std::string &folder : {out, c.Sim().Root()}) {
            clitest::WriteFile(folder + "/BIG.BIN", big);
            clitest::WriteFile(folder + "/C.NC", "G0\r\n");
        }
        clitest::Process diff(kDncctl, c.Args({"--retries", "1", "diff", out}));
        WaitUntil(diff, [&] { return c.Sim().CurrentStats().framesAnswered > 5; });
        if (ending == Ending::kCtrlC) diff.Signal(SIGINT);
        else c.Sim().Stop();
        const Outcome outcome = diff.Wait();
        EXPECT_EQ(outcome.status, ending == Ending::kCtrlC ? 130 : 1) << Describe(outcome);
        EXPECT_EQ(outcome.out, "");  // no differs line
        std::string error;
        const auto entries = journal::ReadAll(c.JournalPath(), &error);
        const auto compared = [&](const std::string &remote) {
            return std::count_if(entries.begin(), entries.end(),
                                 [&](const journal::Entry &e) { return e.remotePath == remote; });
        };
        EXPECT_EQ(compared("\\BIG.BIN"), 1);
        EXPECT_EQ(compared("\\C.NC"), ending == Ending::kCtrlC ? 0 : 1);
        for (const auto &e : entries) EXPECT_NE(e.result, "differs") << e.remotePath;
    }
}

// A local fault outranks a controller fault in the exit status, whichever
// came first.
TEST(Backup, ALocalAndAControllerFaultInOneRunEndWithStatus3) {
    ncsim::Options options;
    options.refuseRead = "\\O1234.NC";
    Sample c(Transport::kUdp, options);
    const std::string out = c.WorkPath("backup");
    fs::create_directory(out);
    clitest::WriteFile(out + "/PRG", "a file where the folder goes");
    const Outcome backup = c.Run({"backup", out});
    EXPECT_EQ(backup.status, 3) << Describe(backup);
    EXPECT_NE(backup.err.find("\\O1234.NC: not copied: 0x04"), std::string::npos) << backup.err;
    EXPECT_NE(backup.err.find("PRG is a file where a folder should be"), std::string::npos) << backup.err;
}

// Ctrl-C while restore checks a file of 2 GiB against its manifest ends the
// run at once, before anything is sent (the file is sparse: no disk used).
TEST(Interrupt, CtrlCWhileRestoreHashesALargeFileEndsIt) {
    Controller c(Transport::kUdp);
    const std::string out = c.WorkPath("backup");
    fs::create_directory(out);
    clitest::WriteFile(out + "/BIG.BIN", "");
    fs::resize_file(out + "/BIG.BIN", uintmax_t(INT32_MAX));
    clitest::WriteFile(out + "/MANIFEST.sha256", std::string(64, '0') + "  BIG.BIN\n");
    clitest::Process restore(kDncctl, c.Args({"restore", out}));
    // Hashing has begun once the process has read a good part of the file.
    const auto bytesRead = [&] {
        std::istringstream io(clitest::ReadFile("/proc/" + std::to_string(restore.Pid()) + "/io"));
        std::string key;
        uint64_t value = 0;
        while (io >> key >> value) {
            if (key == "rchar:") return value;
        }
        return uint64_t(0);
    };
    WaitUntil(restore, [&] { return bytesRead() > 64u * 1024 * 1024; });
    restore.Signal(SIGINT);
    const Outcome outcome = restore.Wait();
    EXPECT_EQ(outcome.status, 130) << Describe(outcome);
    EXPECT_EQ(c.Sim().CurrentStats().framesReceived, 0u);
}

// On a terminal the progress line counts files and bytes.
TEST(Output, BackupProgressOnATerminal) {
    Sample c(Transport::kUdp);
    const Outcome backup = clitest::RunOnTerminal(kDncctl, c.Args({"backup", c.WorkPath("backup")}));
    EXPECT_EQ(backup.status, 0);
    const std::string &terminal = backup.err;
    EXPECT_NE(terminal.find("backup 5/5 files ["), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("4.3 KiB / 4.3 KiB"), std::string::npos) << terminal;
}

}  // namespace
