// Answers that arrive late or twice: a frame carries no sequence number, so
// the copy of an earlier answer looks like a fresh one. The commands must
// recognise their own answer by the block number it echoes and never take
// another's — otherwise a file's blocks shift by one and the transfer still
// reports success.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/nccmd/scripted_controller.h"
#include "nccmd/transfers.h"

namespace {

using namespace scripted_nc;

Bytes Piece(const Bytes &file, uint32_t k) {
    const size_t start = size_t(k - 1) * 512;
    return Bytes(file.begin() + long(start), file.begin() + long(std::min(file.size(), start + 512)));
}

// Serves `file` for reading, and in front of every answer repeats the
// answer it gave before (a duplicate arriving late).
Responder ServeWithRepeats(const Bytes &file) {
    auto previous = std::make_shared<Bytes>();
    return [file, previous](const Request &r) {
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        const auto blocks = static_cast<uint32_t>(nccmd::BlockCount(int32_t(file.size())));
        Bytes answer = number == 0 ? FirstAnswer(0, blocks, uint32_t(file.size()))
                                   : BlockAnswer(number, number <= blocks ? Piece(file, number) : Bytes{});
        Reply reply = previous->empty() ? Normal(answer) : AfterStrays({*previous}, Normal(answer));
        *previous = answer;
        return reply;
    };
}

TEST(AnswerMatch, RepeatedAnswersNeverShiftTheBlocksOfARead) {
    const Bytes file = Pattern(1500, 3);
    Install(ServeWithRepeats(file));
    Bytes got;
    const auto result = nccmd::ReadRemoteFile(1, "\\PRG\\F.NC", [&](const uint8_t *data, size_t n) {
        got.insert(got.end(), data, data + n);
        return true;
    });
    ASSERT_TRUE(result.Succeeded()) << int(result.code);
    EXPECT_EQ(got, file);
    EXPECT_EQ(Requests().size(), 4u);  // the repeats cost no request
}

TEST(AnswerMatch, RepeatedAnswersNeverShiftTheEntriesOfAListing) {
    Bytes listing;
    for (int i = 0; i < 40; ++i) {  // 800 bytes: two blocks
        Bytes entry(20, 0);
        entry[0] = nccmd::kAttributeFile;
        entry[1] = static_cast<uint8_t>('A' + i % 26);
        entry[2] = static_cast<uint8_t>('0' + i / 26);
        entry[16] = static_cast<uint8_t>(i);
        listing.insert(listing.end(), entry.begin(), entry.end());
    }
    Install(ServeWithRepeats(listing));
    std::vector<nccmd::ListingEntry> entries;
    ASSERT_EQ(nccmd::ListRemoteDirectory(1, "\\", &entries), 0);
    ASSERT_EQ(entries.size(), 40u);
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].size, i);
}

