// dncctl's own logic without a controller: paths, command line, progress.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/local_files.h"
#include "cli/progress_bar.h"
#include "cli/remote_path.h"

namespace {

TEST(RemotePaths, SlashesBecomeBackslashesAndShapesFitTheCommand) {
    const struct {
        const char *typed;
        const char *file;
        const char *dir;
        const char *dirName;
    } cases[] = {
        {"", "\\", "\\", "\\"},
        {"/", "\\", "\\", "\\"},
        {"PRG", "\\PRG", "\\PRG\\", "\\PRG"},
        {"/PRG/O1.NC", "\\PRG\\O1.NC", "\\PRG\\O1.NC\\", "\\PRG\\O1.NC"},
        {"\\DATA\\", "\\DATA\\", "\\DATA\\", "\\DATA"},
        {"A/B/", "\\A\\B\\", "\\A\\B\\", "\\A\\B"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dncctl::RemoteFilePath(c.typed), c.file) << c.typed;
        EXPECT_EQ(dncctl::RemoteDirPath(c.typed), c.dir) << c.typed;
        EXPECT_EQ(dncctl::RemoteDirName(c.typed), c.dirName) << c.typed;
    }
}

TEST(RemotePaths, PutTargetDefaultsToTheLocalName) {
    EXPECT_EQ(dncctl::RemotePutPath("", "/home/op/jobs/O1.NC"), "\\O1.NC");
    EXPECT_EQ(dncctl::RemotePutPath("PRG/", "jobs/O1.NC"), "\\PRG\\O1.NC");
    EXPECT_EQ(dncctl::RemotePutPath("\\PRG\\", "O1.NC"), "\\PRG\\O1.NC");
    EXPECT_EQ(dncctl::RemotePutPath("PRG/O2.NC", "jobs/O1.NC"), "\\PRG\\O2.NC");
}

TEST(CommandLine, LinkOptionsAndCommand) {
    auto p = dncctl::ParseCommandLine({"--serial", "COM2", "--baud", "9600", "--id", "7", "--timeout", "300",
                                       "--retries", "2", "put", "a.nc", "PRG/", "--verify"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.link, dncctl::LinkChoice::kSerial);
    EXPECT_EQ(p.options.serialDevice, "COM2");
    EXPECT_EQ(p.options.baud, "9600");
    EXPECT_EQ(p.options.id, 7);
    EXPECT_EQ(p.options.timeoutMs, 300);
    EXPECT_EQ(p.options.retries, 2);
    EXPECT_EQ(p.options.command, "put");
    EXPECT_EQ(p.options.arguments, (std::vector<std::string>{"a.nc", "PRG/"}));
    EXPECT_TRUE(p.options.verify);

    p = dncctl::ParseCommandLine({"--udp", "10.0.0.5", "ls"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.udpHost, "10.0.0.5");
    EXPECT_EQ(p.options.udpPort, 2232);
    p = dncctl::ParseCommandLine({"--udp", "10.0.0.5:4000", "ls"});
    EXPECT_EQ(p.options.udpPort, 4000);
    p = dncctl::ParseCommandLine({"ls"});
    EXPECT_EQ(p.options.link, dncctl::LinkChoice::kUdp);
    EXPECT_EQ(p.options.udpHost, "127.0.0.1");
    EXPECT_EQ(p.options.udpPort, 2232);
}

TEST(CommandLine, RefusedLines) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"--id"},
        {"--id", "256", "ls"},
        {"--retries", "-1", "ls"},
        {"--timeout", "0", "ls"},
        {"--udp", "host:0", "ls"},
        {"--serial", "/dev/ttyS0", "--baud", "115201", "ls"},
        {"--baud", "9600", "ls"},
        {"--frob", "ls"},
        {"ls", "a", "b"},
        {"put"},
        {"ls", "--verify"},
        {"get", "--verify", "--no-verify", "x"},
        {"search", "1"},
        {"state", "x"},
    };
    for (const auto &args : refused) {
        std::string joined;
        for (const auto &a : args) joined += a + " ";
        EXPECT_NE(dncctl::ParseCommandLine(args).error, "") << joined;
    }
}

