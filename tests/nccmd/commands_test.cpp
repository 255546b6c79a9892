// The exact payloads each command sends, and what it makes of the answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "nccmd/nc_commands.h"
#include "tests/nccmd/scripted_controller.h"

namespace {

using namespace scripted_nc;
using nccmd::CommandPayload;

Reply Ok(const Request &) { return Normal({}); }

TEST(CommandPayloads, WorkedExamples) {
    Install([](const Request &) { return Normal(FirstAnswer(0, 0, 0)); });
    uint32_t total = 0;
    uint8_t listing[64];
    ASSERT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, sizeof listing), 0);
    ASSERT_EQ(nccmd::NcSearchId(7), 0);
    ASSERT_EQ(nccmd::NcDeleteDir(1, "%DeleteDir%\\DATA"), 0);
    int32_t length = 0;
    uint8_t data[nccmd::kDncBufferSize];
    ASSERT_EQ(nccmd::NcNetDncRun(1, 1000, 0, &length, data), 0);

    const auto &sent = Requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].function, 0x24);
    EXPECT_EQ(sent[0].payload, (Bytes{0x00, 0x00, 0x00, 0x00, 0x25, 0x44, 0x69, 0x72, 0x4C, 0x69, 0x73, 0x74, 0x25,
                                      0x25, 0x5C}));
    EXPECT_EQ(sent[1].address, 7);
    EXPECT_EQ(sent[1].function, 0x24);
    EXPECT_EQ(sent[1].payload, Concat({BigEndian32(0), Text("%SearchId")}));
    EXPECT_EQ(sent[2].payload.size(), 20u);
    EXPECT_EQ(sent[2].payload, Concat({BigEndian32(0), Text("%DeleteDir%\\DATA")}));
    EXPECT_EQ(sent[3].function, 0x25);
    EXPECT_EQ(sent[3].payload, Concat({Bytes{0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0x03, 0xE8}, Text("%NetDNCRun")}));
}

TEST(CommandPayloads, WriteAnnouncementCountsBlocks) {
    const struct {
        int32_t size;
        uint32_t blocks;
    } cases[] = {{0, 0},          {1, 1},          {512, 1},
                 {513, 2},        {1024, 2},       {1025, 3},
                 // The largest sizes must not wrap the count into a negative.
                 {INT32_MAX - 511, 4194303}, {INT32_MAX, 4194304}};
    for (const auto &c : cases) {
        Install(Ok);
        ASSERT_EQ(nccmd::NcWriteFileBlock(1, "\\PRG\\A.NC", c.size, 0, 0, nullptr), 0);
        const Request &r = Requests().at(0);
        EXPECT_EQ(r.function, 0x25);
        EXPECT_EQ(r.payload, Concat({BigEndian32(0), BigEndian32(c.blocks), BigEndian32(uint32_t(c.size)),
                                     Text("\\PRG\\A.NC")}))
            << "size " << c.size;
    }
}

TEST(CommandPayloads, DataBlockNumberIsBigEndianAndNegativeNumbersSendNothing) {
    Install(Ok);
    const uint8_t data[3] = {'G', '0', 0};
    ASSERT_EQ(nccmd::NcWriteFileBlock(1, "x", 3, 1, 3, data), 0);
    ASSERT_EQ(nccmd::NcWriteFileBlock(1, "x", 3, -1, 3, data), 0);
    int32_t count = 0, size = 0, number = -5, length = 0;
    uint8_t block[nccmd::kBlockBufferSize];
    ASSERT_EQ(nccmd::NcReadFileBlock(1, "x", block, &count, &size, &number, &length), 0);
    int32_t dncLength = 3;
    uint8_t dnc[nccmd::kDncBufferSize];
    ASSERT_EQ(nccmd::NcNetDncRun(1, 3, -2, &dncLength, dnc), 0);
    ASSERT_EQ(Requests().size(), 1u);
    EXPECT_EQ(Requests()[0].payload, (Bytes{0, 0, 0, 1, 'G', '0', 0}));
}

