// Connection life cycle of the socket component against loopback peers.
#include "psock_fixture.h"

using Strings = std::vector<std::string>;

TEST_F(PsockTest, ConnectsByAddressWithoutLookup) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("127.0.0.1", peer.Port());
  s->Connect();
  EXPECT_TRUE(s->Connected);
  EXPECT_EQ(events, Strings({"connect"}));
  EXPECT_EQ(StatusFrom("Connecting"),
            Strings({"Connecting", "Resolve Host", "Timer On", "Timer Off"}));
  EXPECT_EQ(s->RemoteAddress.sin_port, win::htons(peer.Port()));
}

TEST_F(PsockTest, ConnectsByNameAfterLookup) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("localhost", peer.Port());
  s->Connect();
  EXPECT_EQ(events, Strings({"resolved", "connect"}));
  EXPECT_EQ(StatusFrom("Connecting"), Strings({"Connecting", "Resolve Host", "Timer On",
                                               "Timer Off", "Timer On", "Timer Off"}));
  EXPECT_EQ(s->RemoteAddress.sin_addr.s_addr, win::inet_addr("127.0.0.1"));

  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Already connected");
  EXPECT_TRUE(s->Connected);
  s->Writeln("still here");
  ASSERT_TRUE(PumpUntil([&] { return peer.Received() == "still here\r\n"; }));
}

TEST_F(PsockTest, ProxyIsConnectedInsteadOfHost) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("no-such-host.invalid", 1);
  s->Proxy = "127.0.0.1";
  s->ProxyPort = 0x10000 + peer.Port(); // only the low 16 bits count
  s->Connect();
  EXPECT_EQ(events, Strings({"connect"}));
  ASSERT_TRUE(PumpUntil([&] { return peer.Connections() == 1; }));
}

TEST_F(PsockTest, RefusedPortFailsAfterTheFailureEvent) {
  testsupport::RefusingPort refusing;
  auto s = NewSock("127.0.0.1", refusing.Port());
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Failed");
  EXPECT_EQ(events, Strings({"failed"}));
  EXPECT_FALSE(s->Connected);
  EXPECT_FALSE(s->EventOk);

  // After a Disconnect the same component connects again.
  LoopbackPeer peer(PeerScript().StaySilent());
  s->Disconnect();
  s->Port = peer.Port();
  s->Connect();
  EXPECT_TRUE(s->Connected);
}

TEST_F(PsockTest, InvalidHostHandlerMayFixTheHostOnce) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("no-such-host.invalid", peer.Port());
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Null Remote Address");

  int calls = 0;
  s->OnInvalidHost = [&](bool& Handled) {
    ++calls;
    Handled = true; // but the host stays unresolvable
  };
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Null Remote Address");
  EXPECT_EQ(calls, 1);

  calls = 0;
  s->OnInvalidHost = [&](bool&) { ++calls; };
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Null Remote Address");
  EXPECT_EQ(calls, 1);

  s->OnInvalidHost = [&](bool& Handled) {
    s->Host = "127.0.0.1";
    Handled = true;
  };
  events.clear();
  s->Connect();
  EXPECT_EQ(events, Strings({"connect"}));
}

TEST_F(PsockTest, OverlongHostNameIsRejected) {
  auto s = NewSock(std::string(TPowersock::TransferBufferSize, 'a'), 80);
  s->RemoteAddress.sin_addr.s_addr = win::inet_addr("127.0.0.1");
  EXPECT_EQ(Raised<ESockError>([&] { s->ResolveHost(); }), "Host name too long");
  EXPECT_EQ(s->RemoteAddress.sin_addr.s_addr, 0u) << "no address left over from before";
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Null Remote Address");
}

TEST_F(PsockTest, LookupTimeOutWinsOverTheCancelItCauses) {
  auto s = NewSock("localhost", 80);
  HeldLookups held(*s);
  s->TimeOut = 100;
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Host Lookup Timed Out");
  EXPECT_TRUE(s->TimedOut);
  EXPECT_TRUE(s->Canceled) << "lookup failures leave Canceled set";
  EXPECT_TRUE(events.empty());

  // A read without a new Connect stops at once with its abort text and clears the flag.
  EXPECT_EQ(Raised<EAbortError>([&] { s->ReadLn(); }), "Socket readln aborted");
  EXPECT_FALSE(s->Canceled);
}

TEST_F(PsockTest, LookupCanBeCanceledAndTheNextConnectStartsClean) {
  LoopbackPeer peer(PeerScript().StaySilent());
  {
    auto s = NewSock("localhost", peer.Port());
    HeldLookups held(*s);
    CancelLater(*s, 50ms);
    EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Host Lookup Canceled");
    EXPECT_TRUE(s->Canceled);
    EXPECT_FALSE(s->TimedOut);
    held.Release();
    s->Connect();
    EXPECT_FALSE(s->Canceled);
    EXPECT_EQ(events, Strings({"resolved", "connect"}));
  }
}

