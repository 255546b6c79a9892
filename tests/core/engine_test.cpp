// The request engine against a scripted link. Compiled once per build of the
// engine; expectations that differ between the builds say so.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/core/fake_clock.h"
#include "core/request_engine.h"
#include "tests/core/scripted_link.h"

namespace {

using scripted::Answer;

constexpr uint8_t kRead = core::kReadFunction;
constexpr uint8_t kWrite = core::kWriteFunction;
constexpr int32_t kByteTimeout = 50;  // virtual ms (or empty polls)

// The first ModbusInit of the process clears callbacks registered before it;
// later calls keep them. Checked once, before any test initialises.
bool firstInitCleared = false;
bool laterInitKept = false;
int firstInitSendCalls = 0;

void CountingSend(const char *) { ++firstInitSendCalls; }
uint8_t SilentReceive(uint8_t *, int32_t *) { return 255; }

class FirstInitProbe : public ::testing::Environment {
public:
    void SetUp() override {
        uint8_t buffer[core::kMaxPayload] = {};
        uint16_t length = 0;
        core::SetUartReceiveFun(SilentReceive);
        core::SetUartSendFrameFun(CountingSend);
        core::ModbusInit(1, 0, 0);
        firstInitCleared = core::ModbusReadFileReq(1, &length, buffer) == core::kResultNoAnswer &&
                           firstInitSendCalls == 0;
        core::SetUartReceiveFun(SilentReceive);
        core::SetUartSendFrameFun(CountingSend);
        core::ModbusInit(2, 0, 0);
        length = 0;
        core::ModbusReadFileReq(1, &length, buffer);
        laterInitKept = firstInitSendCalls == 1;
    }
};
const auto *const probe = ::testing::AddGlobalTestEnvironment(new FirstInitProbe);

TEST(EngineInit, FirstInitClearsCallbacksLaterInitsKeepThem) {
    EXPECT_TRUE(firstInitCleared);
    EXPECT_TRUE(laterInitKept);
}

TEST(EngineInit, StoresSettings) {
    core::ModbusInit(7, 600, 5);
    EXPECT_EQ(core::CurrentEngineSettings().address, 7);
    EXPECT_EQ(core::CurrentEngineSettings().timeout, 600);
    EXPECT_EQ(core::CurrentEngineSettings().retries, 5);
}

struct Outcome {
    uint8_t code;
    uint16_t length;
    std::string buffer;  // the first `length` bytes
};

Outcome Request(uint8_t function, const std::string &payload) {
    uint8_t buffer[core::kMaxPayload] = {};
    std::memcpy(buffer, payload.data(), payload.size());
    uint16_t length = static_cast<uint16_t>(payload.size());
    const uint8_t code = function == kRead ? core::ModbusReadFileReq(1, &length, buffer)
                                           : core::ModbusWriteFileReq(1, &length, buffer);
    return {code, length, std::string(reinterpret_cast<char *>(buffer), std::min<size_t>(length, sizeof buffer))};
}

std::string Without(std::string frame, size_t tail) { return frame.substr(0, frame.size() - tail); }

TEST(EngineFrames, WorkedExamples) {
    scripted::Install(0, 0, {});
    Request(kRead, "abc");
    Request(kWrite, "abc");
    Request(kRead, "");
    ASSERT_EQ(scripted::Sent().size(), 3u);
    EXPECT_EQ(scripted::Sent()[0], ":012400036162633E\r\n");
    EXPECT_EQ(scripted::Sent()[1], ":012500036162633D\r\n");
    EXPECT_EQ(scripted::Sent()[2], NormalFrame(1, kRead, ""));
    EXPECT_EQ(scripted::Sent()[2].size(), 13u);
    EXPECT_EQ(ExceptionFrame(1, 0xA4, 5), ":01A405C5\r\n");  // the oracle agrees with the worked example
}

// The checksum covers (8 + 2n) mod 256 characters after ':'.
TEST(EngineFrames, ChecksumCoversCountModulo256) {
    const struct {
        size_t payload;
        size_t covered;
    } cases[] = {{0, 8}, {3, 14}, {123, 254}, {124, 0}, {125, 2}, {512, 8}, {516, 16}, {1024, 8}};
    for (const auto &c : cases) {
        std::string payload(c.payload, '\0');
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 37 + 11);
        scripted::Install(0, 0, {});
        Request(kRead, payload);
        const std::string frame = scripted::Sent().at(0);
        ASSERT_EQ(frame.size(), core::FrameLength(c.payload));
        uint8_t sum = 0;
        for (size_t i = 0; i < c.covered; ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(frame[1 + i]));
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", static_cast<uint8_t>(-sum));
        EXPECT_EQ(frame.substr(frame.size() - 4, 2), expected) << "payload " << c.payload;
    }
}

