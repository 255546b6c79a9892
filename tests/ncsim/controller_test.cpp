// The simulated controller's file service, request by request, on a real
// folder: what it answers, and above all what it leaves on disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ncsim/controller.h"
#include "tests/ncsim/payloads.h"
#include "ncsim/simulator.h"
#include "tests/ncsim/scratch_folder.h"

namespace fs = std::filesystem;
using namespace testing_payloads;
using ncsim::Answer;

namespace {

using testing_scratch::Slurp;
using testing_scratch::Spill;

// A sample tree as the root, next to a folder the controller must never
// reach, with links from the root to it.
class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        base = testing_scratch::MakeScratchFolder("ncsim-test");
        ASSERT_FALSE(base.empty());
        root = base / "root";
        outside = base / "outside";
        fs::create_directories(root);
        fs::create_directories(outside);
        ASSERT_TRUE(ncsim::WriteSampleTree(root.string()));
        Spill(outside / "SECRET.NC", "secret");
        // A system (or a user) that may not make links still runs every
        // other case.
        std::error_code noLinks;
        fs::create_directory_symlink(outside, root / "LINKDIR", noLinks);
        if (!noLinks) fs::create_symlink(outside / "SECRET.NC", root / "LINK.NC", noLinks);
        linksMade = !noLinks;
        ASSERT_TRUE(storage.Open(root.string()));
        controller = std::make_unique<ncsim::Controller>(storage, dnc);
    }
    void TearDown() override {
        controller.reset();  // it may hold the capture file open
        storage.Close();
        fs::remove_all(base);
    }

    Answer Read(const Bytes &payload) { return controller->Handle(0x24, payload.data(), payload.size()); }
    Answer Write(const Bytes &payload) { return controller->Handle(0x25, payload.data(), payload.size()); }

    // The whole upload in blocks, stopping at `stopBefore` (0: all blocks).
    std::vector<Answer> Upload(const std::string &path, const std::string &content, uint32_t stopBefore = 0) {
        std::vector<Answer> answers{Write(Announcement(path, uint32_t(content.size())))};
        const auto *bytes = reinterpret_cast<const uint8_t *>(content.data());
        for (uint32_t k = 1; size_t(k - 1) * 512 < content.size(); ++k) {
            if (k == stopBefore) break;
            const size_t from = size_t(k - 1) * 512;
            answers.push_back(Write(DataBlock(k, bytes + from, std::min<size_t>(512, content.size() - from))));
        }
        return answers;
    }

    std::vector<std::string> Entries(const fs::path &dir) {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path base, root, outside;
    bool linksMade = false;
    ncsim::DncSettings dnc;
    ncsim::Storage storage;
    std::unique_ptr<ncsim::Controller> controller;
};

bool IsException(const Answer &a, uint8_t code) { return a.kind == Answer::Kind::Exception && a.exceptionCode == code; }

TEST_F(ControllerTest, PathsThatLeaveTheRootAreRefusedAndTouchNothingOutside) {
    std::vector<std::string> paths = {
        "\\..\\outside\\SECRET.NC", "\\PRG\\..\\..\\outside\\SECRET.NC", "..\\outside\\SECRET.NC",
        "\\PRG\\.\\O0001.CNC",      "/etc/passwd",                         "\\PRG/../../outside/SECRET.NC",
    };
    if (linksMade) paths.insert(paths.end(), {"\\LINKDIR\\SECRET.NC", "\\LINK.NC"});
    const std::vector<std::string> before = Entries(outside);
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        for (const char *word : {"", "%DeleteFile%", "%DirList%%", "%CreateDir%", "%DeleteDir%"}) {
            SCOPED_TRACE(word);
            const Answer a = Read(TextRequest(std::string(word) + path));
            EXPECT_EQ(a.kind, Answer::Kind::Exception);
        }
        EXPECT_EQ(Upload(path, "overwritten")[0].kind, Answer::Kind::Exception);
    }
    EXPECT_EQ(Entries(outside), before);
    EXPECT_EQ(Slurp(outside / "SECRET.NC"), "secret");
    if (linksMade) {
        EXPECT_TRUE(fs::is_symlink(root / "LINK.NC"));
    }
}

