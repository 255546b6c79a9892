// What dncctl does not take on trust from a controller or a command line:
// the controller's system names, a success that the listing contradicts,
// names that would upset a terminal or a backup, and uploads on a line whose
// checksum misses damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "tests/cli/lying_proxy.h"
#include "tests/cli/process.h"
#include "tests/cli/sim_controller.h"
#include "ncsim/simulator.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::LyingProxy;
using clitest::Outcome;
using clitest::Transport;

namespace fs = std::filesystem;

std::vector<journal::Entry> Journal(const Controller &c) {
    std::string error;
    return journal::ReadAll(c.JournalPath(), &error);
}

// dncctl pointed at the proxy instead of the simulator.
Outcome RunVia(const LyingProxy &proxy, std::vector<std::string> command) {
    std::vector<std::string> args = {"--udp", "127.0.0.1:" + std::to_string(proxy.Port())};
    args.insert(args.end(), command.begin(), command.end());
    return clitest::Run(clitest::kDncctl, args);
}

// The names the window refuses are refused here too, in any folder and only
// in their exact case, with nothing sent; --force sends them.
TEST(SystemNames, RefusedUnlessForcedWithNothingSent) {
    const struct {
        std::vector<std::string> command;
        bool refused;
        const char *named;  // in the refusal
    } cases[] = {
        {{"rm", "/QVT/QVTROM.BIN"}, true, "\\QVT\\QVTROM.BIN is one of the controller's system files"},
        {{"rm", "/DATA/QVTROM.BIN"}, true, "\\DATA\\QVTROM.BIN is one of the controller's system files"},
        {{"rmdir", "PRG"}, true, "\\PRG is one of the controller's system folders"},
        {{"rmdir", "/DATA/PRG/"}, true, "\\DATA\\PRG is one of the controller's system folders"},
        {{"put", "LOCAL", "/QVT/QVTROM.BIN"}, true, "\\QVT\\QVTROM.BIN is the controller's system file"},
        {{"put", "LOCAL", "/QVT/"}, false, ""},  // under its own name into the folder
        {{"rm", "/DATA/qvtrom.bin"}, false, ""},
        {{"rmdir", "/DATA/PRG2"}, false, ""},
    };
    for (const auto &test : cases) {
        for (const bool force : {false, true}) {
            std::string joined;
            for (const auto &a : test.command) joined += a + " ";
            SCOPED_TRACE(joined + (force ? "--force" : ""));
            Controller c(Transport::kUdp);
            for (const char *folder : {"QVT", "PRG", "DATA/PRG", "DATA/PRG2"}) fs::create_directories(c.RootPath(folder));
            clitest::WriteFile(c.RootPath("QVT/QVTROM.BIN"), "boot");
            clitest::WriteFile(c.RootPath("DATA/QVTROM.BIN"), "boot");
            clitest::WriteFile(c.RootPath("DATA/qvtrom.bin"), "not the boot image");
            std::vector<std::string> command = test.command;
            if (command[0] == "put") command[1] = c.Local("NEW.BIN", "new");
            if (force) command.push_back("--force");
            const Outcome run = c.Run(command);
            if (test.refused && !force) {
                EXPECT_EQ(run.status, 2) << Describe(run);
                EXPECT_NE(run.err.find(test.named), std::string::npos) << run.err;
                EXPECT_NE(run.err.find("--force overrides this"), std::string::npos) << run.err;
                EXPECT_EQ(c.Sim().CurrentStats().framesReceived, 0u);
                EXPECT_EQ(clitest::ReadFile(c.RootPath("QVT/QVTROM.BIN")), "boot");
            } else {
                EXPECT_EQ(run.status, 0) << Describe(run);
                EXPECT_GT(c.Sim().CurrentStats().framesReceived, 0u);
            }
        }
    }
}

