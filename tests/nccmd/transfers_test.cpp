// The whole-transfer loops against a controller played by the test: the
// order of requests, the bytes moved, abort, failures on either side.
#include "nccmd/transfers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "tests/nccmd/scripted_controller.h"

namespace {

using namespace scripted_nc;
// The wire value of the abort block, written out rather than taken from the
// constant the client and the simulator share: a change there would go
// unnoticed between the two, but not by a real controller.
constexpr uint32_t kAbort = 0x0FFFFFFF;

std::vector<uint32_t> BlockNumbers() {
    std::vector<uint32_t> numbers;
    for (const Request &r : Requests()) numbers.push_back(ReadBigEndian32(r.payload, 0));
    return numbers;
}

TEST(ReadRemoteFile, DeliversEveryByteInOrder) {
    for (size_t size : {0u, 1u, 511u, 512u, 513u, 1025u}) {
        Bytes file = Pattern(size, 7);
        if (size > 3) file[2] = 0;  // NUL bytes are data too
        Install(ServeFile(file));
        Bytes got;
        uint64_t lastDone = 0, lastTotal = 1234;
        int progressCalls = 0;
        const auto result = nccmd::ReadRemoteFile(
            1, "\\PRG\\F.NC",
            [&](const uint8_t *data, size_t n) {
                got.insert(got.end(), data, data + n);
                return true;
            },
            [&](uint64_t done, uint64_t total) {
                lastDone = done;
                lastTotal = total;
                ++progressCalls;
            });
        ASSERT_TRUE(result.Succeeded()) << "size " << size;
        EXPECT_EQ(got, file) << "size " << size;
        EXPECT_EQ(lastDone, size);
        EXPECT_EQ(lastTotal, size);
        const size_t blocks = (size + 511) / 512;
        EXPECT_EQ(progressCalls, int(blocks + 1));
        ASSERT_EQ(Requests().size(), blocks + 1);
        for (size_t k = 0; k <= blocks; ++k) EXPECT_EQ(BlockNumbers()[k], k);
        EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(0), Text("\\PRG\\F.NC")}));
    }
}

// An opening answer that announces another count or size than the blocks
// bear out (a late opening answer of an earlier read looks just like this)
// ends the read with an error; the block that does not fit never reaches
// the sink, and blocks still outstanding are ended with the abort block.
TEST(ReadRemoteFile, BlocksThatDisagreeWithTheAnnouncementFailTheRead) {
    const Bytes file = Pattern(3000, 5);  // six blocks, the last of 440 bytes
    const struct {
        const char *name;
        uint32_t blocks, size;  // what the opening answer announces
        size_t delivered;       // bytes the sink received
        std::vector<uint32_t> numbers;
    } cases[] = {
        {"fewer blocks, last one whole instead of short", 3, 1500, 1024, {0, 1, 2, 3}},
        {"a size the last block falls short of", 6, 3000 + 72, 2560, {0, 1, 2, 3, 4, 5, 6}},
        {"a size that ends inside an earlier block", 6, 2900, 2560, {0, 1, 2, 3, 4, 5, 6}},
        // The count cannot hold the size: nothing is read at all.
        {"no blocks for 1000 bytes", 0, 1000, 0, {0}},
        {"no blocks for 4 GiB", 0, 0xFFFFFFFF, 0, {0}},
        {"a negative size", 6, 0xFFFFFFFF, 0, {0, kAbort}},
        {"one block too many", 7, 3000, 0, {0, kAbort}},
        {"one block too few", 5, 3000, 0, {0, kAbort}},
        {"a huge count", 0x7FFFFFFF, 3000, 0, {0, kAbort}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Responder serve = ServeFile(file);
        Install([&](const Request &r) {
            if (ReadBigEndian32(r.payload, 0) == 0) return Normal(FirstAnswer(0, c.blocks, c.size));
            return serve(r);
        });
        size_t delivered = 0;
        const auto result = nccmd::ReadRemoteFile(1, "\\F.NC", [&](const uint8_t *, size_t n) {
            delivered += n;
            return true;
        });
        EXPECT_EQ(result.code, nccmd::kResultBlocksDisagree);
        EXPECT_EQ(delivered, c.delivered);
        // Before anything reached the sink the read is begun once more (a late
        // opening answer is the usual cause); it disagrees again.
        std::vector<uint32_t> numbers = c.numbers;
        if (c.delivered == 0) numbers.insert(numbers.end(), c.numbers.begin(), c.numbers.end());
        EXPECT_EQ(BlockNumbers(), numbers);
    }
    // A block short of 512 bytes before the last: the rest is abandoned.
    Install([&](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (number == 0) return Normal(FirstAnswer(0, 3, 1500));
        return Normal(BlockAnswer(number, Bytes(number == 1 ? 100 : 512, 'x')));
    });
    const auto result = nccmd::ReadRemoteFile(1, "\\F.NC", [](const uint8_t *, size_t) { return true; });
    EXPECT_EQ(result.code, nccmd::kResultBlocksDisagree);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort, 0, 1, kAbort}));
}

