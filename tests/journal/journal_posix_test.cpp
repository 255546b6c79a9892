// The journal on POSIX systems: its location from the variables, FIFOs and
// devices refused, whole lines from writers racing each other, the time's
// offset from UTC.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>
#include <string>

#include "journal/journal.h"
#include "tests/journal/sample_entry.h"
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

using journaltest::Sample;

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

// The journal is a regular file or nothing: a FIFO or a device is refused
// without waiting on it.
TEST_F(JournalTest, SpecialFilesAreRefusedWithoutWaiting) {
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

// The time carries the local offset from UTC in the extended form, computed
// from the calendar (strftime's %z is not an offset everywhere); here %z
// says what it must be, in zones east and west and off the whole hour.
TEST_F(JournalTest, TimeCarriesTheLocalOffsetFromUtc) {
    const char *saved = getenv("TZ");
    const std::string old = saved ? saved : "";
    for (const char *zone : {"UTC0", "EST5", "IST-5:30", "NST3:30", "CHAST-12:45"}) {
        setenv("TZ", zone, 1);
        tzset();
        const std::string text = journal::NowText();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char z[8];
        std::strftime(z, sizeof z, "%z", &local);
        const std::string expected = std::string(z).insert(3, ":");
        ASSERT_GE(text.size(), 6u);
        EXPECT_EQ(text.substr(text.size() - 6), expected) << zone << " " << text;
    }
    if (saved) setenv("TZ", old.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

}  // namespace