TEST(EngineFrames, PayloadBeyondCoveredCharactersLeavesChecksumUnchanged) {
    scripted::Install(0, 0, {});
    std::string payload(516, 'x');
    Request(kRead, payload);
    payload[4] = 'y';  // its characters sit past the 16 covered ones
    Request(kRead, payload);
    const auto &sent = scripted::Sent();
    EXPECT_NE(sent[0], sent[1]);
    EXPECT_EQ(sent[0].substr(sent[0].size() - 4), sent[1].substr(sent[1].size() - 4));
}

TEST(EngineFrames, LargestPayloadTravelsBothWays) {
    std::string payload(core::kMaxPayload, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 13);
    std::string answer = payload;
    std::reverse(answer.begin(), answer.end());
    for (int32_t timeout : {0, kByteTimeout}) {
        scripted::Install(timeout, 0, {{NormalFrame(1, kRead, answer)}});
        const Outcome outcome = Request(kRead, payload);
        EXPECT_EQ(scripted::Sent().at(0).size(), 2061u);
        EXPECT_EQ(outcome.code, 0) << "timeout " << timeout;
        EXPECT_EQ(outcome.buffer, answer);
    }
}

TEST(EngineRequests, TooLongOrUnregisteredCallsNothing) {
    scripted::Install(0, 5, {});
    uint8_t buffer[core::kMaxPayload + 1] = {};
    uint16_t length = core::kMaxPayload + 1;
    EXPECT_EQ(core::ModbusReadFileReq(1, &length, buffer), core::kResultRequestTooLong);
    EXPECT_EQ(core::ModbusWriteFileReq(1, &length, buffer), core::kResultRequestTooLong);
    core::SetUartReceiveFun(nullptr);
    length = 3;
    EXPECT_EQ(core::ModbusReadFileReq(1, &length, buffer), core::kResultNoAnswer);
    EXPECT_TRUE(scripted::Sent().empty());
    EXPECT_EQ(scripted::ReceiveCalls(), 0);
}

TEST(EngineRequests, RetrySettingBoundsFramesSent) {
    const struct {
        int32_t retries;
        size_t frames;
    } cases[] = {{-1, 1}, {0, 1}, {5, 6}};
    for (int32_t timeout : {0, kByteTimeout}) {
        for (const auto &c : cases) {
            scripted::Install(timeout, c.retries, {});
            EXPECT_EQ(Request(kRead, "abc").code, core::kResultNoAnswer);
            ASSERT_EQ(scripted::Sent().size(), c.frames) << "retries " << c.retries << " timeout " << timeout;
            for (const auto &frame : scripted::Sent()) EXPECT_EQ(frame, ":012400036162633E\r\n");
        }
    }
}

TEST(EngineRequests, RetryResendsTheRequestAfterARejectedAnswerOverwroteTheBuffer) {
    std::string corrupted = NormalFrame(1, kRead, "0123456789");
    corrupted[12] ^= 1;  // one payload digit off: checksum mismatch
    scripted::Install(0, 3, {{corrupted}, {NormalFrame(2, kRead, "zz")}, {NormalFrame(1, kRead, "ok")}});
    const Outcome outcome = Request(kRead, "abc");
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.buffer, "ok");
    ASSERT_EQ(scripted::Sent().size(), 3u);
    EXPECT_EQ(scripted::Sent()[1], scripted::Sent()[0]);
    EXPECT_EQ(scripted::Sent()[2], scripted::Sent()[0]);
}

// What the buffer holds after an outcome.
enum class Holds { Answer, Request, Unspecified };