// A late opening answer of another read announces that file's numbers: the
// read fails against them before any byte is kept, and begins once more.
TEST(ReadRemoteFile, AnOpeningThatDisagreesIsAskedForOnceMore) {
    const Bytes file = Pattern(1200, 9);
    const Responder serve = ServeFile(file);
    int openings = 0;
    Install([&](const Request &r) {
        if (ReadBigEndian32(r.payload, 0) == 0 && ++openings == 1) return Normal(FirstAnswer(0, 1, 300));
        return serve(r);
    });
    Bytes got;
    const auto result = nccmd::ReadRemoteFile(1, "\\F.NC", [&](const uint8_t *data, size_t n) {
        got.insert(got.end(), data, data + n);
        return true;
    });
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(got, file);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 0, 1, 2, 3}));
}

TEST(ReadRemoteFile, AbortFromTheStartSendsOnlyTheAbortBlock) {
    Install(ServeFile(Pattern(1500, 1)));
    int sinkCalls = 0;
    const auto result = nccmd::ReadRemoteFile(
        1, "\\A.NC",
        [&](const uint8_t *, size_t) {
            ++sinkCalls;
            return true;
        },
        {}, [] { return true; });
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(result.code, 0);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, kAbort}));
    EXPECT_EQ(Requests()[1].payload, (Bytes{0x0F, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(sinkCalls, 0);
}

TEST(ReadRemoteFile, FailedBlockEndsTheRead) {
    Install(ServeFile(Pattern(1500, 1), 2));
    size_t got = 0;
    const auto result = nccmd::ReadRemoteFile(1, "\\A.NC", [&](const uint8_t *, size_t n) {
        got += n;
        return true;
    });
    EXPECT_EQ(result.code, 0x08);
    EXPECT_EQ(got, 512u);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2}));
}

// A sink that cannot keep the data (disk full) ends the read and tells the
// controller with the abort block.
TEST(ReadRemoteFile, SinkFailureSendsTheAbortBlock) {
    Install(ServeFile(Pattern(1500, 1)));
    const auto result = nccmd::ReadRemoteFile(1, "\\A.NC", [](const uint8_t *, size_t) { return false; });
    EXPECT_TRUE(result.localFailure);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort}));
}

// Keeps what a write sends: the announcement, then each block's data.
struct WriteRecorder {
    Bytes stored;
    std::vector<size_t> blockLengths;

    Responder Respond() {
        return [this](const Request &r) {
            if (ReadBigEndian32(r.payload, 0) != 0) {
                blockLengths.push_back(r.payload.size() - 4);
                stored.insert(stored.end(), r.payload.begin() + 4, r.payload.end());
            }
            return Normal({});
        };
    }
};