// Text requests, announcements and data blocks start from a cleared head of
// 520 bytes (so bytes of an earlier, longer request cannot pass for fields
// of a short answer); the rest of the buffer and everything behind a block
// request's four bytes keep what they held.
TEST(CommandPayloads, ClearedHeadOfTheSharedBuffer) {
    const auto countOf = [](uint8_t value, size_t from, size_t to) {
        return size_t(std::count(CommandPayload + from, CommandPayload + to, value));
    };
    Install(Ok);
    const struct {
        const char *what;
        std::function<void()> send;
        size_t requestLength;
    } cleared[] = {
        {"text request", [] { nccmd::NcDeleteFile(1, "%DeleteFile%\\O1.NC"); }, 4 + 20},
        {"announcement", [] { nccmd::NcWriteFileBlock(1, "\\O1.NC", 600, 0, 0, nullptr); }, 12 + 6},
        {"data block", [] {
             const uint8_t data[3] = {'G', '1', '\n'};
             nccmd::NcWriteFileBlock(1, "\\O1.NC", 600, 2, 3, data);
         }, 4 + 3},
    };
    for (const auto &c : cleared) {
        std::memset(CommandPayload, 0xAA, sizeof CommandPayload);
        c.send();
        EXPECT_EQ(countOf(0, c.requestLength, 520), 520 - c.requestLength) << c.what;
        EXPECT_EQ(countOf(0xAA, 520, sizeof CommandPayload), sizeof CommandPayload - 520) << c.what;
    }
    Install([](const Request &) { return Normal(BigEndian32(1)); });
    std::memset(CommandPayload, 0xAA, sizeof CommandPayload);
    uint8_t block[nccmd::kBlockBufferSize];
    int32_t count = 0, size = 0, number = 1, length = 0;
    ASSERT_EQ(nccmd::NcReadFileBlock(1, "\\O1.NC", block, &count, &size, &number, &length), 0);
    EXPECT_EQ(countOf(0xAA, 4, sizeof CommandPayload), sizeof CommandPayload - 4) << "block request";
}

// Texts that do not fit behind their header never reach the engine: the
// command returns 3 and no frame is sent. The longest that fits is sent.
TEST(CommandPayloads, OverlongTextsAreRefusedBeforeSending) {
    Install(Ok);
    const std::string fits(1020, 'P');
    const std::string tooLong(1021, 'P');
    EXPECT_EQ(nccmd::NcDeleteFile(1, tooLong.c_str()), 3);
    uint32_t total = 0;
    uint8_t listing[20];
    EXPECT_EQ(nccmd::NcListDir(1, tooLong.c_str(), &total, listing, sizeof listing), 3);
    EXPECT_EQ(nccmd::NcWriteFileBlock(1, std::string(1013, 'N').c_str(), 10, 0, 0, nullptr), 3);
    const uint8_t data[1021] = {};
    EXPECT_EQ(nccmd::NcWriteFileBlock(1, "x", 2000, 1, 1021, data), 3);
    EXPECT_EQ(nccmd::NcWriteFileBlock(1, "x", 2000, 1, -1, data), 3);
    EXPECT_TRUE(Requests().empty());

    EXPECT_EQ(nccmd::NcDeleteFile(1, fits.c_str()), 0);
    EXPECT_EQ(nccmd::NcWriteFileBlock(1, std::string(1012, 'N').c_str(), 10, 0, 0, nullptr), 0);
    ASSERT_EQ(Requests().size(), 2u);
    EXPECT_EQ(Requests()[0].payload.size(), 1024u);
    EXPECT_EQ(Requests()[1].payload.size(), 1024u);
}

// Listing controller: announces `blocks` blocks of `total` bytes; block k
// carries `perBlock` bytes of the value k; `failAt` answers with exception 4.
struct ListingScript {
    uint32_t blocks;
    uint32_t total;
    size_t perBlock;
    uint32_t failAt = 0;

    Reply operator()(const Request &r) const {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (number == 0) return Normal(FirstAnswer(0, blocks, total));
        if (number == failAt) return Exception(4);
        return Normal(BlockAnswer(number, Bytes(perBlock, static_cast<uint8_t>(number))));
    }
};

