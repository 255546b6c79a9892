// The storage below the controller, call by call on a real folder: what each
// kind of name answers, that nothing but a regular file is ever read, and
// that a whole-file write leaves nothing of itself behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "ncsim/storage.h"
#include "platform/app_paths.h"
#include "tests/ncsim/scratch_folder.h"

namespace fs = std::filesystem;
using ncsim::StorageStatus;

namespace {

using testing_scratch::Slurp;
using testing_scratch::Spill;

std::vector<std::string> Names(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A root with a file, an empty and a full folder, a file one byte over the
// bound (sparse: it takes no room), and where the system allows them a link
// and a pipe.
class StorageTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = testing_scratch::MakeScratchFolder("storage-test");
        ASSERT_FALSE(base.empty());
        root = base / "root";
        fs::create_directories(root / "FULL");
        fs::create_directories(root / "EMPTY");
        Spill(root / "O1.NC", "G0X1\n");
        Spill(root / "FULL" / "O2.NC", "G1\n");
        {
            std::ofstream(root / "BIG.NC", std::ios::binary);
        }
        fs::resize_file(root / "BIG.NC", ncsim::Storage::kMaxFileSize + 1);
        std::error_code noLink;
        fs::create_symlink(root / "O1.NC", root / "LINK.NC", noLink);
        if (!noLink) fs::create_directory_symlink(root / "FULL", root / "LINKDIR", noLink);
        linksMade = !noLink;
#ifndef _WIN32
        pipeMade = mkfifo((root / "PIPE.NC").c_str(), 0644) == 0;
#endif
        ASSERT_TRUE(storage.Open(root.string()));
    }
    void TearDown() override {
        storage.Close();
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }

    fs::path base, root;
    bool linksMade = false;
    bool pipeMade = false;
    ncsim::Storage storage;
};

TEST_F(StorageTest, ReadingServesRegularFilesOnly) {
    const struct {
        const char *path;
        StorageStatus status;
        bool needsLink, needsPipe;
    } cases[] = {
        {"\\O1.NC", StorageStatus::Ok, false, false},
        {"\\FULL\\O2.NC", StorageStatus::Ok, false, false},
        {"\\NONE.NC", StorageStatus::NotFound, false, false},
        {"\\NONE\\O2.NC", StorageStatus::NotFound, false, false},
        {"\\O1.NC\\O2.NC", StorageStatus::NotFound, false, false},  // a file where a folder was named
        {"\\FULL", StorageStatus::IsDirectory, false, false},
        {"\\", StorageStatus::IsDirectory, false, false},
        {"\\BIG.NC", StorageStatus::TooLarge, false, false},
        {"\\..\\root\\O1.NC", StorageStatus::BadPath, false, false},
        {"\\LINK.NC", StorageStatus::BadPath, true, false},
        {"\\LINKDIR\\O2.NC", StorageStatus::BadPath, true, false},
        // Opened, never waited on, never read.
        {"\\PIPE.NC", StorageStatus::BadPath, false, true},
    };
    for (const auto &c : cases) {
        if ((c.needsLink && !linksMade) || (c.needsPipe && !pipeMade)) continue;
        SCOPED_TRACE(c.path);
        std::vector<uint8_t> data;
        EXPECT_EQ(storage.ReadFile(c.path, data), c.status);
        if (c.status == StorageStatus::Ok) {
            EXPECT_FALSE(data.empty());
        }
    }
    std::vector<uint8_t> data;
    ASSERT_EQ(storage.ReadFile("\\O1.NC", data), StorageStatus::Ok);
    EXPECT_EQ(std::string(data.begin(), data.end()), "G0X1\n");
}