TEST(WriteRemoteFile, SendsAnnouncementAndBlocksOfFileBytes) {
    const struct {
        int32_t size;
        std::vector<size_t> blocks;
    } cases[] = {{0, {}}, {512, {512}}, {1024, {512, 512}}, {1025, {512, 512, 1}}};
    for (const auto &c : cases) {
        const Bytes file = Pattern(size_t(c.size), 3);
        WriteRecorder recorder;
        Install(recorder.Respond());
        size_t offset = 0;
        auto source = [&](uint8_t *buffer, size_t n) {
            std::memcpy(buffer, file.data() + offset, n);
            offset += n;
            return true;
        };
        const auto result = nccmd::WriteRemoteFile(1, "\\PRG\\W.NC", c.size, source);
        ASSERT_TRUE(result.Succeeded()) << c.size;
        EXPECT_EQ(recorder.blockLengths, c.blocks) << c.size;
        EXPECT_EQ(recorder.stored, file);
        const Bytes announcement = Requests().at(0).payload;
        EXPECT_EQ(announcement, Concat({BigEndian32(0), BigEndian32(uint32_t(c.blocks.size())),
                                        BigEndian32(uint32_t(c.size)), Text("\\PRG\\W.NC")}));
        std::vector<uint32_t> expected{0};
        for (uint32_t k = 1; k <= c.blocks.size(); ++k) expected.push_back(k);
        EXPECT_EQ(BlockNumbers(), expected);
    }
}

TEST(WriteRemoteFile, AbortSendsTheNextPieceAsTheAbortBlock) {
    const Bytes file = Pattern(1500, 5);
    WriteRecorder recorder;
    Install(recorder.Respond());
    size_t offset = 0;
    int tests = 0;
    const auto result = nccmd::WriteRemoteFile(
        1, "\\W.NC", 1500,
        [&](uint8_t *buffer, size_t n) {
            std::memcpy(buffer, file.data() + offset, n);
            offset += n;
            return true;
        },
        {}, [&] { return ++tests == 2; });
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort}));
    EXPECT_EQ(recorder.stored, Bytes(file.begin(), file.begin() + 1024));
}

// A file that cannot be read to its announced size ends the write with an
// empty abort block, so the controller does not keep a silently short file.
TEST(WriteRemoteFile, SourceFailureSendsAnEmptyAbortBlock) {
    WriteRecorder recorder;
    Install(recorder.Respond());
    int calls = 0;
    const auto result = nccmd::WriteRemoteFile(1, "\\W.NC", 1500, [&](uint8_t *, size_t) { return ++calls < 2; });
    EXPECT_TRUE(result.localFailure);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort}));
    EXPECT_EQ(Requests().back().payload.size(), 4u);
}

// A file near 2 GiB announces its true block count and its blocks are
// sent; a wrapped count would end the write after the announcement and
// report a file that never went out as written.
TEST(WriteRemoteFile, LargestSizesStillSendTheirBlocks) {
    Install([](const Request &r) {
        return ReadBigEndian32(r.payload, 0) == 2 ? Exception(0x04) : Normal({});
    });
    const auto result = nccmd::WriteRemoteFile(1, "\\BIG.NC", INT32_MAX, [](uint8_t *buffer, size_t n) {
        std::memset(buffer, 'B', n);
        return true;
    });
    EXPECT_EQ(result.code, 0x04);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(ReadBigEndian32(Requests()[0].payload, 4), 4194304u);
}

TEST(WriteRemoteFile, FailedAnnouncementSendsNoBlock) {
    Install([](const Request &) { return Exception(0x06); });
    bool read = false;
    const auto result = nccmd::WriteRemoteFile(1, "\\W.NC", 10, [&](uint8_t *, size_t) { return read = true; });
    EXPECT_EQ(result.code, 0x06);
    EXPECT_FALSE(read);
    EXPECT_EQ(Requests().size(), 1u);
}

// A controller for DNC runs: answers each data block with a 16-byte state
// record; `busy` tells per try whether it refuses the block, `abnormalAt`
// reports an abnormal state on that try.
struct DncController {
    std::function<bool(uint32_t number, int attempt)> busy = [](uint32_t, int) { return false; };
    uint32_t abnormalAt = 0;
    int32_t abnormalCode = 0;
    size_t recordLength = 16;
    Bytes taken;  // the bytes of every block taken, in order
    std::vector<uint32_t> takenNumbers;
    int attempt = 0;
    uint32_t lastNumber = 0;