// The boot image in a backup, in any case, stays out of a restore unless
// --force: a controller's names may ignore case, so qvtrom.bin would land
// on QVTROM.BIN.
TEST(SystemNames, RestoreLeavesTheBootImageOutInAnyCaseUnlessForced) {
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "--force" : "");
        Controller c(Transport::kUdp);
        const std::string backup = c.WorkPath("backup");
        fs::create_directories(backup + "/QVT");
        clitest::WriteFile(backup + "/QVT/qvtrom.bin", "lower");
        clitest::WriteFile(backup + "/Qvtrom.Bin", "mixed");
        clitest::WriteFile(backup + "/O1.NC", "G0\r\n");
        std::vector<std::string> command = {"restore", backup};
        if (force) command.push_back("--force");
        const Outcome run = c.Run(command);
        EXPECT_EQ(run.status, 0) << Describe(run);
        EXPECT_EQ(clitest::ReadFile(c.RootPath("O1.NC")), "G0\r\n");
        EXPECT_EQ(clitest::FileExists(c.RootPath("QVT/qvtrom.bin")), force);
        EXPECT_EQ(clitest::FileExists(c.RootPath("Qvtrom.Bin")), force);
        if (!force) {
            EXPECT_NE(run.err.find("\\QVT\\qvtrom.bin: left out: the controller's system file (--force writes it)"),
                      std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find("\\Qvtrom.Bin: left out"), std::string::npos) << run.err;
        }
    }
}

// Over a serial line put and restore read every file back unless told not
// to; over UDP they do so only when asked. The journal says which happened.
TEST(Verify, SerialUploadsAreReadBackByDefault) {
    const struct {
        Transport transport;
        const char *flag;
        bool verified;
    } cases[] = {
        {Transport::kPty, nullptr, true},
        {Transport::kPty, "--no-verify", false},
        {Transport::kPty, "--verify", true},
        {Transport::kUdp, nullptr, false},
        {Transport::kUdp, "--verify", true},
        {Transport::kUdp, "--no-verify", false},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(std::string(test.transport == Transport::kPty ? "serial " : "udp ") + (test.flag ? test.flag : ""));
        Controller c(test.transport);
        const std::string bytes = clitest::RandomBytes(1300, 3);
        const std::string folder = c.WorkPath("up");
        fs::create_directory(folder);
        clitest::WriteFile(folder + "/V.NC", bytes);
        std::vector<std::string> put = {"put", folder + "/V.NC", "/V.NC"};
        if (test.flag) put.push_back(test.flag);
        const Outcome run = c.Run(put);
        ASSERT_EQ(run.status, 0) << Describe(run);
        const auto entries = Journal(c);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].result, test.verified ? "Operation Successful, verified" : "Operation Successful");
        // Reading back costs an opening exchange and the file's 3 blocks.
        const uint64_t frames = c.Sim().CurrentStats().framesAnswered;
        EXPECT_EQ(frames, test.verified ? 4u + 4u : 4u);

        std::vector<std::string> restore = {"restore", folder, "/R"};
        if (test.flag) restore.push_back(test.flag);
        const Outcome back = c.Run(restore);
        ASSERT_EQ(back.status, 0) << Describe(back);
        EXPECT_EQ(clitest::ReadFile(c.RootPath("R/V.NC")), bytes);
        // The root listed (one entry, one block) and \R made, then the
        // announcement and 3 blocks, then as many to read it back.
        EXPECT_EQ(c.Sim().CurrentStats().framesAnswered - frames, 2u + 1u + 4u + (test.verified ? 4u : 0u));
    }
}

TEST(Verify, ContradictoryFlagsAreABadCommandLine) {
    const Outcome run = clitest::Run(clitest::kDncctl, {"put", "a", "--verify", "--no-verify"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("contradict"), std::string::npos) << run.err;
}

// A controller that answers "Operation Successful" to rm, mkdir and rmdir
// without doing them: the listing that follows gives it away, and the
// command fails naming both answers, in its message and its journal line.
TEST(ConfirmedByListing, ASuccessTheListingContradictsIsAnError) {
    const struct {
        std::vector<std::string> command;
        const char *word;
        const char *message;
    } cases[] = {
        {{"rm", "/PRG/A.NC"}, "%DeleteFile%",
         "the controller answered Operation Successful to deleting \\PRG\\A.NC, but its listing of \\PRG\\ still "
         "shows A.NC"},
        {{"rmdir", "/PRG/OLD"}, "%DeleteDir%",
         "the controller answered Operation Successful to deleting the folder \\PRG\\OLD, but its listing of "
         "\\PRG\\ still shows OLD"},
        {{"mkdir", "/NEWD"}, "%CreateDir%",
         "the controller answered Operation Successful to creating the folder \\NEWD, but its listing of \\ does "
         "not show NEWD"},
    };
    for (const auto &test : cases) {
        SCOPED_TRACE(test.command[0]);
        Controller c(Transport::kUdp);
        fs::create_directories(c.RootPath("PRG/OLD"));
        clitest::WriteFile(c.RootPath("PRG/A.NC"), "G0\r\n");
        const std::string word = test.word;
        LyingProxy liar(c.Sim().UdpPort(), [&](const ncsim::Request &request) -> std::optional<std::vector<uint8_t>> {
            if (LyingProxy::Text(request).rfind(word, 0) == 0) return std::vector<uint8_t>(4, 0);
            return std::nullopt;
        });
        const Outcome run = RunVia(liar, test.command);
        EXPECT_EQ(run.status, 1) << Describe(run);
        EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
        const auto entries = Journal(c);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].result, test.message);

        // The same command against the honest controller behind it is confirmed.
        const Outcome honest = c.Run(test.command);
        EXPECT_EQ(honest.status, 0) << Describe(honest);
        EXPECT_EQ(Journal(c).back().result, "Operation Successful");
    }
}

