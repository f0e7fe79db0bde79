// Sending, line reads and captures of the socket component against loopback peers.
#include "psock_fixture.h"

using Strings = std::vector<std::string>;

namespace {
class TransferTest : public PsockTest {
protected:
  std::unique_ptr<TPowersock> Connected(const LoopbackPeer& peer) {
    auto s = NewSock("127.0.0.1", peer.Port());
    s->Connect();
    return s;
  }
};
} // namespace

TEST_F(TransferTest, ReadLnReturnsOneLineAndLeavesTheRestQueued) {
  LoopbackPeer peer(PeerScript().Send("HTTP/1.0 200 OK\r\nabc").Close());
  auto s = Connected(peer);
  EXPECT_EQ(s->ReadLn(), "HTTP/1.0 200 OK\r\n");
  EXPECT_EQ(s->CaptureString(), "abc");
  EXPECT_EQ(s->BytesRecvd, 3);
}

TEST_F(TransferTest, ReadLnJoinsPiecesAndKeepsBytesAfterTheLineFeed) {
  LoopbackPeer peer(PeerScript().SendChunked("Line one\nLine two\nrest", 4, 20ms).Close());
  auto s = Connected(peer);
  EXPECT_EQ(s->ReadLn(), "Line one\n");
  EXPECT_EQ(s->ReadLn(), "Line two\n");
  EXPECT_EQ(s->ReadLn(), "") << "a partial line is lost when the peer closes";
}

TEST_F(TransferTest, ReadLnAfterTheSocketWasReplacedGivesAnEmptyLine) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = Connected(peer);
  s->Disconnect();
  EXPECT_EQ(s->ReadLn(), "");
  EXPECT_EQ(s->LastErrorNo, WSAENOTCONN);
}

TEST_F(TransferTest, ReadLnTimesOutOnASilentPeerOrIsCanceled) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = Connected(peer);
  s->TimeOut = 100;
  EXPECT_EQ(Raised<EAbortError>([&] { s->ReadLn(); }), "Socket readln aborted");
  EXPECT_TRUE(s->TimedOut);
  EXPECT_FALSE(s->Canceled);

  s->TimeOut = 0;
  CancelLater(*s, 50ms);
  EXPECT_EQ(Raised<EAbortError>([&] { s->ReadLn(); }), "Socket readln aborted");
  EXPECT_FALSE(s->TimedOut);
  EXPECT_FALSE(s->Canceled);
  EXPECT_EQ(s->Status, "Timer Off");
}

TEST_F(TransferTest, TransactionSendsTheCommandAndParsesTheReply) {
  LoopbackPeer peer(PeerScript().ReadUntil("\r\n").Send("250 OK here\r\n").StaySilent());
  auto s = Connected(peer);
  s->ReportLevel = 1;
  EXPECT_EQ(s->Transaction("HELO x"), "250 OK here\r\n");
  EXPECT_EQ(s->ReplyNumber, 250);
  EXPECT_EQ(s->LastReply, "250 OK here\r\n");
  EXPECT_EQ(StatusFrom("250 OK here\r\n"), Strings({"250 OK here\r\n"}));
  EXPECT_EQ(peer.Received(), "HELO x\r\n");
}

TEST_F(TransferTest, WriteStopsAtNulAndWritelnOfEmptySendsCrLf) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = Connected(peer);
  s->Write(std::string("ab\0cd", 5));
  s->Writeln("");
  ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() >= 4; }));
  EXPECT_EQ(peer.Received(), "ab\r\n");
  EXPECT_THROW(s->Write(std::string(65536, 'x')), ERangeError);
  EXPECT_EQ(s->Status, "Timer Off");
}

TEST_F(TransferTest, SendWaitingForRoomEndsByTimeOutOrCancel) {
  LoopbackPeer peer(PeerScript().Pause(10s)); // never reads
  auto s = Connected(peer);
  const std::string block(60000, 'z');
  s->TimeOut = 200;
  std::string text;
  for (int i = 0; i < 2000 && text.empty(); ++i)
    text = Raised<EAbortError>([&] { s->Write(block); });
  EXPECT_EQ(text, "Socket send aborted");
  EXPECT_TRUE(s->TimedOut);
  EXPECT_FALSE(s->Canceled);

  s->TimeOut = 0;
  CancelLater(*s, 50ms);
  EXPECT_EQ(Raised<EAbortError>([&] { s->Write(block); }), "Socket send aborted");
}

TEST_F(TransferTest, CaptureStringStopsAtTheCountOnlyBetweenBlocks) {
  LoopbackPeer peer(PeerScript().Send(std::string(100, 'q')).StaySilent());
  auto s = Connected(peer);
  // All of it has arrived, so that one receive takes it as one block.
  char peek[100];
  ASSERT_TRUE(PumpUntil(
      [&] { return win::recv(s->SocketHandle, peek, sizeof peek, MSG_PEEK) == sizeof peek; }));
  int packets = 0;
  s->OnPacketRecvd = [&](TObject*) { ++packets; };
  EXPECT_EQ(s->CaptureString(10), std::string(100, 'q'));
  EXPECT_EQ(s->BytesRecvd, 100);
  EXPECT_EQ(packets, 1);
}

