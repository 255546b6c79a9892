// The UDP link against plain sockets standing in for controllers.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "tests/link/udp_peer.h"

namespace udp_link_test {
namespace {

TEST_F(UdpLinkTest, FrameIsSentUpToItsLfAndNotBeyond) {
    std::string frame = ":" + std::string(57, '1') + "\r\n";  // 60 characters
    ASSERT_EQ(frame.size(), 60u);
    const std::string text = frame + "STALE CHARACTERS OF A LONGER FRAME\r\n";
    LinkSendFrame(text.c_str());
    EXPECT_EQ(peer.Receive(), frame);
}

TEST_F(UdpLinkTest, DatagramsUpTo2047BytesAreDeliveredLongerOnesDropped) {
    struct Case {
        size_t size;
        bool delivered;
    } cases[] = {{1, true}, {2047, true}, {2048, false}, {4500, false}, {6000, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        LinkSendFrame(":00\r\n");
        ASSERT_EQ(peer.Receive(), ":00\r\n");
        const std::string datagram(c.size, 'x');
        peer.Answer(datagram);
        AwaitQueued();
        EXPECT_EQ(Take(), c.delivered ? datagram : "<255>");
    }
    EXPECT_EQ(idleCalls, 0);  // the UDP wait is one bounded receive, no hook
}

// Each exchange (a request whose payload opens with block number 0: a text
// request or an announcement) gets a socket of its own, so a late or
// repeated answer of the exchange before it (block 1 of the last file
// echoes the same number as block 1 of the next) goes to a port nobody
// reads. A retry of an unanswered request keeps its socket: the late answer
// to its first try is as good as any.
TEST_F(UdpLinkTest, LateAnswersOfAnExchangeNeverReachTheNextOne) {
    const std::string listing = ":012400000000000000\r\n";   // block number 0 opens an exchange
    const std::string block1 = ":012400000000000001\r\n";    // block 1 goes on with it
    const std::string nextFile = ":012400000000000000AB\r\n";
    LinkSendFrame(listing.c_str());
    ASSERT_EQ(peer.Receive(), listing);
    peer.Answer("opening");
    AwaitQueued();
    EXPECT_EQ(Take(), "opening");
    LinkSendFrame(block1.c_str());
    ASSERT_EQ(peer.Receive(), block1);
    const platform::Ipv4Endpoint firstExchange = peer.lastSender;
    peer.Answer("block 1 of the listing");
    AwaitQueued();
    EXPECT_EQ(Take(), "block 1 of the listing");

    LinkSendFrame(nextFile.c_str());
    ASSERT_EQ(peer.Receive(), nextFile);
    EXPECT_NE(peer.lastSender.port, firstExchange.port);
    const platform::Ipv4Endpoint secondExchange = peer.lastSender;
    peer.lastSender = firstExchange;
    peer.Answer("block 1 of the listing, repeated late");
    peer.lastSender = secondExchange;
    peer.Answer("opening of the file");
    AwaitQueued();
    EXPECT_EQ(Take(), "opening of the file");

    // A retry: the same frame again without an answer keeps the socket.
    const std::string search = ":0124000D0000000025536561726368496439\r\n";
    LinkSendFrame(search.c_str());
    ASSERT_EQ(peer.Receive(), search);
    const platform::Ipv4Endpoint firstTry = peer.lastSender;
    LinkSendFrame(search.c_str());
    ASSERT_EQ(peer.Receive(), search);
    EXPECT_EQ(peer.lastSender.port, firstTry.port);
}

TEST_F(UdpLinkTest, AnswerFromAnotherPortRedirectsTheNextFrame) {
    Peer other;
    LinkSendFrame(":01\r\n");
    ASSERT_EQ(peer.Receive(), ":01\r\n");
    other.lastSender = peer.lastSender;  // the link's own address
    other.Answer(":answer\r\n");
    AwaitQueued();
    EXPECT_EQ(Take(), ":answer\r\n");
    LinkSendFrame(":02\r\n");
    EXPECT_EQ(other.Receive(), ":02\r\n");
    EXPECT_EQ(dnclink::UdpCurrentDestination().port, other.port);
}

// Any host on the network could answer in the controller's place and feed
// it a program, or take one. Only the controller's address is heard.
TEST_F(UdpLinkTest, AnswersFromAnotherHostAreDroppedAndNeverRedirect) {
    if (!SecondLoopbackAddressIsSeen()) GTEST_SKIP() << "no second loopback address here";
    Peer stranger("127.0.0.2");
    LinkSendFrame(":01\r\n");
    ASSERT_EQ(peer.Receive(), ":01\r\n");
    stranger.SendToLink(":forged\r\n");
    peer.Answer(":answer\r\n");
    EXPECT_EQ(Take(), ":answer\r\n");
    stranger.SendToLink(":forged again\r\n");
    EXPECT_EQ(Take(), "<255>");
    EXPECT_EQ(dnclink::UdpCurrentDestination().address, platform::Ipv4AddressOf("127.0.0.1"));
    LinkSendFrame(":02\r\n");
    EXPECT_EQ(peer.Receive(), ":02\r\n");
}

TEST_F(UdpLinkTest, BroadcastDestinationTakesTheFirstHostThatAnswers) {
    if (!SecondLoopbackAddressIsSeen()) GTEST_SKIP() << "no second loopback address here";
    Peer other("127.0.0.2");
    LinkSendFrame(":01\r\n");  // gives the link's socket its port
    ASSERT_EQ(peer.Receive(), ":01\r\n");
    dnclink::UdpSetDestination("255.255.255.255");
    other.SendToLink(":here\r\n");
    EXPECT_EQ(Take(), ":here\r\n");
    EXPECT_EQ(dnclink::UdpCurrentDestination().address, platform::Ipv4AddressOf("127.0.0.2"));
    EXPECT_EQ(dnclink::UdpCurrentDestination().port, other.port);
    peer.SendToLink(":me too\r\n");  // from then on only that host is heard
    EXPECT_EQ(Take(), "<255>");
}

// Datagrams from strangers keep coming; a receive still ends when its wait
// is over instead of starting the wait again after each of them.
TEST_F(UdpLinkTest, ForeignDatagramsCannotHoldAReceiveBeyondItsWait) {
    if (!SecondLoopbackAddressIsSeen()) GTEST_SKIP() << "no second loopback address here";
    Peer stranger("127.0.0.2");
    LinkSendFrame(":01\r\n");
    ASSERT_EQ(peer.Receive(), ":01\r\n");
    std::atomic<bool> stop{false};
    std::atomic<bool> floodOver{false};
    std::thread flood([&] {
        for (int i = 0; i < 1000 && !stop; ++i) {  // at most 5 s
            stranger.SendToLink(":noise\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        floodOver = true;
    });
    EXPECT_EQ(Take(), "<255>");
    EXPECT_FALSE(floodOver) << "the receive lasted as long as the flood";
    stop = true;
    flood.join();
}

// A controller farther away than the default wait: raising the wait lets
// its answers count. The wait holds across a new preparation.
TEST_F(UdpLinkTest, WaitIsConfigurableAndKeptAcrossPreparations) {
    dnclink::UdpSetReceiveTimeout(3000);
    ASSERT_EQ(dnclink::UdpPrepare("127.0.0.1"), 0);
    dnclink::UdpSetDestinationPort(peer.port);
    EXPECT_EQ(dnclink::UdpReceiveTimeout(), 3000);
    LinkSendFrame(":01\r\n");
    ASSERT_EQ(peer.Receive(), ":01\r\n");
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Answer(":late but welcome\r\n");
    });
    EXPECT_EQ(Take(), ":late but welcome\r\n");
    late.join();
}

TEST_F(UdpLinkTest, LateAnswerWaitingBeforeASendIsNeverTakenForItsAnswer) {
    LinkSendFrame(":first\r\n");
    ASSERT_EQ(peer.Receive(), ":first\r\n");
    peer.Answer(":late answer to first\r\n");
    AwaitQueued();  // it came after the engine had given up on it
    LinkSendFrame(":second\r\n");
    ASSERT_EQ(peer.Receive(), ":second\r\n");
    peer.Answer(":answer to second\r\n");
    EXPECT_EQ(Take(), ":answer to second\r\n");
}

TEST_F(UdpLinkTest, FailedSendsReportOneEventEachAndTheRequestEndsWith0xFF) {
    // Broadcast without SO_BROADCAST: every sendto fails.
    dnclink::UdpSetDestination("255.255.255.255");
    core::ModbusInit(1, 0, 2);
    core::SetUartReceiveFun(LinkReceive);
    core::SetUartSendFrameFun(LinkSendFrame);
    uint8_t payload[core::kMaxPayload] = {0, 0, 0, 0, '%'};
    uint16_t length = 5;
    EXPECT_EQ(core::ModbusReadFileReq(1, &length, payload), 0xFF);
    ASSERT_EQ(events.size(), 3u);
    for (const dnclink::LinkEvent &event : events) {
        EXPECT_EQ(event.code, dnclink::LinkEventCode::kSendFailed);
        EXPECT_EQ(event.result, -1);
        EXPECT_EQ(event.error, EACCES);  // no permission to broadcast
    }
}

TEST_F(UdpLinkTest, NeitherLinkSendsNorReceivesAnything) {
    dnclink::SelectLink(2);
    LinkSendFrame(":ghost\r\n");
    uint8_t buffer[16];
    int32_t count = 0;
    EXPECT_EQ(LinkReceive(buffer, &count), 255);
    EXPECT_EQ(idleCalls, 0);
    dnclink::SelectLink(dnclink::kLinkUdp);
    LinkSendFrame(":marker\r\n");
    EXPECT_EQ(peer.Receive(), ":marker\r\n");  // the ghost never went out
}

TEST_F(UdpLinkTest, DestinationKeepsItsPortUntilPreparedAgain) {
    dnclink::UdpSetDestination("10.1.2.3");
    EXPECT_EQ(dnclink::UdpCurrentDestination().address, platform::Ipv4AddressOf("10.1.2.3"));
    EXPECT_EQ(dnclink::UdpCurrentDestination().port, peer.port);
    dnclink::UdpPrepare("192.168.0.9");
    EXPECT_EQ(dnclink::UdpCurrentDestination().port, dnclink::UdpPort);
    EXPECT_EQ(dnclink::UdpCurrentDestination().address, platform::Ipv4AddressOf("192.168.0.9"));
}

}  // namespace
}  // namespace udp_link_test
