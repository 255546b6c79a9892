// The read-back comparison behind every verify and diff: where the first
// difference is, how far the read goes, and failures on either side.
#include "nccmd/compare_remote.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/nccmd/scripted_controller.h"

namespace {

using namespace scripted_nc;
constexpr uint32_t kAbort = 0x0FFFFFFF;

// Hands out `bytes` in order, as a local file would.
struct Source {
    Bytes bytes;
    size_t at = 0;
    int64_t operator()(uint8_t *buffer, size_t n) {
        const size_t got = std::min(n, bytes.size() - at);
        std::memcpy(buffer, bytes.data() + at, got);
        at += got;
        return int64_t(got);
    }
};

TEST(CompareRemoteFile, FindsTheFirstDifferenceAndReadsAsFarAsAsked) {
    const Bytes remote = Pattern(1300, 3);  // an opening and 3 blocks
    auto changedAt = [&](size_t at) {
        Bytes b = remote;
        b[at] ^= 0x40;
        return b;
    };
    const struct {
        const char *name;
        Bytes expected;
        bool stop;
        uint64_t difference;
        std::vector<uint32_t> blocks;  // requested, in order
    } cases[] = {
        {"same", remote, false, nccmd::kNoDifference, {0, 1, 2, 3}},
        {"same, stopping", remote, true, nccmd::kNoDifference, {0, 1, 2, 3}},
        {"block 2 differs", changedAt(700), false, 700, {0, 1, 2, 3}},
        {"block 2 differs, stopping", changedAt(700), true, 700, {0, 1, 2, kAbort}},
        {"first byte", changedAt(0), true, 0, {0, 1, kAbort}},
        {"last byte", changedAt(1299), false, 1299, {0, 1, 2, 3}},
        {"local shorter", Bytes(remote.begin(), remote.begin() + 1000), false, 1000, {0, 1, 2, 3}},
        {"local longer", [&] { Bytes b = remote; b.push_back(1); return b; }(), false, 1300, {0, 1, 2, 3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Install(ServeFile(remote));
        Source source{c.expected};
        const nccmd::Comparison r = nccmd::CompareRemoteFile(1, "\\F.NC", c.expected.size(), source, c.stop);
        EXPECT_EQ(r.firstDifference, c.difference);
        EXPECT_EQ(r.Same(), c.difference == nccmd::kNoDifference);
        EXPECT_EQ(r.remoteSize, 1300u);
        EXPECT_FALSE(r.read.localFailure);  // a stop at a difference is no failure
        EXPECT_EQ(r.read.code, 0);
        std::vector<uint32_t> blocks;
        for (const Request &q : Requests()) blocks.push_back(ReadBigEndian32(q.payload, 0));
        EXPECT_EQ(blocks, c.blocks);
    }
}

TEST(CompareRemoteFile, FailuresOnEitherSideAreNotDifferences) {
    const Bytes remote = Pattern(1300, 5);
    // The controller fails block 2: its code, no difference claimed.
    Install(ServeFile(remote, 2));
    Source source{remote};
    nccmd::Comparison r = nccmd::CompareRemoteFile(1, "\\F.NC", remote.size(), source, false);
    EXPECT_EQ(r.read.code, 0x08);
    EXPECT_EQ(r.firstDifference, nccmd::kNoDifference);
    EXPECT_FALSE(r.Same());

    // The local bytes cannot be read: the read ends with the abort block.
    Install(ServeFile(remote));
    r = nccmd::CompareRemoteFile(1, "\\F.NC", remote.size(), [](uint8_t *, size_t) -> int64_t { return -1; }, false);
    EXPECT_TRUE(r.read.localFailure);
    EXPECT_FALSE(r.Same());
    EXPECT_EQ(ReadBigEndian32(Requests().back().payload, 0), kAbort);
}

}  // namespace