TEST(NcListDir, AppendsBlocksAndReportsTheAnnouncedTotal) {
    Install(ListingScript{2, 60, 30});
    uint8_t listing[100];
    std::memset(listing, 0xAB, sizeof listing);
    uint32_t total = 0;
    size_t received = 0;
    ASSERT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, sizeof listing, &received), 0);
    EXPECT_EQ(total, 60u);
    EXPECT_EQ(received, 60u);
    EXPECT_EQ(listing[29], 1);
    EXPECT_EQ(listing[30], 2);
    EXPECT_EQ(listing[60], 0xAB);
    ASSERT_EQ(Requests().size(), 3u);
    EXPECT_EQ(Requests()[2].payload, BigEndian32(2));  // a block request is the number alone
}

TEST(NcListDir, NoBlocksAnnouncedSendsOnlyTheTextRequest) {
    Install(ListingScript{0, 0, 0});
    uint8_t listing[20];
    std::memset(listing, 0xAB, sizeof listing);
    uint32_t total = 99;
    ASSERT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, sizeof listing), 0);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_EQ(listing[0], 0xAB);
}

TEST(NcListDir, FailureOnABlockReturnsItsCodeWithTotalZero) {
    Install(ListingScript{3, 60, 20, 2});
    uint8_t listing[60];
    uint32_t total = 99;
    size_t received = 0;
    EXPECT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, sizeof listing, &received), 4);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(received, 20u);
    EXPECT_EQ(Requests().size(), 3u);  // nothing after the failed block
}

TEST(NcListDir, BytesBeyondTheCapacityAreDropped) {
    Install(ListingScript{3, 300, 100});
    uint8_t listing[250 + 8];
    std::memset(listing, 0xCD, sizeof listing);
    uint32_t total = 0;
    size_t received = 0;
    ASSERT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, 250, &received), 0);
    EXPECT_EQ(received, 250u);
    EXPECT_EQ(listing[249], 3);
    EXPECT_EQ(listing[250], 0xCD);  // the guard bytes after the capacity are untouched
}

TEST(NcReadFileBlock, OpenThenBlockKeepsATerminatingZero) {
    Install([](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (number == 0) return Normal(FirstAnswer(0, 2, 700));
        // 600 data bytes: more than a block buffer takes.
        return Normal(BlockAnswer(number, Bytes(600, 'x')));
    });
    uint8_t block[nccmd::kBlockBufferSize + 4];
    std::memset(block, 0xEE, sizeof block);
    int32_t count = 0, size = 0, number = 0, length = 0;
    ASSERT_EQ(nccmd::NcReadFileBlock(1, "\\PRG\\O1.NC", block, &count, &size, &number, &length), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(size, 700);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(0), Text("\\PRG\\O1.NC")}));

    number = 1;
    ASSERT_EQ(nccmd::NcReadFileBlock(1, "\\PRG\\O1.NC", block, &count, &size, &number, &length), 0);
    EXPECT_EQ(number, 1);
    EXPECT_EQ(length, 604);
    EXPECT_EQ(nccmd::BlockDataLength(length), 512);
    EXPECT_EQ(block[511], 'x');
    EXPECT_EQ(block[512], 0);
    EXPECT_EQ(block[513], 0xEE);  // nothing written past the block buffer
}

TEST(NcReadFileBlock, FailureLeavesOutputs) {
    Install([](const Request &) { return Exception(0xE2); });
    uint8_t block[nccmd::kBlockBufferSize] = {};
    int32_t count = 7, size = 8, number = 0, length = 0;
    EXPECT_EQ(nccmd::NcReadFileBlock(1, "\\NOPE.NC", block, &count, &size, &number, &length), 0xE2);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(size, 8);
}