// Names from a controller that would split a line or reach the terminal as
// escapes are shown as \xNN, as the tree commands show them.
TEST(ControllerNames, LsCleansNamesLikeTheTreeCommands) {
    Controller c(Transport::kUdp);
    std::vector<uint8_t> listing;
    clitest::PutListingEntry(listing, false, "A\nB", "NC", 7);
    clitest::PutListingEntry(listing, false, "\x1b]0;X", "NC", 9);
    clitest::PutListingEntry(listing, true, "OK", "", 0);
    LyingProxy liar(c.Sim().UdpPort(), clitest::ListingRule("\\", listing));
    const Outcome ls = RunVia(liar, {"ls"});
    ASSERT_EQ(ls.status, 0) << Describe(ls);
    EXPECT_EQ(ls.out,
              "file          7 A\\x0aB.NC\n"
              "file          9 \\x1b]0;X.NC\n"
              "dir           0 OK\n");
}

// A controller listing a file with the backup manifest's own name at the
// top: it is refused by name, the rest is copied, and the backup's own
// manifest stays true, so the backup restores.
TEST(ControllerNames, AControllerFileNamedLikeTheManifestIsRefused) {
    Controller c(Transport::kUdp);
    clitest::WriteFile(c.RootPath("O1.NC"), "G0 X1\r\n");
    std::vector<uint8_t> listing;
    clitest::PutListingEntry(listing, false, "O1", "NC", 7);
    clitest::PutListingEntry(listing, false, "MANIFEST", "sha256", 66);  // no room for a terminating zero
    LyingProxy liar(c.Sim().UdpPort(), clitest::ListingRule("\\", listing));
    const std::string out = c.WorkPath("backup");
    const Outcome backup = RunVia(liar, {"backup", out});
    EXPECT_EQ(backup.status, 1) << Describe(backup);
    EXPECT_NE(backup.err.find("\\MANIFEST.sha256: not copied: the backup's own manifest has that name"),
              std::string::npos)
        << backup.err;
    const std::string manifest = clitest::ReadFile(out + "/MANIFEST.sha256");
    EXPECT_EQ(std::count(manifest.begin(), manifest.end(), '\n'), 1) << manifest;
    EXPECT_NE(manifest.find("  O1.NC\n"), std::string::npos) << manifest;

    Controller fresh(Transport::kUdp);
    const Outcome restore = fresh.Run({"restore", out});
    EXPECT_EQ(restore.status, 0) << Describe(restore);
    EXPECT_EQ(clitest::ReadFile(fresh.RootPath("O1.NC")), "G0 X1\r\n");
}

// restore --verify reads each file back. A controller that keeps other
// bytes than it was sent (here the stored copy changes as the read-back
// starts) is a verification failure, exit 4, and the local file, which did
// not change, is not blamed.
TEST(ControllerCopies, RestoreVerifyNamesACopyThatDiffersAsTheControllers) {
    Controller c(Transport::kUdp);
    const std::string backup = c.WorkPath("backup");
    fs::create_directories(backup);
    clitest::WriteFile(backup + "/O1.NC", std::string(1500, 'A'));
    std::atomic<bool> changed{false};
    LyingProxy liar(c.Sim().UdpPort(), [&](const ncsim::Request &request) -> std::optional<std::vector<uint8_t>> {
        if (request.function == 0x24 && LyingProxy::Text(request) == "\\O1.NC" && !changed.exchange(true)) {
            clitest::WriteFile(c.RootPath("O1.NC"), std::string(1500, 'B'));
        }
        return std::nullopt;
    });
    const Outcome restore = RunVia(liar, {"restore", "--verify", backup});
    EXPECT_TRUE(changed);
    EXPECT_EQ(restore.status, 4) << Describe(restore);
    EXPECT_NE(restore.err.find("verify failed: the controller's copy differs"), std::string::npos) << restore.err;
}

}  // namespace
