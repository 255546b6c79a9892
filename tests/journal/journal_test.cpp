// The journal file on every system: lines that survive any text, its folder
// made, a missing file read as empty, a long line skipped unread.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "tests/journal/sample_entry.h"
#include "journal/sha256.h"

namespace {

namespace fs = std::filesystem;

// A scratch folder of its own; the journal is named to every call, so no
// variable of the user's is touched.
class JournalFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = (fs::temp_directory_path() / ("journal_test." + std::to_string(std::random_device{}()))).string();
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path() const { return dir_ + "/j.tsv"; }
    std::string dir_;
};

using journaltest::Sample;

TEST_F(JournalFile, AwkwardTextStaysInsideItsField) {
    const std::string awkward[] = {"\\PRG\\O1.NC", "tab\there", "line\nbreak\r\n", "100%", "%09 literal",
                                   "\xd6\xd0\xce\xc4 GBK", std::string("nul\0in", 6), ""};
    std::string error;
    for (const std::string &text : awkward) {
        journal::Entry e = Sample(text);
        e.localFile = text;
        ASSERT_TRUE(journal::Append(e, &error, Path())) << error;
    }
    std::ifstream file(Path());
    std::string line;
    size_t lines = 0;
    while (std::getline(file, line)) {
        ++lines;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
    }
    EXPECT_EQ(lines, std::size(awkward));
    const auto entries = journal::ReadAll(Path(), &error);
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
TEST_F(JournalFile, NoControlByteReachesTheFileRaw) {
    std::string every;
    for (int c = 0; c < 0x20; ++c) every += char(c);
    every += '\x7f';
    journal::Entry e = Sample(every);
    e.result = every;
    std::string error;
    ASSERT_TRUE(journal::Append(e, &error, Path())) << error;
    std::ifstream file(Path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.back(), '\n');
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\t'), 10);
    for (const char c : bytes) {
        if (c == '\t' || c == '\n') continue;
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == '\x7f') << "raw byte " << int(c);
    }
    const auto entries = journal::ReadAll(Path(), &error);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].remotePath, every);
    EXPECT_EQ(entries[0].result, every);
}

// A line far longer than any the programs write is skipped without being
// held whole; the lines around it are read.
TEST_F(JournalFile, OverlongLinesAreSkipped) {
    std::string error;
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

TEST_F(JournalFile, CreatesItsFolderAndReadsAMissingFileAsEmpty) {
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

}  // namespace