TEST_F(TransferTest, OneByteBlocksAreStoredAndCounted) {
  testenv::TempDir dir;
  LoopbackPeer peer(PeerScript().SendChunked("abcdef", 1, 15ms).Close());
  auto s = Connected(peer);
  int packets = 0;
  std::vector<int> seen;
  s->OnPacketRecvd = [&](TObject*) {
    ++packets;
    seen.push_back(s->BytesRecvd);
  };
  s->CaptureFile(dir.file("out.bin"));
  EXPECT_EQ(testenv::ReadFile(dir.file("out.bin")), "abcdef");
  EXPECT_EQ(s->BytesRecvd, 6);
  EXPECT_GE(packets, 2);
  EXPECT_EQ(seen.back(), 6);

  LoopbackPeer second(PeerScript().SendChunked("xyz", 1, 15ms).Close());
  s->Disconnect();
  s->Port = second.Port();
  s->Connect();
  EXPECT_EQ(s->CaptureString(), "xyz");
  EXPECT_EQ(s->BytesRecvd, 3);
}

TEST_F(TransferTest, CaptureTimeOutAndCancelKeepWhatWasWritten) {
  testenv::TempDir dir;
  LoopbackPeer peer(PeerScript().Send("part").StaySilent());
  auto s = Connected(peer);
  s->TimeOut = 150;
  EXPECT_EQ(Raised<EAbortError>([&] { s->CaptureFile(dir.file("f")); }), "Socket send aborted");
  EXPECT_EQ(testenv::ReadFile(dir.file("f")), "part");
  EXPECT_FALSE(s->Canceled);

  s->TimeOut = 0;
  CancelLater(*s, 50ms);
  EXPECT_EQ(Raised<EAbortError>([&] { s->CaptureString(); }), "Socket capture aborted");
  EXPECT_FALSE(s->Canceled);

  // A handler can stop the capture as well.
  LoopbackPeer busy(PeerScript().SendChunked(std::string(50, 'b'), 5, 10ms).StaySilent());
  s->Disconnect();
  s->Port = busy.Port();
  s->Connect();
  s->OnPacketRecvd = [&](TObject*) { s->Cancel(); };
  EXPECT_EQ(Raised<EAbortError>([&] { s->CaptureString(); }), "Socket capture aborted");
}

TEST_F(TransferTest, ResetDuringCaptureIsAnErrorNotTheEnd) {
  SKIP_ON_WINE("a reset by the peer arrives as an ordinary close");
  testenv::TempDir dir;
  LoopbackPeer peer(PeerScript().Send("head").Pause(100ms).Reset());
  auto s = Connected(peer);
  EXPECT_EQ(Raised<ESockError>([&] { s->CaptureFile(dir.file("f")); }),
            "10054:Connection reset by peer");
  EXPECT_EQ(testenv::ReadFile(dir.file("f")), "head");
}

TEST_F(TransferTest, SendFileCountsEveryByteOverSeveralCalls) {
  testenv::TempDir dir;
  std::string big(150000, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7);
  testenv::WriteFile(dir.file("big"), big);
  testenv::WriteFile(dir.file("small"), "xyz");
  testenv::WriteFile(dir.file("empty"), "");
  LoopbackPeer peer(PeerScript().ReadBytes(150003).StaySilent());
  auto s = Connected(peer);
  int packets = 0;
  s->OnPacketSent = [&](TObject*) { ++packets; };
  s->SendFile(dir.file("empty"));
  EXPECT_EQ(packets, 0);
  EXPECT_EQ(s->BytesSent, 0);
  s->SendFile(dir.file("big"));
  EXPECT_GE(packets, 3);
  EXPECT_EQ(s->BytesSent, 150000);
  s->SendFile(dir.file("small"));
  EXPECT_EQ(s->BytesSent, 150003);
  ASSERT_TRUE(PumpUntil([&] { return peer.Received().size() == 150003; }));
  EXPECT_EQ(peer.Received(), big + "xyz");
  EXPECT_THROW(s->SendFile(dir.file("missing")), EFOpenError);
}

// The idle limit runs again from every byte: a peer that trickles outlasts it, a silent one or a
// connect that gets no answer does not.
TEST_F(TransferTest, IdleLimitEndsOnlyWaitsThatSeeNoByte) {
  LoopbackPeer trickle(PeerScript().SendChunked(std::string(8, 't'), 1, 100ms).Close());
  auto s = Connected(trickle);
  s->IdleTimeOut = 400;
  EXPECT_EQ(s->CaptureString(), std::string(8, 't'));
  EXPECT_FALSE(s->IdleTimedOut);

  LoopbackPeer silent(PeerScript().Send("ab").StaySilent());
  auto quiet = Connected(silent);
  quiet->IdleTimeOut = 200;
  EXPECT_EQ(Raised<EAbortError>([&] { quiet->CaptureString(); }), "Socket capture aborted");
  EXPECT_TRUE(quiet->IdleTimedOut);
  EXPECT_FALSE(quiet->TimedOut);
  EXPECT_EQ(quiet->BytesRecvd, 2);

  testsupport::StalledListener stalled;
  auto connecting = NewSock("127.0.0.1", stalled.Port());
  connecting->IdleTimeOut = 200;
  EXPECT_EQ(Raised<ESockError>([&] { connecting->Connect(); }), "Connection Timed out");
  EXPECT_TRUE(connecting->IdleTimedOut);
}