    Responder Respond() {
        return [this](const Request &r) {
            const uint32_t number = ReadBigEndian32(r.payload, 0);
            if (number == 0) return Normal({});
            attempt = number == lastNumber ? attempt + 1 : 0;
            lastNumber = number;
            Bytes record(recordLength, 0);
            if (number == abnormalAt && recordLength >= 12) nccmd::PutLittleEndian32(record.data() + 8, uint32_t(abnormalCode));
            const bool refused = busy(number, attempt);
            if (!refused) {
                taken.insert(taken.end(), r.payload.begin() + 4, r.payload.end());
                takenNumbers.push_back(number);
            }
            if (recordLength > 15) record[15] = refused ? 0 : 1;
            return Normal(BlockAnswer(number, record));
        };
    }
};

struct DncRun {
    Bytes program;
    size_t offset = 0;
    Bytes shown;
    int stopWhileBusyCalls = 0;
    std::function<bool()> stop = [] { return false; };

    nccmd::TransferResult Run() {
        auto source = [this](uint8_t *buffer, size_t n) {
            std::memcpy(buffer, program.data() + offset, n);
            offset += n;
            return true;
        };
        auto sent = [this](const uint8_t *data, size_t n) {
            shown.insert(shown.end(), data, data + n);
            return true;
        };
        auto stopTest = [this] { return stop(); };
        auto onStopWhileBusy = [this] { ++stopWhileBusyCalls; };
        nccmd::DncCallbacks callbacks;
        callbacks.source = source;
        callbacks.blockSent = sent;
        callbacks.stopRequested = stopTest;
        callbacks.stopWhileBusy = onStopWhileBusy;
        return nccmd::RunDncStream(1, int32_t(program.size()), callbacks);
    }
};

TEST(RunDncStream, BusyBlocksAreResentUntilTakenAndLeadingPercentBecomesCr) {
    DncController controller;
    controller.busy = [](uint32_t number, int attempt) { return number == 2 && attempt < 3; };
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(1300, 9);
    run.program[0] = '%';
    run.program[600] = '%';
    const auto result = run.Run();
    ASSERT_TRUE(result.Succeeded());
    Bytes expected = run.program;
    expected[0] = '\r';
    EXPECT_EQ(controller.taken, expected);
    EXPECT_EQ(run.shown, expected);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2, 2, 2, 2, 3}));
    // Every resend carries the same bytes, although the answer overwrote them.
    EXPECT_EQ(Requests()[2].payload, Requests()[4].payload);
    EXPECT_EQ(Requests().at(0).payload,
              Concat({BigEndian32(0), BigEndian32(3), BigEndian32(1300), Text("%NetDNCRun")}));
}

TEST(RunDncStream, AbnormalStateEndsTheRun) {
    DncController controller;
    controller.abnormalAt = 2;
    controller.abnormalCode = 1234;
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(2000, 2);
    const auto result = run.Run();
    EXPECT_EQ(result.abnormalCode, 1234);
    EXPECT_EQ(result.code, 0);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2}));
}

TEST(RunDncStream, StopSendsTheNextBlockAsAbortBlock) {
    DncController controller;
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(2000, 4);
    int tests = 0;
    run.stop = [&] { return ++tests >= 2; };
    const auto result = run.Run();
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort}));
    EXPECT_EQ(Requests()[2].payload, Concat({BigEndian32(kAbort), Bytes(run.program.begin() + 512,
                                                                          run.program.begin() + 1024)}));
}

TEST(RunDncStream, StopWhileBusyResendsTheBlockInHandAsAbortBlock) {
    DncController controller;
    // Block 1 is refused three times, the abort block twice more.
    controller.busy = [](uint32_t number, int attempt) {
        return (number == 1 && attempt < 3) || (number == kAbort && attempt < 2);
    };
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(2000, 4);
    int tests = 0;
    run.stop = [&] { return ++tests >= 3; };  // first block test, first busy test pass
    const auto result = run.Run();
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(run.stopWhileBusyCalls, 1);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 1, kAbort, kAbort, kAbort}));
    EXPECT_EQ(controller.taken, Bytes(run.program.begin(), run.program.begin() + 512));
}

