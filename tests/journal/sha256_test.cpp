// The journal's SHA-256 against the published test vectors, fed whole and in
// pieces of awkward sizes (the padding and the carried-over partial block
// are where a hand-written digest goes wrong), against sha256sum on a file,
// and the tally that counts and hashes what passed through a transfer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "journal/data_tally.h"
#include "journal/sha256.h"

namespace {

struct Vector {
    const char *name;
    std::string message;
    const char *digest;
};

const std::vector<Vector> &Vectors() {
    static const std::vector<Vector> vectors = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 448 bits: the length no longer fits the first block's padding.
        {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896 bits",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopq"
         "rstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"one million a", std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Exactly one block, and one block less the padding's minimum.
        {"64 bytes", std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        {"55 bytes", std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
    };
    return vectors;
}

TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    for (const Vector &v : Vectors()) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(journal::Sha256Hex(v.message.data(), v.message.size()), v.digest);
        // Pieces that straddle block boundaries in every way, and empty ones.
        for (const size_t piece : {size_t(1), size_t(3), size_t(7), size_t(55), size_t(63), size_t(64), size_t(65),
                                   size_t(127), size_t(4093)}) {
            journal::Sha256 hash;
            for (size_t at = 0; at < v.message.size(); at += piece) {
                hash.Update(v.message.data() + at, std::min(piece, v.message.size() - at));
                hash.Update(nullptr, 0);
            }
            EXPECT_EQ(hash.HexDigest(), v.digest) << "pieces of " << piece;
        }
    }
}

TEST(Sha256, StartsAfreshAfterTheDigest) {
    journal::Sha256 hash;
    hash.Update("xyz", 3);
    hash.HexDigest();
    hash.Update("abc", 3);
    EXPECT_EQ(hash.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Every byte value in a file of a few blocks and an odd tail, checked by
// the system's own tool where there is one.
TEST(Sha256, AgreesWithSha256sumOnAFile) {
    std::string bytes;
    for (int i = 0; i < 3 * 4096 + 77; ++i) bytes += char((i * 131 + i / 256) & 0xFF);
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "dnc_sha256_test.bin";
    const std::filesystem::path answer = file.string() + ".sum";
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    const int status = std::system(("sha256sum \"" + file.string() + "\" > \"" + answer.string() + "\"").c_str());
    std::string digest;
    std::ifstream(answer) >> digest;
    std::filesystem::remove(file);
    std::filesystem::remove(answer);
    if (status != 0) GTEST_SKIP() << "no sha256sum here";
    EXPECT_EQ(journal::Sha256Hex(bytes.data(), bytes.size()), digest);
}

// A transfer asks for its digest when it ends and sometimes again (a
// comparison, a message): asking must neither reset nor change the count.
TEST(DataTally, CountsAndHashesWhatPassedAndMayBeAskedTwice) {
    journal::DataTally tally;
    EXPECT_EQ(tally.Bytes(), 0u);
    EXPECT_EQ(tally.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    tally.Add("ab", 2);
    const std::string partial = tally.HexDigest();
    tally.Add("c", 1);
    EXPECT_EQ(tally.Bytes(), 3u);
    EXPECT_EQ(tally.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(tally.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(partial, journal::Sha256Hex("ab", 2));
}

}  // namespace
