// The journal file: its location, lines that survive any path, whole lines
// from writers racing each other.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>
#include <string>

#include "journal/journal.h"
#include "journal/sha256.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder, and the three variables the location depends on set
// for the test and put back after it.
class JournalTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/journal_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        for (const char *name : {journal::kPathVariable, "XDG_DATA_HOME", "HOME"}) {
            const char *value = getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        setenv(journal::kPathVariable, (dir_ + "/j.tsv").c_str(), 1);
    }
    void TearDown() override {
        for (const auto &[name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        fs::remove_all(dir_);
    }
    std::string dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

journal::Entry Sample(const std::string &remote) {
    journal::Entry e;
    e.program = "dncctl";
    e.operation = journal::kPut;
    e.deviceId = "7";
    e.link = "udp";
    e.address = "10.0.0.7:2232";
    e.remotePath = remote;
    e.localFile = "/home/op/O0001.NC";
    e.bytes = "3";
    e.sha256 = journal::Sha256Hex("abc", 3);
    e.result = "Operation Successful";
    return e;
}

TEST_F(JournalTest, LocationFollowsTheVariables) {
    struct Case {
        const char *journal, *xdg, *home, *expected;
    } cases[] = {
        {"/x/own.tsv", "/data", "/home/u", "/x/own.tsv"},
        {nullptr, "/data", "/home/u", "/data/dncpanel/journal.tsv"},
        {nullptr, "relative/data", "/home/u", "/home/u/.local/share/dncpanel/journal.tsv"},
        {nullptr, nullptr, "/home/u", "/home/u/.local/share/dncpanel/journal.tsv"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case &c : cases) {
        auto set = [](const char *name, const char *value) { value ? setenv(name, value, 1) : unsetenv(name); };
        set(journal::kPathVariable, c.journal);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        EXPECT_EQ(journal::JournalPath(), c.expected) << c.expected;
    }
}

TEST_F(JournalTest, AwkwardTextStaysInsideItsField) {
    const std::string awkward[] = {"\\PRG\\O1.NC", "tab\there", "line\nbreak\r\n", "100%", "%09 literal",
                                   "\xd6\xd0\xce\xc4 GBK", std::string("nul\0in", 6), ""};
    std::string error;
    for (const std::string &text : awkward) {
        journal::Entry e = Sample(text);
        e.localFile = text;
        ASSERT_TRUE(journal::Append(e, &error)) << error;
    }
    std::ifstream file(dir_ + "/j.tsv");
    std::string line;
    size_t lines = 0;
    while (std::getline(file, line)) {
        ++lines;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
    }
    EXPECT_EQ(lines, std::size(awkward));
    const auto entries = journal::ReadAll(dir_ + "/j.tsv", &error);
    ASSERT_EQ(entries.size(), std::size(awkward));
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].remotePath, awkward[i]);
        EXPECT_EQ(entries[i].localFile, awkward[i]);
        EXPECT_EQ(entries[i].deviceId, "7");
        EXPECT_EQ(entries[i].result, "Operation Successful");
        EXPECT_FALSE(entries[i].time.empty());
    }
}

// Every control byte (CR and escape included, which a reader of the file
// would not see but a terminal would act on) is written escaped: the file
// holds no byte below 0x20 but its tabs and line ends, and no DEL.
TEST_F(JournalTest, NoControlByteReachesTheFileRaw) {
    std::string every;
    for (int c = 0; c < 0x20; ++c) every += char(c);
    every += '\x7f';
    journal::Entry e = Sample(every);
    e.result = every;
    std::string error;
    ASSERT_TRUE(journal::Append(e, &error)) << error;
    std::ifstream file(dir_ + "/j.tsv", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\t'), 10);
    for (const char c : bytes) {
        if (c == '\t' || c == '\n') continue;
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == '\x7f') << "raw byte " << int(c);
    }
    const auto entries = journal::ReadAll(dir_ + "/j.tsv", &error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].remotePath, every);
    EXPECT_EQ(entries[0].result, every);
}

// The journal is a regular file or nothing: a FIFO or a device is refused
// without waiting on it, and a line far longer than any the programs write
// is skipped without being held whole.
TEST_F(JournalTest, SpecialFilesAreRefusedAndOverlongLinesSkipped) {
    std::string error;
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string &path : {fifo, std::string("/dev/zero"), std::string("/dev/null")}) {
        error.clear();
        EXPECT_FALSE(journal::Append(Sample("\\X"), &error, path)) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
        error.clear();
        EXPECT_FALSE(journal::ForEachEntry(path, [](const journal::Entry &) {}, &error)) << path;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    const std::string path = dir_ + "/long.tsv";
    ASSERT_TRUE(journal::Append(Sample("\\BEFORE"), &error, path)) << error;
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << std::string(journal::kMaxLineBytes * 3, 'x') << "\n";
    }
    ASSERT_TRUE(journal::Append(Sample("\\AFTER"), &error, path)) << error;
    std::vector<std::string> seen;
    ASSERT_TRUE(journal::ForEachEntry(path, [&](const journal::Entry &e) { seen.push_back(e.remotePath); }, &error));
    EXPECT_EQ(seen, (std::vector<std::string>{"\\BEFORE", "\\AFTER"}));
}

TEST_F(JournalTest, CreatesItsFolderAndReadsAMissingFileAsEmpty) {
    const std::string path = dir_ + "/a/b/journal.tsv";
    std::string error;
    EXPECT_TRUE(journal::ReadAll(path, &error).empty());
    EXPECT_TRUE(error.empty()) << error;
    ASSERT_TRUE(journal::Append(Sample("\\X"), &error, path)) << error;
    EXPECT_EQ(journal::ReadAll(path, &error).size(), 1u);
    // A folder where the file should be: a reason, not a crash or a success.
    fs::create_directories(dir_ + "/dir.tsv");
    EXPECT_FALSE(journal::Append(Sample("\\X"), &error, dir_ + "/dir.tsv"));
    EXPECT_NE(error.find("dir.tsv"), std::string::npos) << error;
}

TEST_F(JournalTest, WritersRacingEachOtherLeaveWholeLines) {
    constexpr int kWriters = 4;
    constexpr int kLines = 300;
    // Long lines, so a split write would show.
    const std::string remote = "\\" + std::string(600, 'R');
    for (int w = 0; w < kWriters; ++w) {
        if (fork() == 0) {
            std::string error;
            for (int i = 0; i < kLines; ++i) {
                journal::Entry e = Sample(remote);
                e.deviceId = std::to_string(w);
                if (!journal::Append(e, &error)) _exit(1);
            }
            _exit(0);
        }
    }
    for (int w = 0; w < kWriters; ++w) {
        int status = 0;
        wait(&status);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string error;
    const auto entries = journal::ReadAll(dir_ + "/j.tsv", &error);
    ASSERT_EQ(entries.size(), size_t(kWriters * kLines));
    for (const auto &e : entries) ASSERT_EQ(e.remotePath, remote);
}

}  // namespace