// The stop came before the block was read, so the block already goes out
// as the abort block; the controller's busy answers to it must still tell
// the operator that the run is being stopped.
TEST(RunDncStream, BusyAnswersToAnAbortBlockReportTheStop) {
    DncController controller;
    controller.busy = [](uint32_t number, int attempt) { return number == kAbort && attempt < 2; };
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(2000, 4);
    int tests = 0;
    run.stop = [&] { return ++tests >= 2; };  // seen before block 2
    const auto result = run.Run();
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort, kAbort, kAbort}));
    EXPECT_EQ(run.stopWhileBusyCalls, 1);
}

TEST(RunDncStream, RepliesWithoutARecordCountAsTaken) {
    DncController controller;
    controller.recordLength = 0;
    Install(controller.Respond());
    DncRun run;
    run.program = Pattern(1100, 1);
    const auto result = run.Run();
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2, 3}));
}

// A record of 1 to 15 bytes cannot say whether the block was taken (it used
// to move on, skipping blocks a busy controller never took): the same block
// goes again, as often as the engine's retry setting allows, and a
// controller that never sends a whole record ends the run with a code.
TEST(RunDncStream, RecordsTooShortToSayTakenAreDamage) {
    for (const size_t recordLength : {1u, 8u, 12u, 15u}) {
        SCOPED_TRACE(recordLength);
        DncController controller;
        controller.recordLength = recordLength;
        controller.busy = [](uint32_t, int) { return true; };
        Install(controller.Respond(), 2);
        DncRun run;
        run.program = Pattern(1100, 1);
        const auto result = run.Run();
        EXPECT_EQ(result.code, nccmd::kResultDamagedStateRecord);
        EXPECT_FALSE(result.Succeeded());
        EXPECT_EQ(result.bytesDone, 0u);
        EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 1, 1}));
    }
    // One damaged record among whole ones: the block is sent again and the
    // run goes on exactly.
    DncController controller;
    int answers = 0;
    Install([&](const Request &r) {
        Reply reply = controller.Respond()(r);
        if (ReadBigEndian32(r.payload, 0) == 2 && ++answers == 1) reply.payload.resize(4 + 9);
        return reply;
    }, 1);
    DncRun run;
    run.program = Pattern(1600, 3);
    const auto result = run.Run();
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2, 2, 3, 4}));
}

// A program file that fails to read in the middle of a run: the controller
// is told the stream has ended with the abort block, never sent an empty or
// partial block under the next number.
TEST(RunDncStream, ALocalReadFailureSendsTheAbortBlock) {
    DncController controller;
    Install(controller.Respond());
    const Bytes program = Pattern(2000, 4);
    size_t offset = 0;
    int reads = 0;
    nccmd::DncCallbacks callbacks;
    auto source = [&](uint8_t *buffer, size_t n) {
        if (++reads == 2) return false;
        std::memcpy(buffer, program.data() + offset, n);
        offset += n;
        return true;
    };
    callbacks.source = source;
    const auto result = nccmd::RunDncStream(1, int32_t(program.size()), callbacks);
    EXPECT_TRUE(result.localFailure);
    EXPECT_FALSE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, kAbort}));
    EXPECT_EQ(Requests().back().payload, BigEndian32(kAbort));  // and no data with it
    EXPECT_EQ(controller.takenNumbers, (std::vector<uint32_t>{1, kAbort}));
}

TEST(RunDncStream, EmptyProgramSendsOnlyTheAnnouncement) {
    DncController controller;
    Install(controller.Respond());
    DncRun run;
    const auto result = run.Run();
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0}));
}

