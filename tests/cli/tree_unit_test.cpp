// The parts of backup, restore and diff that decide what is safe: names from
// the controller, the bounds of a tree walk, the manifest, the device list.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/manifest.h"
#include "cli/remote_tree.h"
#include "journal/sha256.h"

namespace {

using dncctl::NameCheck;

nccmd::ListingEntry Folder(const std::string &name) { return {0x10, name, "", 0}; }
nccmd::ListingEntry File(const std::string &name, const std::string &extension, uint32_t size) {
    return {0x20, name, extension, size};
}

TEST(RemoteNames, HostileNamesAreRefusedAndDotsSkipped) {
    const struct {
        std::string name;
        NameCheck check;
    } cases[] = {
        {"O0001.CNC", NameCheck::kUse},
        {"PRG", NameCheck::kUse},
        {"\xD6\xF7.NC", NameCheck::kUse},  // GBK bytes are names like any other
        {".", NameCheck::kSkip},
        {"..", NameCheck::kSkip},
        {"", NameCheck::kRefuse},
        {"a/b", NameCheck::kRefuse},
        {"../x", NameCheck::kRefuse},
        {"/etc", NameCheck::kRefuse},
        {"a\\b", NameCheck::kRefuse},
        {"\\PRG", NameCheck::kRefuse},
        {std::string("a\0b", 3), NameCheck::kRefuse},
        {std::string("\0", 1), NameCheck::kRefuse},
        {"a\nb", NameCheck::kRefuse},  // would split a manifest line
        {"...", NameCheck::kRefuse},
        {".hidden", NameCheck::kRefuse},
        {".O1.NC.dncctl-abc123", NameCheck::kRefuse},  // what a temporary file looks like
    };
    for (const auto &c : cases) {
        EXPECT_EQ(dncctl::CheckRemoteName(c.name), c.check) << "'" << c.name << "' (" << c.name.size() << " bytes)";
    }
}

// A controller played by a map from folder path to listing.
struct ScriptedTree {
    std::map<std::string, std::vector<nccmd::ListingEntry>> folders;
    std::vector<std::string> listed;

