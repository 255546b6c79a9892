// The platform layer's files and console parts, run on every system the
// programs are built for: what a file written whole looks like, names that
// are not ASCII, links refused where nothing may be followed, and standard
// output that passes bytes as they are.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

std::string programPath;  // this test program, for the child that writes standard output

// Bytes a text-mode stream would change: LF, CR LF, Ctrl-Z, NUL.
const std::string kBinary("A\nB\r\n\x1a\x00Z\n\xff", 11);

std::string ReadAll(const std::string &path) {
    platform::File file;
    if (platform::OpenForReading(path, platform::Links::kFollow, &file) != 0) return "<cannot open>";
    std::string bytes(4096, '\0');
    int error = 0;
    const int64_t n = file.ReadFully(bytes.data(), bytes.size(), &error);
    bytes.resize(n < 0 ? 0 : size_t(n));
    return bytes;
}

// A path as std::filesystem takes UTF-8 on every system.
fs::path Utf8Path(const std::string &text) { return fs::path(std::u8string(text.begin(), text.end())); }

class PlatformFiles : public ::testing::Test {
public:
    void SetUp() override {
        dir_ = (fs::temp_directory_path() / ("platform_test." + std::to_string(std::random_device{}()))).string();
        fs::create_directories(dir_);
        ASSERT_EQ(platform::Folder::Open(dir_, &folder_), 0);
    }
    void TearDown() override {
        folder_ = platform::Folder();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // A file written as the programs write one: a new name, then renamed.
    int WriteWhole(const std::string &name, const std::string &bytes) {
        const std::string temp = "." + name + ".part";
        platform::File file;
        if (const int error = folder_.CreateNew(temp, &file); error != 0) return error;
        if (const int error = file.WriteAll(bytes.data(), bytes.size()); error != 0) return error;
        if (const int error = file.Sync(); error != 0) return error;
        if (const int error = file.Close(); error != 0) return error;
        return folder_.Replace(temp, name);
    }
    std::string dir_;
    platform::Folder folder_;
};

TEST_F(PlatformFiles, WholeFilesNamesAndLinks) {
    const struct {
        const char *what;
        std::function<void(PlatformFiles &)> check;
    } cases[] = {
        {"a file written whole replaces the one at its name, bytes unchanged",
         [](PlatformFiles &t) {
             ASSERT_EQ(t.WriteWhole("O1.NC", "old"), 0);
             ASSERT_EQ(t.WriteWhole("O1.NC", kBinary), 0);
             EXPECT_EQ(ReadAll(t.dir_ + "/O1.NC"), kBinary);
             platform::FileInfo info;
             ASSERT_EQ(t.folder_.Lookup(".O1.NC.part", &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kMissing);
             ASSERT_EQ(t.folder_.Lookup("O1.NC", &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kFile);
             EXPECT_EQ(info.size, kBinary.size());
         }},
        {"a name that is not ASCII is written, listed and read back as the same UTF-8",
         [](PlatformFiles &t) {
             const std::string name = "\xe7\xa8\x8b\xe5\xba\x8f-\xc3\x84.NC";  // 程序-Ä.NC
             ASSERT_EQ(t.WriteWhole(name, "G0\n"), 0);
             EXPECT_TRUE(fs::exists(Utf8Path(t.dir_) / Utf8Path(name)));
             std::vector<platform::FolderEntry> entries;
             ASSERT_EQ(t.folder_.List(&entries), 0);
             ASSERT_EQ(entries.size(), 1u);
             EXPECT_EQ(entries[0].name, name);
             EXPECT_EQ(ReadAll(t.dir_ + "/" + name), "G0\n");
             platform::File file;
             ASSERT_EQ(t.folder_.OpenFile(name, &file), 0);
             EXPECT_EQ(platform::FileName(t.dir_ + "/" + name), name);
         }},
        {"a new file never lands on a name already taken",
         [](PlatformFiles &t) {
             ASSERT_EQ(t.WriteWhole("TAKEN", "mine"), 0);
             platform::File file;
             EXPECT_EQ(t.folder_.CreateNew("TAKEN", &file), EEXIST);
             EXPECT_EQ(ReadAll(t.dir_ + "/TAKEN"), "mine");
         }},
        {"links are refused wherever nothing may be followed",
         [](PlatformFiles &t) {
             ASSERT_EQ(t.WriteWhole("REAL.NC", "real"), 0);
             ASSERT_EQ(t.folder_.MakeFolder("SUB"), 0);
             std::error_code made;
             fs::create_symlink(Utf8Path(t.dir_) / "REAL.NC", Utf8Path(t.dir_) / "LINK.NC", made);
             if (!made) fs::create_directory_symlink(Utf8Path(t.dir_) / "SUB", Utf8Path(t.dir_) / "SUBLINK", made);
             if (made) {
                 // Said on the output, not passed over silently.
                 std::printf("note: no symbolic links here (%s); link refusals not checked\n", made.message().c_str());
                 return;
             }
             platform::File file;
             EXPECT_EQ(t.folder_.OpenFile("LINK.NC", &file), ELOOP);
             EXPECT_EQ(platform::OpenForReading(t.dir_ + "/LINK.NC", platform::Links::kRefuse, &file), ELOOP);
             EXPECT_EQ(platform::OpenForReading(t.dir_ + "/LINK.NC", platform::Links::kFollow, &file), 0);
             platform::Folder below;
             EXPECT_EQ(t.folder_.OpenFolder("SUBLINK", &below), ELOOP);
             EXPECT_EQ(t.folder_.OpenFolder("SUB", &below), 0);
             platform::FileInfo info;
             ASSERT_EQ(t.folder_.Lookup("LINK.NC", &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kLink);
             std::vector<platform::FolderEntry> entries;
             ASSERT_EQ(t.folder_.List(&entries), 0);
             for (const platform::FolderEntry &e : entries) {
                 const bool link = e.name == "LINK.NC" || e.name == "SUBLINK";
                 EXPECT_EQ(e.info.kind == platform::FileKind::kLink, link) << e.name;
             }
             // Removing the link leaves what it led to.
             EXPECT_EQ(t.folder_.Remove("LINK.NC"), 0);
             EXPECT_EQ(ReadAll(t.dir_ + "/REAL.NC"), "real");
         }},
        {"folders are made with their parents, never over a file",
         [](PlatformFiles &t) {
             EXPECT_EQ(platform::MakeFolders(t.dir_ + "/a/b/c"), 0);
             EXPECT_EQ(platform::MakeFolders(t.dir_ + "/a/b/c"), 0);
             EXPECT_TRUE(fs::is_directory(Utf8Path(t.dir_) / "a" / "b" / "c"));
             ASSERT_EQ(t.WriteWhole("FILE", "x"), 0);
             EXPECT_NE(platform::MakeFolders(t.dir_ + "/FILE"), 0);
             EXPECT_NE(platform::MakeFolders(t.dir_ + "/FILE/below"), 0);
             EXPECT_EQ(ReadAll(t.dir_ + "/FILE"), "x");
         }},
        {"what a path is, and a missing one",
         [](PlatformFiles &t) {
             ASSERT_EQ(t.WriteWhole("SIZED", "12345"), 0);
             platform::FileInfo info;
             ASSERT_EQ(platform::Stat(t.dir_ + "/SIZED", platform::Links::kFollow, &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kFile);
             EXPECT_EQ(info.size, 5u);
             ASSERT_EQ(platform::Stat(t.dir_, platform::Links::kFollow, &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kFolder);
             ASSERT_EQ(platform::Stat(t.dir_ + "/NONE", platform::Links::kFollow, &info), 0);
             EXPECT_EQ(info.kind, platform::FileKind::kMissing);
             platform::File file;
             EXPECT_EQ(platform::OpenForReading(t.dir_ + "/NONE", platform::Links::kFollow, &file), ENOENT);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        c.check(*this);
    }
}

// A folder goes only when it is an empty folder: nothing it holds, no file
// and no link (nor what the link leads to) is ever removed in its place.
TEST_F(PlatformFiles, RemoveFolderTakesOnlyAnEmptyFolder) {
    ASSERT_EQ(folder_.MakeFolder("EMPTY"), 0);
    ASSERT_EQ(folder_.MakeFolder("FULL"), 0);
    ASSERT_EQ(WriteWhole("FILE", "x"), 0);
    {
        platform::Folder full;
        ASSERT_EQ(folder_.OpenFolder("FULL", &full), 0);
        platform::File file;
        ASSERT_EQ(full.CreateNew("KEEP.NC", &file), 0);
        ASSERT_EQ(file.Close(), 0);
    }
    std::error_code noLink;
    fs::create_directory_symlink(Utf8Path(dir_) / "EMPTY", Utf8Path(dir_) / "LINK", noLink);
    if (noLink) std::printf("note: no symbolic links here (%s); a link's refusal not checked\n", noLink.message().c_str());

    const struct {
        const char *name;
        int error;
        platform::FileKind after;  // what the name is afterwards
    } cases[] = {
        {"LINK", ELOOP, platform::FileKind::kLink},
        {"FULL", ENOTEMPTY, platform::FileKind::kFolder},
        {"FILE", ENOTDIR, platform::FileKind::kFile},
        {"NONE", ENOENT, platform::FileKind::kMissing},
        {"EMPTY", 0, platform::FileKind::kMissing},
    };
    for (const auto &c : cases) {
        if (noLink && std::string(c.name) == "LINK") continue;
        SCOPED_TRACE(c.name);
        EXPECT_EQ(folder_.RemoveFolder(c.name), c.error);
        platform::FileInfo info;
        ASSERT_EQ(folder_.Lookup(c.name, &info), 0);
        EXPECT_EQ(info.kind, c.after);
    }
    // The link's folder was kept until it was removed itself, and the full
    // one still holds its file.
    EXPECT_EQ(ReadAll(dir_ + "/FILE"), "x");
    EXPECT_TRUE(fs::exists(Utf8Path(dir_) / "FULL" / "KEEP.NC"));
}

// Appends from two handles at once land whole, one after the other.
TEST_F(PlatformFiles, AppendsLandAtTheEndWhole) {
    const std::string path = dir_ + "/journal.tsv";
    platform::File first, second;
    ASSERT_EQ(platform::OpenForAppend(path, &first), 0);
    ASSERT_EQ(platform::OpenForAppend(path, &second), 0);
    int error = 0;
    EXPECT_EQ(first.Write("one\n", 4, &error), 4);
    EXPECT_EQ(second.Write("two\n", 4, &error), 4);
    EXPECT_EQ(first.Write("three\n", 6, &error), 6);
    first.Close();
    second.Close();
    EXPECT_EQ(ReadAll(path), "one\ntwo\nthree\n");
}

// `get -` writes a program to standard output exactly: no CR before LF,
// nothing made of Ctrl-Z or NUL. A child run of this program writes the
// bytes; the shell puts them in a file.
TEST(PlatformConsole, StandardOutputPassesBytesAsTheyAre) {
    ASSERT_FALSE(programPath.empty());
    const fs::path out = fs::temp_directory_path() / ("platform_stdout." + std::to_string(std::random_device{}()));
    // Only the program quoted: Windows' shell drops the outer quotes of a
    // line that holds more than one quoted part. The temporary folder's
    // path needs none.
    const std::string command = "\"" + programPath + "\" --write-binary-stdout > " + out.string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream file(out, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    fs::remove(out);
    EXPECT_EQ(bytes, kBinary);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "--write-binary-stdout") == 0) {
        platform::PrepareStandardStreams();
        std::fwrite(kBinary.data(), 1, kBinary.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    programPath = platform::AbsolutePath(argv[0]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