TEST_F(ControllerTest, ListingShowsWhatFitsAnEntryDirectoriesFirst) {
    Spill(root / "LONGNAME9.NC", "x");    // 9-character name
    Spill(root / "A.LONGEX", "x");        // 6-character extension
    Spill(root / "O9.NC", std::string(70000, 'x'));
    const Answer first = Read(TextRequest("%DirList%%\\"));
    ASSERT_EQ(first.kind, Answer::Kind::Normal);
    const uint32_t total = BigEndianAt(first.payload, 8);
    const uint32_t blocks = BigEndianAt(first.payload, 4);
    EXPECT_EQ(blocks, (total + 511) / 512);
    Bytes listing;
    for (uint32_t k = 1; k <= blocks; ++k) {
        const Answer b = Read(BlockRequest(k));
        ASSERT_EQ(b.kind, Answer::Kind::Normal);
        EXPECT_EQ(BigEndianAt(b.payload, 0), k);
        listing.insert(listing.end(), b.payload.begin() + 4, b.payload.end());
    }
    ASSERT_EQ(listing.size(), total);
    EXPECT_EQ(EntryNames(listing), (std::vector<std::string>{"DATA", "PRG", "QVT", "O1234.NC", "O9.NC"}));
    const uint8_t *o9 = listing.data() + 4 * 20;
    EXPECT_EQ(o9[0], nccmd::kAttributeFile);
    EXPECT_EQ(nccmd::GetLittleEndian32(o9 + 16), 70000u);
    EXPECT_EQ(listing[0], nccmd::kAttributeDirectory);
    // Not listed, and not reachable by name either.
    EXPECT_TRUE(IsException(Read(TextRequest("\\LONGNAME9.NC")), ncsim::kExInvalidData));
}

TEST_F(ControllerTest, EveryListingOfADirectoryIsWhole) {
    for (const char *text : {"%DirList%%\\", "%DirList%%\\PRG\\"}) {
        uint32_t totals[3] = {};
        for (uint32_t &total : totals) {
            const Answer first = Read(TextRequest(text));
            ASSERT_EQ(first.kind, Answer::Kind::Normal) << text;
            total = BigEndianAt(first.payload, 8);
        }
        EXPECT_GT(totals[0], 0u) << text;
        EXPECT_EQ(totals[1], totals[0]) << text;
        EXPECT_EQ(totals[2], totals[0]) << text;
    }
}

TEST_F(ControllerTest, ErrorsAnswerWithTheirExceptionCodes) {
    fs::create_directories(root / "EMPTY");
    struct Case {
        const char *text;
        uint8_t code;
    } cases[] = {
        {"\\PRG\\O9999.CNC", ncsim::kExOpenFileError},
        {"%DeleteFile%\\PRG\\O9999.CNC", ncsim::kExOpenFileError},
        {"%DirList%%\\NOSUCH\\", ncsim::kExOpenFileError},
        {"%DeleteDir%\\PRG", ncsim::kExExecuteError},       // not empty
        {"%DeleteDir%\\O1234.NC", ncsim::kExExecuteError},  // a file
        {"%DeleteFile%\\PRG", ncsim::kExExecuteError},      // a directory
        {"%CreateDir%\\PRG", ncsim::kExExecuteError},       // exists
        {"\\PRG", ncsim::kExExecuteError},                  // read a directory
        {"%Format%", ncsim::kExInvalidData},
        {"%CreateDir%\\TOOLONGNAME", ncsim::kExInvalidData},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const Answer a = Read(TextRequest(c.text));
        EXPECT_TRUE(IsException(a, c.code)) << "kind " << int(a.kind) << " code " << int(a.exceptionCode);
    }
    EXPECT_TRUE(IsException(controller->Handle(0x26, nullptr, 0), ncsim::kExInvalidFunction));
    EXPECT_TRUE(IsException(Read(BlockRequest(1)), ncsim::kExInvalidData));  // nothing opened
    EXPECT_TRUE(fs::is_directory(root / "PRG"));
    EXPECT_TRUE(fs::exists(root / "O1234.NC"));
}

TEST_F(ControllerTest, DirectoriesAndFilesAreCreatedAndDeleted) {
    EXPECT_EQ(Read(TextRequest("%CreateDir%\\NEWDIR")).kind, Answer::Kind::Normal);
    EXPECT_TRUE(fs::is_directory(root / "NEWDIR"));
    EXPECT_EQ(Read(TextRequest("%DeleteDir%\\NEWDIR")).kind, Answer::Kind::Normal);
    EXPECT_FALSE(fs::exists(root / "NEWDIR"));
    EXPECT_EQ(Read(TextRequest("%DeleteFile%\\PRG\\O0003.NC")).kind, Answer::Kind::Normal);
    EXPECT_FALSE(fs::exists(root / "PRG" / "O0003.NC"));
}