// One command whose answer comes behind strays; what it is left with.
TEST(AnswerMatch, EachRequestKindTakesOnlyItsOwnAnswer) {
    const Bytes three = BigEndian32(3);
    const struct {
        const char *name;
        bool write;      // a data block (write) or a block request (read)
        Reply reply;
        uint8_t code;
    } cases[] = {
        {"read: another block's answer dropped, own taken", false,
         AfterStrays({BlockAnswer(2, Text("two")), BlockAnswer(4, Text("four"))}, Normal(BlockAnswer(3, Text("3")))), 0},
        {"read: only another block's answer", false, AfterStrays({BlockAnswer(2, Text("two"))}, Silence()), 0xFF},
        {"read: an answer without a block number is no block's", false, Normal(Text("ab")), 0xFF},
        {"write: another block's answer dropped, own taken", true, AfterStrays({BigEndian32(2)}, Normal(three)), 0},
        {"write: only another block's answer", true, AfterStrays({BigEndian32(2)}, Silence()), 0xFF},
        {"write: an answer without data is taken", true, Normal({}), 0},
        {"write: an answer shorter than a block number is taken", true, Normal(Text("ab")), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Install([&](const Request &) { return c.reply; });
        uint8_t code = 0;
        if (c.write) {
            const uint8_t data[4] = {'d', 'a', 't', 'a'};
            code = nccmd::NcWriteFileBlock(1, "\\F.NC", 1500, 3, 4, data);
        } else {
            uint8_t block[nccmd::kBlockBufferSize];
            int32_t count = 0, size = 0, number = 3, length = 0;
            code = nccmd::NcReadFileBlock(1, "\\F.NC", block, &count, &size, &number, &length);
            if (code == 0) {
                EXPECT_EQ(number, 3);
                EXPECT_STREQ(reinterpret_cast<char *>(block), "3");
            }
        }
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(Requests().size(), 1u);
    }
}

// The last block of one transfer may still be answered while the next
// request waits: an opening answer that repeats that block's number is its
// answer, not the opening's. Other opening answers are taken as they come.
TEST(AnswerMatch, AnOpeningIgnoresTheRepeatOfTheBlockSentBeforeIt) {
    const Bytes opening = FirstAnswer(0, 0, 0);
    const struct {
        const char *name;
        uint32_t blockBefore;  // 0: a text request went before
        Reply reply;
        uint8_t code;
    } cases[] = {
        {"repeat of block 3 dropped", 3, AfterStrays({BigEndian32(3)}, Normal(opening)), 0},
        {"repeat of block 3 with data dropped", 3, AfterStrays({BlockAnswer(3, Text("xyz"))}, Normal(opening)), 0},
        {"only the repeat of block 3", 3, AfterStrays({BigEndian32(3)}, Silence()), 0xFF},
        {"repeat of the abort block dropped", nccmd::AbortBlockNumber,
         AfterStrays({BigEndian32(nccmd::AbortBlockNumber)}, Normal(opening)), 0},
        {"an opening numbered 7 after block 3 is taken", 3, Normal(FirstAnswer(7, 0, 0)), 0},
        {"after a text request nothing is a repeat", 0, Normal(FirstAnswer(3, 0, 0)), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        bool opening = false;
        Install([&](const Request &) { return opening ? c.reply : Normal(BigEndian32(c.blockBefore)); });
        if (c.blockBefore != 0) {
            const uint8_t data[1] = {'x'};
            ASSERT_EQ(nccmd::NcWriteFileBlock(1, "\\F.NC", 1500, int32_t(c.blockBefore), 1, data), 0);
        } else {
            ASSERT_EQ(nccmd::NcSearchId(1), 0);
        }
        opening = true;
        EXPECT_EQ(nccmd::NcDeleteFile(1, "%DeleteFile%\\O1.NC"), c.code);
    }
}

// A DNC run whose controller is busy now and then, and every answer of
// which is followed by a late copy: the controller must receive every block
// once, in order (repeats of a block it has taken are taken again, as any
// controller does for a block whose answer was lost).
TEST(AnswerMatch, DncStreamWithRepeatedAnswersSendsTheProgramInOrder) {
    const Bytes program = Pattern(2000, 9);
    const auto lastBlock = static_cast<uint32_t>(nccmd::BlockCount(int32_t(program.size())));
    Bytes received;
    uint32_t taken = 0;
    bool busyOnce = true;  // each block is answered busy once before it is taken
    Bytes previous;
    Install([&](const Request &r) {
        // A stream that went out of step would loop on busy answers.
        if (Requests().size() > 100) return Exception(0x04);
        const uint32_t number = ReadBigEndian32(r.payload, 0);
        if (number == taken + 1 && (!busyOnce || number == lastBlock)) {
            received.insert(received.end(), r.payload.begin() + 4, r.payload.end());
            taken = number;
            busyOnce = true;
        } else if (number == taken + 1) {
            busyOnce = false;
        }
        Bytes record(16, 0);
        record[nccmd::kBlockTakenOffset] = number != 0 && number <= taken ? 1 : 0;
        const Bytes answer = number == 0 ? BigEndian32(0) : BlockAnswer(number, record);
        Reply reply = previous.empty() ? Normal(answer) : AfterStrays({previous}, Normal(answer));
        previous = answer;
        return reply;
    });
    size_t offset = 0;
    auto source = [&](uint8_t *buffer, size_t n) {
        std::copy(program.begin() + long(offset), program.begin() + long(offset + n), buffer);
        offset += n;
        return true;
    };
    nccmd::DncCallbacks callbacks{};
    callbacks.source = source;
    const auto result = nccmd::RunDncStream(1, int32_t(program.size()), callbacks);
    ASSERT_TRUE(result.Succeeded()) << int(result.code);
    EXPECT_EQ(received, program);
}

}  // namespace