TEST(NcNetDncRun, AnswerReplacesTheBlockWithTheStateRecord) {
    Bytes answer = BlockAnswer(1, Bytes(16, 0));
    answer[4 + 15] = 1;
    Install([&](const Request &) { return Normal(answer); });
    uint8_t data[nccmd::kDncBufferSize];
    std::memset(data, 'G', 100);
    int32_t length = 100;
    ASSERT_EQ(nccmd::NcNetDncRun(1, 100, 1, &length, data), 0);
    EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(1), Bytes(100, 'G')}));
    EXPECT_EQ(length, 16);
    EXPECT_EQ(nccmd::BlockTaken(data, length), 1);

    answer = BigEndian32(1);  // exactly four bytes: no record
    length = 100;
    ASSERT_EQ(nccmd::NcNetDncRun(1, 100, 1, &length, data), 0);
    EXPECT_EQ(length, 0);
}

TEST(NcNetDncRun, FailureLeavesTheDataUnchanged) {
    Install([](const Request &) { return Silence(); });
    uint8_t data[nccmd::kDncBufferSize];
    std::memset(data, 'G', 10);
    int32_t length = 10;
    EXPECT_EQ(nccmd::NcNetDncRun(1, 10, 1, &length, data), 0xFF);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(data[0], 'G');
}

TEST(NcSystemInfoState, CollectsTheRecordFromItsBlocks) {
    Install([](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (number == 0) return Normal(FirstAnswer(0, 2, 24));
        return Normal(BlockAnswer(number, Bytes(12, static_cast<uint8_t>(0x10 + number))));
    });
    uint8_t state[32] = {};
    size_t received = 0;
    ASSERT_EQ(nccmd::NcSystemInfoState(1, state, sizeof state, &received), 0);
    EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(0), Text("%SystemInfoState")}));
    EXPECT_EQ(received, 24u);
    EXPECT_EQ(state[11], 0x11);
    EXPECT_EQ(state[12], 0x12);
}

TEST(NcSystemInfoState, NoBlocksLeavesTheBufferUntouched) {
    Install([](const Request &) { return Normal(FirstAnswer(0, 0, 0)); });
    uint8_t state[16];
    std::memset(state, 0x5A, sizeof state);
    ASSERT_EQ(nccmd::NcSystemInfoState(1, state, sizeof state), 0);
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_EQ(state[0], 0x5A);
}

// The core passes a device's exception code through unchanged.
TEST(TextCommands, ExceptionCodeComesBackUnchanged) {
    Install([](const Request &) { return Exception(0x04); });
    EXPECT_EQ(nccmd::NcCreateDir(1, "%CreateDir%\\NewDir"), 0x04);
    EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(0), Text("%CreateDir%\\NewDir")}));
}

}  // namespace

namespace {

// An answer too short to carry the three numbers is no opening answer of a
// read, a listing or the state query: a late 4-byte answer to a text
// command, taken as one, announced an empty file or folder. It is dropped
// like any answer meant for another request; text commands still take it.
TEST(ShortAnswers, OpeningsOfReadsNeedTheirThreeNumbers) {
    for (const size_t length : {0u, 4u, 6u, 11u}) {
        SCOPED_TRACE(length);
        Install([&](const scripted_nc::Request &) { return scripted_nc::Normal(scripted_nc::Bytes(length, 0)); }, 1);
        uint32_t total = 99;
        uint8_t listing[20];
        EXPECT_EQ(nccmd::NcListDir(1, "%DirList%%\\", &total, listing, sizeof listing), 0xFF);
        EXPECT_EQ(total, 0u);
        uint8_t block[nccmd::kBlockBufferSize];
        int32_t count = -1, size = -1, number = 0, length32 = 0;
        EXPECT_EQ(nccmd::NcReadFileBlock(1, "\\PRG\\LONGNAME.NC", block, &count, &size, &number, &length32), 0xFF);
        uint8_t state[16];
        EXPECT_EQ(nccmd::NcSystemInfoState(1, state, sizeof state), 0xFF);
        EXPECT_EQ(scripted_nc::Requests().size(), 6u);  // two tries each, no block requests at all
        EXPECT_EQ(nccmd::NcDeleteFile(1, "%DeleteFile%\\A.NC"), 0);
    }
}

}  // namespace