TEST_F(ControllerTest, UploadReplacesTheFileOnlyAfterItsLastBlock) {
    const fs::path target = root / "PRG" / "O0001.CNC";
    const std::string old = Slurp(target);
    const std::string content(1025, 'N');  // blocks of 512, 512, 1

    std::vector<Answer> answers = Upload("\\PRG\\O0001.CNC", content, 3);
    for (const Answer &a : answers) EXPECT_EQ(a.kind, Answer::Kind::Normal) << a.note;
    EXPECT_EQ(Slurp(target), old);

    const Answer last = Write(DataBlock(3, reinterpret_cast<const uint8_t *>(content.data()) + 1024, 1));
    EXPECT_EQ(last.kind, Answer::Kind::Normal);
    EXPECT_EQ(Slurp(target), content);
    // The last block once more (its answer got lost): still fine, still once.
    EXPECT_EQ(Write(DataBlock(3, reinterpret_cast<const uint8_t *>(content.data()) + 1024, 1)).kind,
              Answer::Kind::Normal);
    EXPECT_EQ(Slurp(target), content);
    EXPECT_EQ(Entries(root / "PRG"), (std::vector<std::string>{"O0001.CNC", "O0002.CNC", "O0003.NC"}));
}

TEST_F(ControllerTest, AnUnfinishedUploadLeavesTheOldFile) {
    const fs::path target = root / "PRG" / "O0002.CNC";
    const std::string old = Slurp(target);
    const std::string content(2000, 'Z');
    const auto *bytes = reinterpret_cast<const uint8_t *>(content.data());
    struct Ending {
        const char *what;
        std::function<Answer()> end;
        bool normal;
    } endings[] = {
        // The abort block as the wire carries it, not the shared constant.
        {"abort block", [&] {
             Bytes abort{0x0F, 0xFF, 0xFF, 0xFF};
             abort.insert(abort.end(), bytes, bytes + 512);
             return Write(abort);
         }, true},
        {"new announcement", [&] { return Write(Announcement("\\O1234.NC", 0)); }, true},
        {"short block", [&] { return Write(DataBlock(3, bytes, 100)); }, false},
    };
    for (const Ending &e : endings) {
        SCOPED_TRACE(e.what);
        Upload("\\PRG\\O0002.CNC", content, 3);
        const Answer a = e.end();
        EXPECT_EQ(a.kind == Answer::Kind::Normal, e.normal) << a.note;
        // Whatever came after, the upload is gone: block 3 goes nowhere.
        EXPECT_EQ(Write(DataBlock(3, bytes + 1024, 512)).kind, Answer::Kind::Exception);
        EXPECT_EQ(Slurp(target), old);
    }
    EXPECT_TRUE(IsException(Write(DataBlock(1, bytes, 512)), ncsim::kExInvalidData));
    EXPECT_EQ(Entries(root / "PRG"), (std::vector<std::string>{"O0001.CNC", "O0002.CNC", "O0003.NC"}));
}

TEST_F(ControllerTest, EmptyUploadCreatesAnEmptyFileAtOnce) {
    EXPECT_EQ(Write(Announcement("\\DATA\\EMPTY.NC", 0)).kind, Answer::Kind::Normal);
    ASSERT_TRUE(fs::exists(root / "DATA" / "EMPTY.NC"));
    EXPECT_EQ(fs::file_size(root / "DATA" / "EMPTY.NC"), 0u);
}

TEST_F(ControllerTest, AnnouncementWhoseCountDisagreesWithItsSizeIsRefused) {
    Bytes bad = Announcement("\\NEW.NC", 1025);
    bad[7] = 2;  // two blocks announced for 1025 bytes
    EXPECT_TRUE(IsException(Write(bad), ncsim::kExInvalidData));
    EXPECT_FALSE(fs::exists(root / "NEW.NC"));
}

TEST_F(ControllerTest, StateQueryAnswersARecordWithItsFieldsInPlace) {
    const Answer first = Read(TextRequest("%SystemInfoState"));
    ASSERT_EQ(first.kind, Answer::Kind::Normal);
    EXPECT_EQ(BigEndianAt(first.payload, 4), 1u);
    EXPECT_EQ(BigEndianAt(first.payload, 8), ncsim::kStateRecordSize);
    const Answer record = Read(BlockRequest(1));
    ASSERT_EQ(record.payload.size(), 4 + ncsim::kStateRecordSize);
    EXPECT_EQ(nccmd::GetLittleEndian32(record.payload.data() + 4 + nccmd::kAbnormalCodeOffset), 0u);
}

