// dncctl's journal lines: one per get, put, rm, mkdir, rmdir and dnc, with
// the bytes and the SHA-256 of the data that moved, and dncctl log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "tests/cli/process.h"
#include "journal/sha256.h"
#include "tests/cli/sim_controller.h"

namespace {

using clitest::Controller;
using clitest::Describe;
using clitest::Outcome;
using clitest::RandomBytes;
using clitest::Transport;

std::vector<journal::Entry> Entries(const Controller &c) {
    std::string error;
    auto entries = journal::ReadAll(c.JournalPath(), &error);
    EXPECT_TRUE(error.empty()) << error;
    return entries;
}

std::string Hash(const std::string &bytes) { return journal::Sha256Hex(bytes.data(), bytes.size()); }

TEST(Journal, OneLinePerCommandWithBytesAndHash) {
    Controller c(Transport::kUdp, {}, true);
    const std::string program = RandomBytes(1300, 21);
    const std::string local = c.Local("J1.NC", program);
    const std::string dncProgram = "%\r\nO0042\r\nG0 X1\r\n%\r\n";
    const struct {
        std::vector<std::string> command;
        const char *operation;
        std::string remote;
        std::string local;
        bool data;
        std::string bytes;
        std::string sha;
    } steps[] = {
        {{"mkdir", "/JOBS"}, journal::kMakeDir, "\\JOBS", "", false, "", ""},
        {{"put", local, "/JOBS/J1.NC"}, journal::kPut, "\\JOBS\\J1.NC", local, true, "1300", Hash(program)},
        {{"get", "/JOBS/J1.NC", c.WorkPath("back.nc")}, journal::kGet, "\\JOBS\\J1.NC", c.WorkPath("back.nc"), true,
         "1300", Hash(program)},
        {{"rm", "/JOBS/J1.NC"}, journal::kRemove, "\\JOBS\\J1.NC", "", false, "", ""},
        {{"rmdir", "/JOBS"}, journal::kRemoveDir, "\\JOBS", "", false, "", ""},
        // The hash is of the file, not of the bytes as sent (block 1's '%'
        // goes as CR).
        {{"dnc", c.Local("D.NC", dncProgram)}, journal::kDnc, "", c.WorkPath("D.NC"), true,
         std::to_string(dncProgram.size()), Hash(dncProgram)},
    };
    const std::string address = c.LinkArgs()[1];
    size_t expected = 0;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.command[0]);
        const Outcome run = c.Run(step.command);
        ASSERT_EQ(run.status, 0) << Describe(run);
        const auto entries = Entries(c);
        ASSERT_EQ(entries.size(), ++expected);
        const journal::Entry &e = entries.back();
        EXPECT_EQ(e.program, "dncctl");
        EXPECT_EQ(e.operation, step.operation);
        EXPECT_EQ(e.deviceId, "1");
        EXPECT_EQ(e.link, "udp");
        EXPECT_EQ(e.address, address);
        EXPECT_EQ(e.remotePath, step.remote);
        EXPECT_EQ(e.localFile, step.local);
        EXPECT_EQ(e.bytes, step.bytes);
        EXPECT_EQ(e.sha256, step.sha);
        EXPECT_EQ(e.result, "Operation Successful");
        EXPECT_EQ(e.time.size(), std::string("2024-01-02T03:04:05+00:00").size()) << e.time;
    }
    // Listing, state and search change nothing and leave no line.
    EXPECT_EQ(c.Run({"ls"}).status, 0);
    EXPECT_EQ(c.Run({"state"}).status, 0);
    EXPECT_EQ(Entries(c).size(), expected);
}

TEST(Journal, FailuresAreJournalledWithTheirTextAndTheExitStatusStands) {
    ncsim::Options options;
    options.corruptProbability = 0.1;
    options.seed = 11;
    Controller c(Transport::kUdp, options);
    const std::string bytes = RandomBytes(64 * 1024, 7);
    const Outcome verified = c.Run({"put", c.Local("C.BIN", bytes), "/V.BIN", "--verify"});
    EXPECT_EQ(verified.status, 4) << Describe(verified);

    const auto entries = Entries(c);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].operation, journal::kPut);
    EXPECT_EQ(entries[0].sha256, Hash(bytes));
    EXPECT_EQ(entries[0].result.rfind("verify failed", 0), 0u) << entries[0].result;

    Controller plain(Transport::kUdp);  // the journal is now this one's
    const Outcome missing = plain.Run({"rm", "/NOFILE.NC"});
    EXPECT_EQ(missing.status, 1);
    const auto removed = Entries(plain);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].operation, journal::kRemove);
    EXPECT_NE(removed[0].result.find("Open File Error"), std::string::npos) << removed[0].result;
}