TEST_F(StorageTest, WritesReplaceOnlyRegularFilesAndLeaveNoTrace) {
    const struct {
        const char *path;
        StorageStatus status;
        bool needsLink, needsPipe;
    } cases[] = {
        {"\\O1.NC", StorageStatus::Ok, false, false},
        {"\\NEW.NC", StorageStatus::Ok, false, false},
        {"\\FULL\\O2.NC", StorageStatus::Ok, false, false},
        {"\\EMPTY", StorageStatus::IsDirectory, false, false},
        {"\\NONE\\O3.NC", StorageStatus::NotFound, false, false},
        {"\\LINK.NC", StorageStatus::BadPath, true, false},
        {"\\PIPE.NC", StorageStatus::BadPath, false, true},
    };
    const std::string content = "%\nO3\nM30\n%\n";
    for (const auto &c : cases) {
        if ((c.needsLink && !linksMade) || (c.needsPipe && !pipeMade)) continue;
        SCOPED_TRACE(c.path);
        EXPECT_EQ(storage.CheckWritable(c.path), c.status);
        EXPECT_EQ(storage.WriteFile(c.path, std::vector<uint8_t>(content.begin(), content.end())), c.status);
    }
    EXPECT_EQ(Slurp(root / "O1.NC"), content);
    EXPECT_EQ(Slurp(root / "NEW.NC"), content);
    EXPECT_EQ(Slurp(root / "FULL" / "O2.NC"), content);
    if (linksMade) {
        EXPECT_TRUE(fs::is_symlink(root / "LINK.NC"));
    }
    // Nothing but the files themselves: no temporary name stays behind.
    for (const fs::path &dir : {root, root / "FULL"}) {
        for (const std::string &name : Names(dir)) EXPECT_NE(name[0], '.') << dir << " " << name;
    }
}

TEST_F(StorageTest, TemporaryNamesAreHiddenAndATakenOneIsPassedOver) {
    // What a process of this number left when it stopped halfway: the next
    // writes' names, taken already.
    const std::string pid = std::to_string(platform::ProcessId());
    for (int n = 1; n <= 3; ++n) Spill(root / (".ncsim-" + pid + "-" + std::to_string(n) + ".part"), "stale");
    const std::string content = "G2\n";
    ASSERT_EQ(storage.WriteFile("\\O1.NC", std::vector<uint8_t>(content.begin(), content.end())), StorageStatus::Ok);
    EXPECT_EQ(Slurp(root / "O1.NC"), content);
    EXPECT_EQ(Slurp(root / (".ncsim-" + pid + "-1.part")), "stale");

    std::vector<uint8_t> listing;
    ASSERT_EQ(storage.List("\\", listing), StorageStatus::Ok);
    EXPECT_EQ(std::string(listing.begin(), listing.end()).find("ncsim"), std::string::npos);
    std::vector<uint8_t> data;
    EXPECT_EQ(storage.ReadFile("\\.ncsim-" + pid + "-1.part", data), StorageStatus::BadPath);
}

TEST_F(StorageTest, FoldersAreMadeAndRemovedOnlyWhenTheyAreFolders) {
    const struct {
        const char *path;
        StorageStatus status;
        bool needsLink;
    } removals[] = {
        {"\\FULL", StorageStatus::NotEmpty, false},
        {"\\O1.NC", StorageStatus::NotDirectory, false},
        {"\\NONE", StorageStatus::NotFound, false},
        {"\\", StorageStatus::BadPath, false},
        {"\\LINKDIR", StorageStatus::BadPath, true},
        {"\\EMPTY", StorageStatus::Ok, false},
    };
    for (const auto &c : removals) {
        if (c.needsLink && !linksMade) continue;
        SCOPED_TRACE(c.path);
        EXPECT_EQ(storage.DeleteDir(c.path), c.status);
    }
    EXPECT_FALSE(fs::exists(root / "EMPTY"));
    EXPECT_EQ(Slurp(root / "FULL" / "O2.NC"), "G1\n");
    if (linksMade) {
        EXPECT_TRUE(fs::is_symlink(root / "LINKDIR"));
    }

    EXPECT_EQ(storage.CreateDir("\\NEWDIR"), StorageStatus::Ok);
    EXPECT_TRUE(fs::is_directory(root / "NEWDIR"));
    EXPECT_EQ(storage.CreateDir("\\NEWDIR"), StorageStatus::Exists);
    EXPECT_EQ(storage.CreateDir("\\O1.NC"), StorageStatus::Exists);
    EXPECT_EQ(storage.DeleteFile("\\FULL"), StorageStatus::IsDirectory);
    EXPECT_EQ(storage.DeleteFile("\\NONE.NC"), StorageStatus::NotFound);
    if (linksMade) {
        EXPECT_EQ(storage.DeleteFile("\\LINK.NC"), StorageStatus::BadPath);
    }
    EXPECT_EQ(storage.DeleteFile("\\FULL\\O2.NC"), StorageStatus::Ok);
    EXPECT_FALSE(fs::exists(root / "FULL" / "O2.NC"));
    EXPECT_EQ(Slurp(root / "O1.NC"), "G0X1\n");
}

}  // namespace