// The DNC run: blocks, busy answers and the state record's two fields.
class DncTest : public ControllerTest {
protected:
    struct Step {
        bool taken;
        int32_t abnormal;
    };
    Step Send(uint32_t block, const std::string &data) {
        const Answer a = Write(DataBlock(block, reinterpret_cast<const uint8_t *>(data.data()), data.size()));
        EXPECT_EQ(a.kind, Answer::Kind::Normal) << a.note;
        if (a.payload.size() < 4 + nccmd::kStateRecordMinSize) return {false, -1};
        const uint8_t *record = a.payload.data() + 4;
        return {record[nccmd::kBlockTakenOffset] != 0,
                int32_t(nccmd::GetLittleEndian32(record + nccmd::kAbnormalCodeOffset))};
    }
    void Restart(ncsim::DncSettings settings) {
        settings.captureFile = (base / "capture.bin").string();
        controller = std::make_unique<ncsim::Controller>(storage, settings);
    }
    std::string Program(size_t n) {
        std::string p;
        for (size_t i = 0; i < n; ++i) p += char('A' + i % 26);
        return p;
    }
    // Sends every block like the window does, resending while busy;
    // returns the busy answers seen.
    int Stream(const std::string &program) {
        EXPECT_EQ(Write(Announcement("%NetDNCRun", uint32_t(program.size()))).kind, Answer::Kind::Normal);
        int busy = 0;
        const uint32_t blocks = uint32_t((program.size() + 511) / 512);
        for (uint32_t k = 1; k <= blocks; ++k) {
            const std::string data = program.substr(size_t(k - 1) * 512, 512);
            for (int tries = 0; tries < 100; ++tries) {
                const Step s = Send(k, data);
                if (s.taken || k == blocks) break;
                EXPECT_EQ(s.abnormal, 0);
                ++busy;
            }
        }
        return busy;
    }
};

TEST_F(DncTest, StreamsEveryByteOnceAndCapturesIt) {
    ncsim::DncSettings s;
    s.busyPerBlock = 2;
    Restart(s);
    const std::string program = Program(1300);
    EXPECT_EQ(Stream(program), 4);  // blocks 1 and 2; the last is always taken
    EXPECT_EQ(controller->DncBytesTaken(), program.size());
    EXPECT_EQ(Slurp(base / "capture.bin"), program);
}

TEST_F(DncTest, RepeatedBlockIsAnsweredTakenWithoutStreamingItTwice) {
    Restart({});
    const std::string program = Program(1024);
    ASSERT_EQ(Write(Announcement("%NetDNCRun", 1024)).kind, Answer::Kind::Normal);
    EXPECT_TRUE(Send(1, program.substr(0, 512)).taken);
    EXPECT_TRUE(Send(1, program.substr(0, 512)).taken);
    EXPECT_TRUE(Send(2, program.substr(512)).taken);
    EXPECT_EQ(Slurp(base / "capture.bin"), program);
}

TEST_F(DncTest, FullBufferAnswersBusyUntilTheMachineCatchesUp) {
    ncsim::DncSettings s;
    s.rate = 1;  // one byte per second: the buffer does not drain in this test
    Restart(s);
    const std::string program = Program(6 * 512);
    ASSERT_EQ(Write(Announcement("%NetDNCRun", uint32_t(program.size()))).kind, Answer::Kind::Normal);
    for (uint32_t k = 1; k <= 4; ++k) EXPECT_TRUE(Send(k, program.substr((k - 1) * 512, 512)).taken) << k;
    const Step full = Send(5, program.substr(4 * 512, 512));
    EXPECT_FALSE(full.taken);
    EXPECT_EQ(full.abnormal, 0);
}

TEST_F(DncTest, AbnormalStateFromTheChosenBlockOn) {
    ncsim::DncSettings s;
    s.abnormalAtBlock = 2;
    s.abnormalCode = 7;
    Restart(s);
    const std::string program = Program(2000);
    ASSERT_EQ(Write(Announcement("%NetDNCRun", 2000)).kind, Answer::Kind::Normal);
    EXPECT_EQ(Send(1, program.substr(0, 512)).abnormal, 0);
    const Step second = Send(2, program.substr(512, 512));
    EXPECT_EQ(second.abnormal, 7);
    EXPECT_FALSE(second.taken);
    EXPECT_EQ(Send(2, program.substr(512, 512)).abnormal, 7);
    EXPECT_EQ(controller->DncBytesTaken(), 512u);
}

}  // namespace