// Each command's synopsis names it, and the parser takes exactly the
// argument counts the table gives: the help, the parser and the dispatch
// cannot drift apart.
TEST(CommandLine, EveryCommandOfTheTableParsesAsItsSynopsisSays) {
    ASSERT_EQ(dncctl::CommandTable().size(), 13u);
    for (const auto &[name, spec] : dncctl::CommandTable()) {
        SCOPED_TRACE(name);
        const std::string usage = spec.usage;
        const std::string synopsis = usage.substr(0, usage.find('\n'));
        EXPECT_TRUE(synopsis == name || synopsis.rfind(name + " ", 0) == 0) << synopsis;
        EXPECT_NE(spec.run, nullptr);
        for (size_t n = 0; n <= spec.maxArgs + 1; ++n) {
            std::vector<std::string> args = {"--udp", "127.0.0.1", name};
            for (size_t i = 0; i < n; ++i) args.push_back("1");
            const bool fits = n >= spec.minArgs && n <= spec.maxArgs;
            EXPECT_EQ(dncctl::ParseCommandLine(args).error.empty(), fits) << n << " arguments";
        }
    }
    // The journal is local: printing it opens no link.
    EXPECT_FALSE(dncctl::CommandTable().at("log").needsLink);
    EXPECT_TRUE(dncctl::CommandTable().at("dnc").needsLink);
}

TEST(CommandLine, BaudRatesFromTheControllersList) {
    EXPECT_EQ(dncctl::BaudIndex("115200"), 16);
    EXPECT_EQ(dncctl::BaudIndex("134.5"), 3);
    EXPECT_EQ(dncctl::BaudIndex("9601"), -1);
}

// A file named close to the file system's limit still gets a temporary
// name within it, hidden and recognisable as dncctl's.
TEST(TemporaryNames, StayWithinTheNameLimit) {
    for (const size_t length : {size_t(1), size_t(200), size_t(240), size_t(255)}) {
        const std::string name(length, 'n');
        const std::string temp = dncctl::WholeFileWriter::TemporaryName(name, "abc123", 255);
        EXPECT_LE(temp.size(), 255u) << length;
        EXPECT_EQ(temp.front(), '.');
        EXPECT_EQ(temp.substr(temp.size() - 14), ".dncctl-abc123");
        EXPECT_EQ(temp.substr(1, std::min<size_t>(length, 8)), name.substr(0, 8));
    }
    EXPECT_EQ(dncctl::WholeFileWriter::TemporaryName("O1.NC", "abc123", 255), ".O1.NC.dncctl-abc123");
}

// A long name that is not ASCII is cut between characters, never inside
// one: Windows takes names as UTF-16 and refuses text that is not UTF-8.
TEST(TemporaryNames, ACutNameIsStillUtf8) {
    std::string name;
    for (int i = 0; i < 100; ++i) name += "\xe7\xa8\x8b";  // 程, three bytes
    for (const size_t limit : {size_t(255), size_t(254), size_t(253), size_t(40)}) {
        const std::string temp = dncctl::WholeFileWriter::TemporaryName(name, "abc123", limit);
        EXPECT_LE(temp.size(), limit);
        const std::string kept = temp.substr(1, temp.size() - 15);
        EXPECT_EQ(kept.size() % 3, 0u) << limit;
        EXPECT_EQ(kept, name.substr(0, kept.size())) << limit;
        EXPECT_GE(kept.size() + 3, limit - 15) << limit;  // no more cut than one character
    }
}

TEST(ProgressBar, LineShowsBytesRateAndTimeLeft) {
    const std::string line = dncctl::ProgressBar::Line("get", 512 * 1024, 1024 * 1024, 2.0);
    EXPECT_NE(line.find("512.0 KiB / 1.0 MiB"), std::string::npos) << line;
    EXPECT_NE(line.find("256.0 KiB/s"), std::string::npos) << line;
    EXPECT_NE(line.find("0:02 left"), std::string::npos) << line;
    EXPECT_NE(line.find("[############            ]"), std::string::npos) << line;
}

}  // namespace