// An answer the library build takes as final: a device's verdict (a valid
// exception answer) or a function code no retry can change.
enum class Verdict { Check, Device };

struct CheckCase {
    const char *name;
    std::string answer;
    uint8_t byteCode;   // result in byte mode
    uint8_t blockCode;  // result in block mode
    Holds holds;
    Verdict verdict = Verdict::Check;
    std::string answerPayload = "xyz";
};

size_t FramesFor(uint8_t code, Verdict verdict, size_t tries) {
    if (code == core::kResultOk) return 1;
    return core::kFilelinkBuild && verdict == Verdict::Device ? 1 : tries;
}

std::vector<CheckCase> CheckCases() {
    const std::string good = NormalFrame(1, kRead, "xyz");
    std::string badChecksum = good;
    badChecksum[good.size() - 3] = badChecksum[good.size() - 3] == '0' ? '1' : '0';
    const auto device = Verdict::Device;
    return {
        {"valid answer", good, 0, 0, Holds::Answer},
        {"empty answer", NormalFrame(1, kRead, ""), 0, 0, Holds::Answer, Verdict::Check, ""},
        {"no start sign", "X" + good.substr(1), 0xA0, 0xFF, Holds::Request},
        {"other address", NormalFrame(2, kRead, "xyz"), 0xA1, 0xA1, Holds::Request},
        {"length over 1024", ":01240401\r\n", 0xA2, 0xA2, Holds::Request},
        {"checksum", badChecksum, 0xA3, 0xA3, Holds::Answer},
        {"length beyond the received frame", ":01240005616263\r\n", 0xA3, 0xA3, Holds::Unspecified},
        {"no CR", Without(good, 2) + "X\r\n", 0xA4, 0xA4, Holds::Answer},
        {"no LF", Without(good, 2) + "\rX\r\n", 0xA5, 0xA5, Holds::Answer},
        {"exception 5", ":01A405C5\r\n", 5, 5, Holds::Request, device},
        {"exception 3 reads as the engine's 3", ExceptionFrame(1, 0xA4, 3), 3, 3, Holds::Request, device},
        {"exception checksum", ":01A405C6\r\n", 0xA6, 0xA6, Holds::Request},
        {"exception no CR", ":01A405C5X\r\n", 0xA7, 0xA7, Holds::Request},
        {"exception no LF", ":01A405C5\rX\r\n", 0xA8, 0xA8, Holds::Request},
        {"exception code 0 is not success", ExceptionFrame(1, 0xA4, 0), 0xA9, 0xA9, Holds::Request, device},
        {"exception of the other function", ExceptionFrame(1, 0xA5, 5), 0xA9, 0xA9, Holds::Request, device},
        {"unexpected function code", NormalFrame(1, 0x26, "xyz"), 0xA9, 0xA9, Holds::Request, device},
        {"silence", "", 0xFF, 0xFF, Holds::Request},
    };
}

class EngineChecks : public ::testing::TestWithParam<int32_t> {};