    dncctl::RemoteLister Lister() {
        return [this](const std::string &folder, std::vector<nccmd::ListingEntry> *entries) -> uint8_t {
            listed.push_back(folder);
            const auto it = folders.find(folder);
            if (it == folders.end()) return 0xE2;
            *entries = it->second;
            return 0;
        };
    }
};

std::vector<std::string> Paths(const dncctl::FileTree &tree) {
    std::vector<std::string> paths;
    for (const auto &e : tree.entries) paths.push_back(e.isDirectory ? e.path + "/" : e.path);
    return paths;
}

TEST(RemoteTreeWalk, HostileEntriesAreLeftOutAndTheRestWalked) {
    ScriptedTree t;
    t.folders["\\"] = {Folder("."), Folder(".."), Folder("PRG"), Folder("a/b"), File("..", "", 5),
                       File("O1", "NC", 7), File("x\\..\\..\\y", "NC", 1), File(std::string("n\0", 2), "NC", 1)};
    t.folders["\\PRG\\"] = {Folder(".."), File("O2", "CNC", 9), File("O2", "CNC", 9), Folder("O2.CNC")};
    const dncctl::RemoteWalk walk = dncctl::WalkRemoteTree(t.Lister(), "\\");
    EXPECT_EQ(walk.code, 0);
    EXPECT_EQ(Paths(walk.tree), (std::vector<std::string>{"O1.NC", "PRG/", "PRG/O2.CNC"}));
    // Refused: "a/b", "x\..\..\y.NC", the name with a zero byte (shown
    // escaped), and "PRG\O2.CNC" listed both as a file and a folder.
    ASSERT_EQ(walk.tree.problems.size(), 4u) << ::testing::PrintToString(walk.tree.problems);
    EXPECT_NE(walk.tree.problems[0].find("'a/b'"), std::string::npos) << walk.tree.problems[0];
    EXPECT_NE(walk.tree.problems[1].find("'x\\..\\..\\y.NC'"), std::string::npos) << walk.tree.problems[1];
    EXPECT_NE(walk.tree.problems[2].find("'n\\x00.NC'"), std::string::npos) << walk.tree.problems[2];
    EXPECT_NE(walk.tree.problems[3].find("both a file and a folder"), std::string::npos) << walk.tree.problems[3];
    EXPECT_EQ(t.listed, (std::vector<std::string>{"\\", "\\PRG\\"}));
}

TEST(RemoteTreeWalk, AFolderListingItselfEndsAtTheDepthBound) {
    ScriptedTree t;
    // Every path answers with a folder A inside it.
    const dncctl::RemoteLister selfListing = [&](const std::string &folder, std::vector<nccmd::ListingEntry> *entries) {
        t.listed.push_back(folder);
        *entries = {Folder("A"), File("O1", "NC", 3)};
        return uint8_t(0);
    };
    const dncctl::RemoteWalk walk = dncctl::WalkRemoteTree(selfListing, "\\");
    EXPECT_EQ(t.listed.size(), size_t(dncctl::kMaxTreeDepth) + 1);
    ASSERT_EQ(walk.tree.problems.size(), 1u);
    EXPECT_NE(walk.tree.problems[0].find("deeper than"), std::string::npos) << walk.tree.problems[0];
}

TEST(RemoteTreeWalk, AListingThatMultipliesFoldersEndsAtTheFolderBound) {
    size_t calls = 0;
    const dncctl::RemoteLister doubling = [&](const std::string &, std::vector<nccmd::ListingEntry> *entries) {
        ++calls;
        *entries = {Folder("A"), Folder("B"), Folder("C")};
        return uint8_t(0);
    };
    const dncctl::RemoteWalk walk = dncctl::WalkRemoteTree(doubling, "\\");
    EXPECT_LE(calls, dncctl::kMaxTreeFolders);
    EXPECT_LE(walk.tree.entries.size(), dncctl::kMaxTreeFolders);
    ASSERT_FALSE(walk.tree.problems.empty());
    EXPECT_NE(walk.tree.problems.back().find("folders; the rest were not listed"), std::string::npos);
}

// A hostile controller whose every folder lists 4 folders and 1020 files
// would fill memory with millions of entries: the walk stops at the bound,
// says so, and marks the tree incomplete. A tree of exactly the bound is
// walked whole.
TEST(RemoteTreeWalk, EntriesStopAtTheirBound) {
    size_t listings = 0;
    const dncctl::RemoteLister hostile = [&](const std::string &, std::vector<nccmd::ListingEntry> *entries) {
        ++listings;
        entries->clear();
        for (const char *name : {"A", "B", "C", "D"}) entries->push_back(Folder(name));
        for (int i = 0; i < 1020; ++i) entries->push_back(File("F" + std::to_string(i), "NC", 1));
        return uint8_t(0);
    };
    dncctl::RemoteWalk walk = dncctl::WalkRemoteTree(hostile, "\\");
    EXPECT_TRUE(walk.cutShort);
    EXPECT_EQ(walk.tree.entries.size(), dncctl::kMaxTreeEntries);
    EXPECT_LE(listings, dncctl::kMaxTreeEntries / 1020 + 1);
    ASSERT_FALSE(walk.tree.problems.empty());
    EXPECT_NE(walk.tree.problems.back().find("more than 65536 files and folders; the rest were not listed"),
              std::string::npos)
        << walk.tree.problems.back();

    // 64 folders of 1023 files: 65536 entries, the bound itself.
    const auto exact = [](size_t extraAtTop) {
        return [extraAtTop](const std::string &folder, std::vector<nccmd::ListingEntry> *entries) {
            entries->clear();
            if (folder == "\\") {
                for (int i = 0; i < 64; ++i) entries->push_back(Folder("D" + std::to_string(i)));
                for (size_t i = 0; i < extraAtTop; ++i) entries->push_back(File("X" + std::to_string(i), "NC", 1));
            } else {
                for (int i = 0; i < 1023; ++i) entries->push_back(File("F" + std::to_string(i), "NC", 1));
            }
            return uint8_t(0);
        };
    };
    walk = dncctl::WalkRemoteTree(exact(0), "\\");
    EXPECT_FALSE(walk.cutShort);
    EXPECT_TRUE(walk.tree.problems.empty()) << ::testing::PrintToString(walk.tree.problems);
    EXPECT_EQ(walk.tree.entries.size(), dncctl::kMaxTreeEntries);
    walk = dncctl::WalkRemoteTree(exact(1), "\\");
    EXPECT_TRUE(walk.cutShort);
    EXPECT_EQ(walk.tree.entries.size(), dncctl::kMaxTreeEntries);
}

TEST(RemoteTreeWalk, OnlyTheStartingFolderFailsTheWalk) {
    ScriptedTree t;
    t.folders["\\"] = {Folder("GONE"), File("O1", "NC", 1)};
    dncctl::RemoteWalk walk = dncctl::WalkRemoteTree(t.Lister(), "\\");
    EXPECT_EQ(walk.code, 0);
    EXPECT_EQ(Paths(walk.tree), (std::vector<std::string>{"GONE/", "O1.NC"}));
    ASSERT_EQ(walk.tree.problems.size(), 1u);
    EXPECT_NE(walk.tree.problems[0].find("\\GONE\\: cannot list"), std::string::npos) << walk.tree.problems[0];

    walk = dncctl::WalkRemoteTree(t.Lister(), "\\NONE\\");
    EXPECT_EQ(walk.code, 0xE2);
}

TEST(RemoteTreeWalk, RelativePathsJoinToRemotePaths) {
    EXPECT_EQ(dncctl::RemoteJoin("\\", "PRG/O1.NC"), "\\PRG\\O1.NC");
    EXPECT_EQ(dncctl::RemoteJoin("\\JOBS\\", "PRG", true), "\\JOBS\\PRG\\");
    EXPECT_EQ(dncctl::RemoteJoin("\\JOBS\\", "", true), "\\JOBS\\");
}

TEST(Manifest, LinesAreSha256sumsFormatAndPathsStayInside) {
    journal::Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t *>("abc"), 3);
    const std::string abc = hash.HexDigest();
    EXPECT_EQ(abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const std::string text = dncctl::ManifestText({{abc, "PRG/O2.NC"}, {abc, "O1.NC"}});
    EXPECT_EQ(text, abc + "  O1.NC\n" + abc + "  PRG/O2.NC\n");
    const dncctl::ParsedManifest back = dncctl::ParseManifest(text);
    EXPECT_TRUE(back.problems.empty());
    ASSERT_EQ(back.entries.size(), 2u);
    EXPECT_EQ(back.entries[1].path, "PRG/O2.NC");

    const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    const struct {
        std::string line;
        bool accepted;
    } cases[] = {
        {abc + " *BIN/X.BIN", true},  // sha256sum's binary mode
        {upper + "  O1.NC", true},
        {abc + "  ../outside.NC", false},
        {abc + "  /etc/passwd", false},
        {abc + "  PRG/../../x", false},
        {abc + "  PRG//O1.NC", false},
        {abc + "  .hidden", false},
        {abc + "  O1.NC\r", false},
        {abc + " O1.NC", false},
        {abc.substr(1) + "  O1.NC", false},
        {"not a line", false},
    };
    for (const auto &c : cases) {
        const dncctl::ParsedManifest parsed = dncctl::ParseManifest(c.line + "\n");
        EXPECT_EQ(parsed.entries.size(), c.accepted ? 1u : 0u) << c.line;
        EXPECT_EQ(parsed.problems.size(), c.accepted ? 0u : 1u) << c.line;
    }
}

TEST(CommandLine, DeviceListsOnlyForBackupAndDiff) {
    auto p = dncctl::ParseCommandLine({"--id", "1,2,4", "backup", "out"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.ids, (std::vector<uint8_t>{1, 2, 4}));
    EXPECT_EQ(p.options.id, 1);
    p = dncctl::ParseCommandLine({"--id", "7", "ls"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.ids, (std::vector<uint8_t>{7}));
    EXPECT_EQ(p.options.id, 7);
    p = dncctl::ParseCommandLine({"restore", "out", "/JOBS", "--dry-run", "--verify"});
    ASSERT_EQ(p.error, "");
    EXPECT_TRUE(p.options.dryRun);
    EXPECT_TRUE(p.options.verify);

    const std::vector<std::vector<std::string>> refused = {
        {"--id", "1,2", "ls"},      {"--id", "1,2", "get", "x"},  {"--id", "1,2", "restore", "out"},
        {"--id", "1,1", "backup", "o"}, {"--id", "1,,2", "diff", "o"}, {"--id", "1,", "diff", "o"},
        {"--id", "0,2", "backup", "o"}, {"backup"},                    {"diff", "a", "b", "c"},
        {"backup", "o", "--dry-run"}, {"put", "a", "--dry-run"},
    };
    for (const auto &args : refused) {
        std::string joined;
        for (const auto &a : args) joined += a + " ";
        EXPECT_NE(dncctl::ParseCommandLine(args).error, "") << joined;
    }
}

}  // namespace