TEST(Journal, LogPrintsAHeaderAndEveryLine) {
    Controller c(Transport::kUdp);
    Outcome log = c.Run({"log"});
    ASSERT_EQ(log.status, 0) << Describe(log);
    EXPECT_EQ(log.out, "time\tprogram\toperation\tdevice\tlink\taddress\tremote\tlocal\tbytes\tsha256\tresult\n");

    // A path holding a tab stays inside its field.
    const std::string local = c.Local("TAB\tNAME.NC", "G0\r\n");
    ASSERT_EQ(c.Run({"put", local, "/T.NC"}).status, 0);
    ASSERT_EQ(c.Run({"rm", "/T.NC"}).status, 0);
    log = c.Run({"log"});
    ASSERT_EQ(log.status, 0) << Describe(log);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = log.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(log.out.substr(at, end - at));
    ASSERT_EQ(lines.size(), 3u) << log.out;
    for (const std::string &line : lines) EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
    EXPECT_NE(lines[1].find("\tput\t1\tudp\t"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("TAB%09NAME.NC"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\trm\t"), std::string::npos) << lines[2];

    // The log needs no controller; its help is there like the others'.
    const Outcome help = clitest::Run(clitest::kDncctl, {"log", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: dncctl [options] log", 0), 0u) << help.out;
}

// Backup, restore and diff write one line per file, for the device the
// file belongs to, with the hash of the bytes that moved.
TEST(Journal, TreeCommandsLeaveALinePerFileAndDevice) {
    ncsim::Options options;
    options.ids = {1, 2};
    Controller c(Transport::kUdp, options);
    std::filesystem::create_directories(c.RootPath("PRG"));
    clitest::WriteFile(c.RootPath("PRG/O0009.NC"), RandomBytes(700, 5));
    clitest::WriteFile(c.RootPath("PRG/O0010.NC"), RandomBytes(1500, 6));
    clitest::WriteFile(c.RootPath("O1234.NC"), "O1234\r\nM30\r\n");
    const std::string folder = c.WorkPath("nightly");
    const Outcome backup = c.Run({"--id", "1,2", "backup", folder});
    ASSERT_EQ(backup.status, 0) << Describe(backup);
    const auto entries = Entries(c);
    ASSERT_EQ(entries.size(), 6u);  // three files on each device
    size_t perDevice[3] = {0, 0, 0};
    for (const journal::Entry &e : entries) {
        SCOPED_TRACE(e.remotePath);
        ASSERT_EQ(e.operation, "backup");
        ASSERT_TRUE(e.deviceId == "1" || e.deviceId == "2") << e.deviceId;
        ++perDevice[std::stoi(e.deviceId)];
        std::string relative = e.remotePath.substr(1);
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const std::string served = clitest::ReadFile(c.RootPath(relative));
        EXPECT_EQ(e.sha256, Hash(served));
        EXPECT_EQ(e.bytes, std::to_string(served.size()));
        EXPECT_EQ(e.localFile, folder + "/" + e.deviceId + "/" + relative);
        EXPECT_EQ(e.result, "Operation Successful");
    }
    EXPECT_EQ(perDevice[1], perDevice[2]);

    // A file changed at the same size (diff reads it to tell): diff says so
    // in its line, restore journals what it sent.
    const std::string changed = RandomBytes(700, 99);
    clitest::WriteFile(folder + "/1/PRG/O0009.NC", changed);
    EXPECT_EQ(c.Run({"diff", folder + "/1"}).status, 4);
    const auto afterDiff = Entries(c);
    const auto differs = std::find_if(afterDiff.begin(), afterDiff.end(), [](const journal::Entry &e) {
        return e.operation == "diff" && e.remotePath == "\\PRG\\O0009.NC";
    });
    ASSERT_NE(differs, afterDiff.end());
    EXPECT_EQ(differs->result, "differs");
    std::remove((folder + "/1/MANIFEST.sha256").c_str());
    const Outcome restore = c.Run({"restore", folder + "/1"});
    ASSERT_EQ(restore.status, 0) << Describe(restore);
    const auto afterRestore = Entries(c);
    const auto sent = std::find_if(afterRestore.begin(), afterRestore.end(), [](const journal::Entry &e) {
        return e.operation == "restore" && e.remotePath == "\\PRG\\O0009.NC";
    });
    ASSERT_NE(sent, afterRestore.end());
    EXPECT_EQ(sent->sha256, Hash(changed));
}

}  // namespace