TEST_F(PsockTest, ConnectWaitTimesOutOrIsCanceled) {
  testsupport::StalledListener stalled;
  auto s = NewSock("127.0.0.1", stalled.Port());
  s->TimeOut = 150;
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Timed out");
  EXPECT_EQ(events, Strings({"failed"}));
  EXPECT_TRUE(s->TimedOut);

  s->Disconnect();
  events.clear();
  s->TimeOut = 0;
  CancelLater(*s, 100ms);
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Canceled");
  EXPECT_EQ(events, Strings({"failed"}));
  EXPECT_TRUE(s->Canceled);
}

TEST_F(PsockTest, ClosingTheSocketRemovesItsQueuedNotifications) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("127.0.0.1", peer.Port());
  s->Connect();
  // The next socket may get the same handle: this notification must not reach it.
  ASSERT_TRUE(win::PostMessageA(s->SocketWindow, TPowersock::SocketMessage, s->SocketHandle,
                                WSAMAKESELECTREPLY(FD_READ, 0)));
  s->Disconnect();
  win::MSG m;
  EXPECT_FALSE(win::PeekMessageA(&m, s->SocketWindow, TPowersock::SocketMessage,
                                 TPowersock::SocketMessage, PM_NOREMOVE));
}

TEST_F(PsockTest, PeerCloseReplacesTheSocketAndDisconnectClosesTheNewOne) {
  LoopbackPeer peer(PeerScript().Send("bye").Close());
  auto s = NewSock("127.0.0.1", peer.Port());
  s->Connect();
  EXPECT_EQ(s->CaptureString(), "bye");
  ASSERT_TRUE(PumpUntil([&] { return events.size() == 2; }));
  EXPECT_EQ(events, Strings({"connect", "disconnect"}));
  EXPECT_FALSE(s->Connected);
  EXPECT_NE(s->SocketHandle, TPowersock::NoSocket);
  s->Disconnect();
  EXPECT_EQ(events, Strings({"connect", "disconnect", "disconnect"}));

  LoopbackPeer next(PeerScript().StaySilent());
  s->Port = next.Port();
  s->Connect();
  EXPECT_TRUE(s->Connected);
}

TEST_F(PsockTest, CloseNotificationWaitsForUnreadData) {
  LoopbackPeer peer(PeerScript().Send("line\r\nmore").Close());
  auto s = NewSock("127.0.0.1", peer.Port());
  s->Connect();
  ASSERT_TRUE(peer.WaitDone());
  PumpUntil([] { return false; }, 100ms);
  EXPECT_TRUE(s->Connected) << "unread data keeps the socket";
  EXPECT_EQ(s->ReadLn(), "line\r\n");
  EXPECT_EQ(s->CaptureString(), "more");
}

TEST_F(PsockTest, TwoComponentsShareOneWinsockStartUp) {
  {
    auto a = NewSock("127.0.0.1", 1);
    auto b = NewSock("127.0.0.1", 1);
    ASSERT_EQ(a->WinsockInfo->Count(), 6);
    EXPECT_EQ((*a->WinsockInfo)[0], "Version= 1.1");
    EXPECT_EQ((*a->WinsockInfo)[1].rfind("High Version= ", 0), 0u);
    EXPECT_EQ((*a->WinsockInfo)[5].rfind("Max Udp pack size= ", 0), 0u);
    EXPECT_EQ(b->WinsockInfo->Count(), 0);
    a.reset();
    // b still works after a stopped using Winsock.
    LoopbackPeer peer(PeerScript().StaySilent());
    b->Port = peer.Port();
    b->Connect();
    EXPECT_TRUE(b->Connected);
  }
  auto c = NewSock("127.0.0.1", 1);
  EXPECT_EQ(c->WinsockInfo->Count(), 6) << "the last one stopped Winsock; the next starts it";
}

TEST_F(PsockTest, StatusWordsRespectTheReportLevel) {
  LoopbackPeer peer(PeerScript().StaySilent());
  auto s = NewSock("127.0.0.1", peer.Port());
  s->Connect();
  status.clear();
  s->Writeln("x");
  EXPECT_EQ(status, Strings({"Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off"}));
  status.clear();
  s->ReportLevel = 4;
  s->Writeln("x");
  s->Disconnect();
  EXPECT_EQ(status, Strings({"Sending Buffer", "Request Close Socket"}));
  status.clear();
  s->ReportLevel = 0;
  s->Cancel();
  EXPECT_TRUE(status.empty());
  EXPECT_EQ(s->Status, "Request Close Socket");
  // A handler that raises does not disturb the operation.
  s->ReportLevel = 8;
  s->OnStatus = [](TObject*, const std::string&) { throw Exception("boom"); };
  s->Abort();
  EXPECT_TRUE(s->Canceled);
  EXPECT_EQ(s->Status, "Canceling");
}