TEST_P(EngineChecks, EveryResultCodeWithItsRetriesAndBuffer) {
    const int32_t timeout = GetParam();
    const bool byteMode = timeout >= 1;
    for (const CheckCase &c : CheckCases()) {
        SCOPED_TRACE(c.name);
        scripted::Install(timeout, 2, {{c.answer}, {c.answer}, {c.answer}});
        const Outcome outcome = Request(kRead, "abc");
        const uint8_t expected = byteMode ? c.byteCode : c.blockCode;
        EXPECT_EQ(outcome.code, expected);
        EXPECT_EQ(scripted::Sent().size(), FramesFor(expected, c.verdict, 3));
        if (c.holds == Holds::Unspecified) continue;
        if (c.holds == Holds::Answer && expected != 0xFF) {
            EXPECT_EQ(outcome.buffer, c.answerPayload);
        } else {
            EXPECT_EQ(outcome.buffer, "abc");
            EXPECT_EQ(outcome.length, 3);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ByteAndBlockMode, EngineChecks, ::testing::Values(kByteTimeout, 0),
                         [](const auto &info) { return info.param > 0 ? "ByteMode" : "BlockMode"; });

// Past the first (count mod 256) characters the checksum sees nothing: a
// digit damaged there ('4' become 't' by one flipped bit) used to decode to
// a wrong byte that passed every check. Every digit must be a hex digit;
// lower case still reads as upper case.
TEST_P(EngineChecks, EveryDigitIsAHexDigitEvenBeyondTheChecksumsReach) {
    std::string payload(200, '\x41');  // digits "41", covered only up to payload byte 71
    payload[150] = '\xAB';
    const std::string good = NormalFrame(1, kRead, payload);
    const size_t byte150 = 9 + 2 * 150;
    auto with = [&](size_t at, char c) {
        std::string frame = good;
        frame[at] = c;
        return frame;
    };
    const struct {
        const char *name;
        std::string answer;
        uint8_t code;
    } cases[] = {
        {"intact", good, 0},
        {"lower case reads as upper case", with(byte150, 'a'), 0},
        {"a letter beyond the reach", with(byte150 + 2, 't'), core::kResultChecksum},
        {"'G' beyond the reach", with(byte150 + 3, 'G'), core::kResultChecksum},
        {"a space beyond the reach", with(byte150 + 4, ' '), core::kResultChecksum},
        {"a damaged address digit", with(2, 'Q'), core::kResultChecksum},
        {"a damaged function digit", with(4, 'd' + 0x10), core::kResultChecksum},
        {"a damaged checksum digit", with(good.size() - 3, 'g'), core::kResultChecksum},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        scripted::Install(GetParam(), 2, {{c.answer}, {c.answer}, {c.answer}});
        const Outcome outcome = Request(kRead, "abc");
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(scripted::Sent().size(), c.code == 0 ? 1u : 3u);  // damage is retried in both builds
        if (c.code == 0) {
            EXPECT_EQ(outcome.buffer, payload);
        }
    }
}

TEST(EngineChecks, WriteRequestsAcceptTheirOwnCodes) {
    scripted::Install(0, 0, {{NormalFrame(1, kWrite, "w")}, {ExceptionFrame(1, 0xA5, 8)}, {NormalFrame(1, kRead, "")}});
    EXPECT_EQ(Request(kWrite, "abc").code, 0);
    EXPECT_EQ(Request(kWrite, "abc").code, 8);
    EXPECT_EQ(Request(kWrite, "abc").code, 0xA9);
}

TEST(EngineByteMode, FrameStartsAtTheLastColon) {
    const std::string good = NormalFrame(1, kRead, "xyz");
    const struct {
        const char *name;
        std::string answer;
        uint8_t code;
    } cases[] = {
        {"noise before the start", "\x01noise" + good, 0},
        {"a second colon restarts the frame", ":0124zz" + good, 0},
        {"LF before any colon ends the receive", "junk\n" + good, 0xA0},
        {"an answer longer than the text wraps", ":" + std::string(2100, '0') + "\r\n", 0xA0},
    };
    for (const auto &c : cases) {
        scripted::Install(kByteTimeout, 0, {{c.answer}});
        EXPECT_EQ(Request(kRead, "abc").code, c.code) << c.name;
    }
}

TEST(EngineByteMode, StaleCharactersOfAnEarlierFrameNeverCompleteAShortOne) {
    const std::string first = NormalFrame(1, kRead, "first answer");
    // A damaged answer whose header matches the first one and whose LF comes
    // early: the rest of the first answer still sits in the receive text.
    const std::string damaged = first.substr(0, 11) + "\n";
    scripted::Install(kByteTimeout, 0, {{first}, {damaged}});
    EXPECT_EQ(Request(kRead, "abc").code, 0);
    const Outcome second = Request(kRead, "abc");
    EXPECT_EQ(second.code, core::kResultChecksum);
    EXPECT_NE(second.buffer, "first answer");
}

TEST(EngineBlockMode, OneReceiveCallPerTryAndCountLimits) {
    scripted::Install(0, 3, {});
    Request(kRead, "abc");
    EXPECT_EQ(scripted::ReceiveCalls(), 4);

    const std::string good = NormalFrame(1, kRead, "xyz");
    const struct {
        int32_t count;
        uint8_t code;
    } cases[] = {{static_cast<int32_t>(good.size()), 0}, {2, 0xFF}, {0, 0xFF}, {-5, 0xFF},
                 {static_cast<int32_t>(core::kFrameTextSize) + 1, 0xFF}, {5000, 0xFF}};
    for (const auto &c : cases) {
        scripted::Install(0, 0, {{good, c.count}});
        EXPECT_EQ(Request(kRead, "abc").code, c.code) << "count " << c.count;
    }
}

// A match that takes answers whose payload starts with the expected letter:
// a stand-in for the block number a command expects back.
bool StartsWithLetter(const void *context, const uint8_t *payload, uint16_t length) {
    return length > 0 && payload[0] == *static_cast<const char *>(context);
}

Outcome MatchedRequest(const std::string &payload, char expected) {
    uint8_t buffer[core::kMaxPayload] = {};
    std::memcpy(buffer, payload.data(), payload.size());
    uint16_t length = static_cast<uint16_t>(payload.size());
    const uint8_t code = core::ModbusReadFileReq(1, &length, buffer, {StartsWithLetter, &expected});
    return {code, length, std::string(reinterpret_cast<char *>(buffer), std::min<size_t>(length, sizeof buffer))};
}

class EngineAnswerMatch : public ::testing::TestWithParam<int32_t> {};

// Late or repeated answers to other requests arrive before (or instead of)
// the request's own; they are dropped within the try, never taken.
TEST_P(EngineAnswerMatch, AnswersMeantForOtherRequestsAreDroppedWithinTheTry) {
    const std::string stale = NormalFrame(1, kRead, "Astale");
    const std::string mine = NormalFrame(1, kRead, "Bmine");
    const struct {
        const char *name;
        std::vector<scripted::Answer> script;
        uint8_t code;
        std::string buffer;
        size_t frames;
    } cases[] = {
        {"own answer after a stale one", {{stale, {}, {mine}}}, 0, "Bmine", 1},
        {"own answer after two stale ones", {{stale, {}, {stale, mine}}}, 0, "Bmine", 1},
        {"only stale answers: the request back", {{stale}, {stale}}, 0xFF, "req", 2},
        {"a stale answer, then the next try answered", {{stale}, {mine}}, 0, "Bmine", 2},
        {"a failed check still ends the try", {{NormalFrame(2, kRead, "Bother"), {}, {mine}}, {mine}}, 0, "Bmine", 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        scripted::Install(GetParam(), 1, c.script);
        const Outcome outcome = MatchedRequest("req", 'B');
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.buffer, c.buffer);
        EXPECT_EQ(scripted::Sent().size(), c.frames);
    }
    // Without a match the first valid answer is taken, as the library's
    // hosts have always had it.
    scripted::Install(GetParam(), 1, {{stale, {}, {mine}}});
    EXPECT_EQ(Request(kRead, "req").buffer, "Astale");
}

INSTANTIATE_TEST_SUITE_P(ByteAndBlockMode, EngineAnswerMatch, ::testing::Values(kByteTimeout, 0),
                         [](const auto &info) { return info.param > 0 ? "ByteMode" : "BlockMode"; });

// Every drop costs a frame's time on the line or a receive call; a link that
// keeps handing out other requests' answers still ends the try, in either
// mode.
TEST_P(EngineAnswerMatch, AFloodOfOtherAnswersEndsTheTry) {
    const std::string stale = NormalFrame(1, kRead, "Astale");
    const std::vector<std::string> flood(100, stale);
    scripted::Install(GetParam(), 1, {{stale, {}, flood}, {NormalFrame(1, kRead, "Bmine")}});
    const Outcome outcome = MatchedRequest("req", 'B');
    EXPECT_EQ(outcome.code, 0);
    EXPECT_EQ(outcome.buffer, "Bmine");
    EXPECT_EQ(scripted::Sent().size(), 2u);
    if (GetParam() <= 0) {
        EXPECT_EQ(scripted::ReceiveCalls(), core::kMaxDroppedAnswersPerTry + 1);
    }
}

// The byte-mode wait: elapsed milliseconds in the program's build, empty
// polls each followed by a 1 ms pause in the library's build. Here the
// library's polls take no time of their own, so its count and the clock
// agree.
TEST(EngineBuildDifferences, ByteModeWaitMeasure) {
    scripted::Install(kByteTimeout, 1, {}, {core::kFilelinkBuild ? 0u : 1u, 0, 0});
    EXPECT_EQ(Request(kRead, "abc").code, 0xFF);
    if (core::kFilelinkBuild) {
        EXPECT_EQ(fake_clock::Sleeps(), 2u * kByteTimeout);
        EXPECT_EQ(scripted::ReceiveCalls(), 2 * kByteTimeout);
    } else {
        EXPECT_EQ(fake_clock::Sleeps(), 0u);
        EXPECT_EQ(scripted::ReceiveCalls(), 2 * kByteTimeout);  // one virtual ms per poll
    }
}

// Only silence counts against the wait: a slow line whose characters come
// 40 ms apart delivers its whole answer however long that takes (19
// characters here, 760 ms against a wait of 50), in both builds. A line
// that falls silent for the wait ends the try.
TEST(EngineByteMode, OnlySilenceCountsAgainstTheWait) {
    scripted::Install(kByteTimeout, 0, {{NormalFrame(1, kRead, "xyz")}}, {20, 1, 20});
    const Outcome slow = Request(kRead, "abc");
    EXPECT_EQ(slow.code, 0);
    EXPECT_EQ(slow.buffer, "xyz");
    EXPECT_GE(fake_clock::Now(), 19u * 40u - 40u);

    // Half an answer, then silence: the try ends one wait after the last
    // character, not one wait after it began.
    const std::string half = NormalFrame(1, kRead, "xyz").substr(0, 9);
    scripted::Install(kByteTimeout, 0, {{half}}, {1, 0, 10});
    EXPECT_EQ(Request(kRead, "abc").code, 0xFF);
    if (!core::kFilelinkBuild) {
        EXPECT_EQ(fake_clock::Now(), 9u * 10u + uint32_t(kByteTimeout));
    }
}

// A line that never stops sending bytes that make no frame (noise, a wrong
// rate) never falls silent; each try ends once two of the longest frames'
// worth of characters came without a whole frame among them.
// The noise lasts far longer than that after each frame sent.
int floodLeft = 0;
char floodCharacter = 'x';
uint8_t FloodReceive(uint8_t *, int32_t *) {
    fake_clock::Advance(1);
    if (floodLeft == 0) return 255;
    --floodLeft;
    return static_cast<uint8_t>(floodCharacter);
}
int floodSends = 0;
void CountFloodSend(const char *) {
    ++floodSends;
    floodLeft = 100000;
}

TEST(EngineByteMode, AFloodOfCharactersWithoutAFrameEndsEachTry) {
    for (const char c : {'x', '0', ':'}) {  // noise, digits, start signs
        SCOPED_TRACE(std::string("flood of ") + c);
        fake_clock::Reset();
        floodSends = 0;
        floodCharacter = c;
        core::ModbusInit(1, kByteTimeout, 2);
        core::SetUartReceiveFun(FloodReceive);
        core::SetUartSendFrameFun(CountFloodSend);
        uint8_t buffer[core::kMaxPayload] = {'a', 'b', 'c'};
        uint16_t length = 3;
        EXPECT_EQ(core::ModbusReadFileReq(1, &length, buffer), core::kResultNoAnswer);
        EXPECT_EQ(floodSends, 3);
        EXPECT_EQ(fake_clock::Now(), 3u * (2 * core::kFrameTextSize + 1));
    }
}

TEST(EngineBuildDifferences, PauseAfterAnIncompleteBlock) {
    scripted::Install(0, 2, {{"not a frame\r\n"}, {"not a frame\r\n"}, {"not a frame\r\n"}});
    EXPECT_EQ(Request(kRead, "abc").code, 0xFF);
    EXPECT_EQ(fake_clock::Sleeps(), core::kFilelinkBuild ? 3u : 0u);

    scripted::Install(0, 2, {});  // nothing at all: both builds pause
    EXPECT_EQ(Request(kRead, "abc").code, 0xFF);
    EXPECT_EQ(fake_clock::Sleeps(), 3u);
}

}  // namespace