TEST(RunDncStream, FailedExchangeEndsTheRunWithItsCode) {
    DncController controller;
    Install([&](const Request &r) {
        if (ReadBigEndian32(r.payload, 0) == 2) return Silence();
        return controller.Respond()(r);
    });
    DncRun run;
    run.program = Pattern(2000, 4);
    const auto result = run.Run();
    EXPECT_EQ(result.code, 0xFF);
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2}));
}

// A listing answer is checked against its announcement like a file: the
// blocks add up to the announced size exactly, none is empty before the
// last, and no announcement keeps the client requesting. A listing larger
// than the buffer is read until the buffer is full and ended with the abort
// block; its first 1024 entries are shown.
TEST(ListRemoteDirectory, BlocksMustAddUpToTheAnnouncement) {
    const auto entryBlock = [](uint32_t number, size_t n) {
        Bytes data(n, 0);
        for (size_t i = 0; i + 20 <= n; i += 20) {
            data[i] = 0x20;
            data[i + 1] = 'F';
        }
        return Normal(BlockAnswer(number, data));
    };
    const size_t full = nccmd::kListingBufferSize / nccmd::kBlockSize;  // 40 blocks fill the buffer
    const struct {
        const char *name;
        uint32_t blocks, size;
        size_t perBlock;
        uint8_t code;
        size_t entries;
        size_t requests;  // block requests, the abort block included
        bool abortSent;
    } cases[] = {
        {"exact", 2, 1000, 500, 0, 50, 2, false},
        {"fewer bytes than announced", 1, 100, 40, nccmd::kResultBlocksDisagree, 0, 1, false},
        {"more bytes than announced", 3, 600, 500, nccmd::kResultBlocksDisagree, 0, 3, true},
        {"no blocks for 100 bytes", 0, 100, 0, nccmd::kResultBlocksDisagree, 0, 0, false},
        {"an empty block before the last", 5, 2000, 0, nccmd::kResultBlocksDisagree, 0, 2, true},
        {"0x7FFFFFFF blocks of a huge listing", 0x7FFFFFFF, 0x7FFFFFFF, 512, 0, 1024, full + 1, true},
        {"0x7FFFFFFF blocks of a small listing", 0x7FFFFFFF, 1024, 512, nccmd::kResultBlocksDisagree, 0, 4, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Install([&](const Request &r) {
            const uint32_t number = ReadBigEndian32(r.payload, 0);
            if (r.payload.size() > 4) return Normal(FirstAnswer(0, c.blocks, c.size));
            if (number == kAbort) return Normal(BigEndian32(kAbort));
            return entryBlock(number, c.perBlock);
        });
        std::vector<nccmd::ListingEntry> entries;
        EXPECT_EQ(nccmd::ListRemoteDirectory(1, "\\PRG\\", &entries), c.code);
        EXPECT_EQ(entries.size(), c.entries);
        // A listing that disagrees is begun once more before it fails.
        EXPECT_EQ(Requests().size(), (1 + c.requests) * (c.code == nccmd::kResultBlocksDisagree ? 2 : 1));
        EXPECT_EQ(BlockNumbers().back() == kAbort, c.abortSent);
        EXPECT_EQ(Requests()[0].payload, Concat({BigEndian32(0), Text("%DirList%%\\PRG\\")}));
    }
}

// Ctrl-C (the abort test) ends a listing at the next block with the abort
// block, whatever the controller announced.
TEST(ListRemoteDirectory, TheAbortTestEndsTheListing) {
    Install([](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (r.payload.size() > 4) return Normal(FirstAnswer(0, 0x7FFFFFFF, 0x7FFFFFFF));
        return Normal(BlockAnswer(number, Bytes(number == kAbort ? 0 : 512, 0x20)));
    });
    int tests = 0;
    std::vector<nccmd::ListingEntry> entries;
    EXPECT_EQ(nccmd::ListRemoteDirectory(1, "\\", &entries, [&] { return ++tests == 3; }), nccmd::kResultStopped);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(BlockNumbers(), (std::vector<uint32_t>{0, 1, 2, kAbort}));
}

}  // namespace