TEST_F(PsockTest, ErrorTextsForKnownAndUnknownCodes) {
  auto s = NewSock("127.0.0.1", 1);
  EXPECT_EQ(s->LookupErrorMessage(10061), "10061:Connection refused");
  EXPECT_EQ(s->LookupErrorMessage(11001), "11001:Host not found");
  EXPECT_EQ(s->LookupErrorMessage(10071), "10071:Too many levels of remote in path");
  EXPECT_EQ(s->LookupErrorMessage(10101), "Unknown Error No. 10101");
  EXPECT_EQ(s->LookupErrorMessage(0), "");

  std::vector<std::pair<int, std::string>> reported;
  s->OnSocketError = [&](TObject*, uint16_t code, const std::string& text) {
    reported.emplace_back(code, text);
  };
  win::WSASetLastError(WSAENOTCONN);
  EXPECT_EQ(Raised<ESockError>([&] { s->CheckSocketError(WSAEWOULDBLOCK); }),
            "10057:Socket is not connected");
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0].first, 10057);
  EXPECT_EQ(s->LastErrorNo, 10057);
  for (int quiet : {WSAEWOULDBLOCK, 10000, 0}) {
    win::WSASetLastError(quiet);
    EXPECT_NO_THROW(s->CheckSocketError(WSAEWOULDBLOCK));
    EXPECT_EQ(s->LastErrorNo, quiet);
  }
  EXPECT_EQ(reported.size(), 1u);
  EXPECT_STREQ(EAbortError("x").ClassName(), "EAbortError");
  EXPECT_STREQ(ESockError("x").ClassName(), "ESockError");
}

TEST(TextFieldTest, NthWordAndNthWordPos) {
  EXPECT_EQ(NthWord("scheme://host:80/x", '/', 3), "host:80");
  EXPECT_EQ(NthWord("scheme://host:80/x", '/', 1), "scheme:");
  EXPECT_EQ(NthWord("scheme://host:80/x", '/', 2), "");
  EXPECT_EQ(NthWord("HTTP/1.0 404 Not Found", ' ', 2), "404");
  EXPECT_EQ(NthWord("scheme:", ':', 1), "scheme");
  EXPECT_EQ(NthWord("a b", ' ', 5), "");
  EXPECT_EQ(NthWord("", ' ', 1), "");

  EXPECT_EQ(NthWordPos("scheme://host/path", '/', 3), 14);
  EXPECT_EQ(NthWordPos("scheme://host", '/', 3), 14);
  EXPECT_EQ(NthWordPos("a/b/", '/', 2), 5) << "a delimiter in last place counts as missing";
  EXPECT_EQ(NthWordPos("a/b/c", '/', 1), 2);
  EXPECT_THROW(NthWordPos("", '/', 1), ERangeError);
}

TEST_F(PsockTest, Ipv6AddressesConnectWithoutLookup) {
  for (const char* host : {"::1", "[::1]"}) {
    SCOPED_TRACE(host);
    events.clear();
    status.clear();
    LoopbackPeer peer(PeerScript().StaySilent(), testsupport::Family::V6);
    auto s = NewSock(host, peer.Port());
    s->Connect();
    EXPECT_EQ(events, Strings({"connect"}));
    EXPECT_EQ(StatusFrom("Connecting"),
              Strings({"Connecting", "Resolve Host", "Timer On", "Timer Off"}));
    s->Writeln("over six");
    ASSERT_TRUE(PumpUntil([&] { return peer.Received() == "over six\r\n"; }));
    s->Disconnect();
    EXPECT_EQ(events, Strings({"connect", "disconnect"}));
  }
}

TEST_F(PsockTest, RefusedIpv6PortFailsAsAnIpv4OneDoes) {
  testsupport::RefusingPort refusing(testsupport::Family::V6);
  auto s = NewSock("::1", refusing.Port());
  EXPECT_EQ(Raised<ESockError>([&] { s->Connect(); }), "Connection Failed");
  EXPECT_EQ(events, Strings({"failed"}));
  EXPECT_FALSE(s->Connected);
  EXPECT_EQ(s->LastErrorNo, WSAECONNREFUSED);
}

TEST_F(PsockTest, NotificationsOfTheSocketTheWinnerReplacedAreDropped) {
  LoopbackPeer peer(PeerScript().StaySilent(), testsupport::Family::V6);
  auto s = NewSock("::1", peer.Port());
  const uint16_t replaced = s->SocketHandle;
  s->Connect();
  ASSERT_NE(s->SocketHandle, replaced) << "an IPv6 connection needs a socket of its own";
  // Windows may still deliver what was posted for it before it was closed.
  for (int event : {FD_CONNECT, FD_CLOSE})
    ASSERT_TRUE(win::PostMessageA(s->SocketWindow, TPowersock::SocketMessage, replaced,
                                  WSAMAKESELECTREPLY(event, 0)));
  Application->ProcessMessages();
  EXPECT_TRUE(s->Connected);
  EXPECT_EQ(events, Strings({"connect"}));
}
