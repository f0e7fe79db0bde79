// The Windows API subset the socket component relies on: window classes and extra bytes, posted
// messages, timers, and Winsock 1.1's notification rules. Written against the API only, so the
// same tests run against the real system.
#include "support/testenv.h"
#include "winapi_fixture.h"

TEST(WindowTest, ClassIsRegisteredOnceAndExtraBytesHoldAPointer) {
  win::HWND w = NewWindow();
  ASSERT_NE(w, nullptr);
  win::WNDCLASSA again{};
  again.lpfnWndProc = RecordingProc;
  again.lpszClassName = kClass;
  again.hInstance = win::GetModuleHandleA(nullptr);
  EXPECT_EQ(win::RegisterClassA(&again), 0) << "a class name is registered once";
  win::WNDCLASSA info{};
  EXPECT_FALSE(win::GetClassInfoA(win::GetModuleHandleA(nullptr), "NoSuchClass", &info));
  EXPECT_EQ(win::CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 win::GetModuleHandleA(nullptr), nullptr),
            nullptr);

  int object = 0;
  win::SetWindowLongPtrA(w, 0, reinterpret_cast<win::LONG_PTR>(&object));
  EXPECT_EQ(reinterpret_cast<int*>(win::GetWindowLongPtrA(w, 0)), &object);
  // Past the extra bytes nothing is stored.
  EXPECT_EQ(win::SetWindowLongPtrA(w, 8, 1), 0);
  EXPECT_EQ(win::GetWindowLongPtrA(w, 8), 0);
  EXPECT_TRUE(win::DestroyWindow(w));
  EXPECT_FALSE(win::IsWindow(w));
}

TEST(WindowTest, PostedMessagesArriveInOrderAndDieWithTheirWindow) {
  received.clear();
  win::HWND a = NewWindow();
  win::HWND b = NewWindow();
  EXPECT_TRUE(win::PostMessageA(a, WM_USER + 1, 10, 20));
  EXPECT_TRUE(win::PostMessageA(b, WM_USER + 2, 0, 0));
  EXPECT_TRUE(win::PostMessageA(a, WM_USER + 3, 0, 0));
  EXPECT_TRUE(received.empty()) << "posting does not call the procedure";
  win::DestroyWindow(b);
  EXPECT_FALSE(win::PostMessageA(b, WM_USER + 4, 0, 0));
  platform::ProcessMessages();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].window, a);
  EXPECT_EQ(received[0].msg, WM_USER + 1u);
  EXPECT_EQ(received[0].wParam, 10u);
  EXPECT_EQ(received[0].lParam, 20);
  EXPECT_EQ(received[1].msg, WM_USER + 3u);
  win::DestroyWindow(a);
}

TEST(WindowTest, PeekRemovesOnlyTheMessagesItsFilterSelects) {
  received.clear();
  win::HWND a = NewWindow();
  win::HWND b = NewWindow();
  ASSERT_NE(a, nullptr);
  win::PostMessageA(a, WM_USER + 1, 1, 0);
  win::PostMessageA(a, WM_USER + 2, 2, 0);
  win::PostMessageA(b, WM_USER + 1, 3, 0);
  win::PostMessageA(a, WM_USER + 1, 4, 0);
  win::MSG m{};
  ASSERT_TRUE(win::PeekMessageA(&m, a, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 1u) << "the oldest match";
  while (win::PeekMessageA(&m, a, WM_USER + 1, WM_USER + 1, PM_REMOVE)) {
    EXPECT_EQ(m.hwnd, a);
    EXPECT_EQ(m.message, WM_USER + 1u);
  }
  platform::ProcessMessages();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].wParam, 2u);
  EXPECT_EQ(received[1].wParam, 3u);
  win::DestroyWindow(a);
  win::DestroyWindow(b);
}

TEST(WindowTest, TimerTicksUntilKilled) {
  received.clear();
  win::HWND w = NewWindow();
  EXPECT_NE(win::SetTimer(w, 7, 10, nullptr), 0u);
  EXPECT_TRUE(PumpUntil([] { return Count(WM_TIMER) >= 2; }));
  EXPECT_EQ(received[0].wParam, 7u);
  EXPECT_TRUE(win::KillTimer(w, 7));
  EXPECT_FALSE(win::KillTimer(w, 7));
  platform::ProcessMessages();
  received.clear();
  PumpFor(60ms);
  EXPECT_EQ(Count(WM_TIMER), 0);
  // A destroyed window's timers stop too.
  win::SetTimer(w, 1, 10, nullptr);
  win::DestroyWindow(w);
  PumpFor(40ms);
  EXPECT_EQ(Count(WM_TIMER), 0);
}

TEST_F(WinsockTest, StartupReportsVersionOneOne) {
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_GE(data.wHighVersion, 0x0101);
  EXPECT_GT(std::strlen(data.szDescription), 0u);
}

TEST_F(WinsockTest, DottedAddressesParseAndNamesDoNot) {
  win::u_long a = win::inet_addr("127.0.0.1");
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&a);
  EXPECT_EQ(b[0], 127);
  EXPECT_EQ(b[3], 1);
  EXPECT_EQ(win::inet_addr("localhost"), INADDR_NONE);
  EXPECT_EQ(win::inet_addr("255.255.255.255"), INADDR_NONE);
  EXPECT_EQ(win::htons(0x1234), win::ntohs(0x1234));
  uint16_t net = win::htons(0x1234);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(&net)[0], 0x12);
}

TEST_F(WinsockTest, ConnectReportsOnceWithoutError) {
  LoopbackPeer peer(PeerScript().StaySilent());
  win::SOCKET s = Connected(peer.Port());
  PumpFor(30ms);
  ASSERT_EQ(Count(kSockMsg, FD_CONNECT), 1);
  const Received* r = Find(kSockMsg, FD_CONNECT);
  EXPECT_EQ(r->wParam, s);
  EXPECT_EQ(WSAGETSELECTERROR(r->lParam), 0);
  EXPECT_EQ(Count(kSockMsg, FD_WRITE), 0) << "FD_WRITE was not asked for";
}

TEST_F(WinsockTest, RefusedConnectCarriesTheErrorInTheHighWord) {
  win::SOCKET s = NewSocket();
  testsupport::RefusingPort refusing;
  StartConnect(s, refusing.Port());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CONNECT) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CONNECT)->lParam), WSAECONNREFUSED);
  SKIP_ON_WINE("after a refused connect, recv reports error 2 instead of WSAENOTCONN");
  char c;
  EXPECT_EQ(win::recv(s, &c, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAENOTCONN);
}

TEST_F(WinsockTest, ReadIsPostedOnceAndReArmedByRecv) {
  LoopbackPeer peer(PeerScript().Send("abc").StaySilent());
  win::SOCKET s = Connected(peer.Port());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_READ) > 0; }));
  PumpFor(50ms);
  EXPECT_EQ(Count(kSockMsg, FD_READ), 1) << "no second FD_READ before a recv";

  char buf[8];
  EXPECT_EQ(win::recv(s, buf, 1, MSG_PEEK), 1);
  EXPECT_EQ(buf[0], 'a');
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_READ) == 2; }))
      << "a peek re-arms FD_READ and data is still there";
  EXPECT_EQ(win::recv(s, buf, sizeof buf, 0), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  PumpFor(50ms);
  EXPECT_EQ(Count(kSockMsg, FD_READ), 2) << "nothing left: no further FD_READ";
  EXPECT_EQ(win::recv(s, buf, sizeof buf, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(Count(kSockMsg, FD_CLOSE), 0);
}

TEST_F(WinsockTest, CloseWaitsUntilUnreadDataIsTaken) {
  LoopbackPeer peer(PeerScript().Send("xy").Close());
  win::SOCKET s = Connected(peer.Port());
  ASSERT_TRUE(peer.WaitDone());
  PumpFor(80ms);
  EXPECT_EQ(Count(kSockMsg, FD_CLOSE), 0) << "data is still unread";
  char buf[4];
  EXPECT_EQ(win::recv(s, buf, sizeof buf, 0), 2);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CLOSE) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam), 0);
  EXPECT_EQ(win::recv(s, buf, sizeof buf, 0), 0);
  PumpFor(50ms);
  EXPECT_EQ(Count(kSockMsg, FD_CLOSE), 1);
}

TEST_F(WinsockTest, ResetIsReportedByCloseAndEveryLaterCall) {
  LoopbackPeer peer(PeerScript().Reset());
  win::SOCKET s = Connected(peer.Port());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CLOSE) > 0; }));
  if (WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam) == 0)
    SKIP_ON_WINE("a reset by the peer arrives as an ordinary close");
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam), WSAECONNRESET);
  char c;
  EXPECT_EQ(win::recv(s, &c, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAECONNRESET);
  // Sending to a reset connection is an error, not a signal that ends the process.
  EXPECT_EQ(win::send(s, "x", 1, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAECONNRESET);
}

// A server that accepts and resets at once (an overloaded one, a firewall): the reset is already
// there when the connect's completion is handled.
TEST_F(WinsockTest, ResetBeforeTheConnectIsHandledIsAConnectAndThenAClose) {
  LoopbackPeer peer(PeerScript().Reset());
  win::SOCKET s = NewSocket();
  StartConnect(s, peer.Port());
  ASSERT_TRUE(peer.WaitDone());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CLOSE) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CONNECT)->lParam), 0);
  if (WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam) == 0)
    SKIP_ON_WINE("a reset by the peer arrives as an ordinary close");
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam), WSAECONNRESET);
  char c;
  EXPECT_EQ(win::recv(s, &c, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAECONNRESET);
}

TEST_F(WinsockTest, ListenerReportsAcceptAndAcceptedSocketInheritsRegistration) {
  win::SOCKET listener = NewSocket(FD_ACCEPT | FD_READ | FD_CLOSE);
  win::sockaddr_in a = Loopback(0);
  ASSERT_EQ(win::bind(listener, reinterpret_cast<win::sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(win::listen(listener, 5), 0);
  int len = sizeof a;
  ASSERT_EQ(win::getsockname(listener, reinterpret_cast<win::sockaddr*>(&a), &len), 0);

  win::SOCKET client = NewSocket(FD_CONNECT);
  StartConnect(client, win::ntohs(a.sin_port));
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_ACCEPT) > 0; }));
  EXPECT_EQ(Find(kSockMsg, FD_ACCEPT)->wParam, listener);
  win::sockaddr_in peerAddr{};
  int peerLen = sizeof peerAddr;
  win::SOCKET accepted =
      win::accept(listener, reinterpret_cast<win::sockaddr*>(&peerAddr), &peerLen);
  ASSERT_NE(accepted, INVALID_SOCKET);
  sockets.push_back(accepted);
  EXPECT_EQ(peerAddr.sin_addr.s_addr, win::inet_addr("127.0.0.1"));
  EXPECT_EQ(win::accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(win::WSAGetLastError(), WSAEWOULDBLOCK);

  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CONNECT) > 0; }));
  EXPECT_EQ(win::send(client, "hi", 2, 0), 2);
  ASSERT_TRUE(PumpUntil([&] {
    for (auto& r : received)
      if (r.wParam == accepted && WSAGETSELECTEVENT(r.lParam) == FD_READ) return true;
    return false;
  }));
}

TEST_F(WinsockTest, HostLookupFillsTheBufferOnDelivery) {
  char buf[MAXGETHOSTSTRUCT];
  win::HANDLE task = win::WSAAsyncGetHostByName(window, kSockMsg + 1, "localhost", buf, sizeof buf);
  ASSERT_NE(task, nullptr);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg + 1) > 0; }));
  const Received& r = received.back();
  EXPECT_EQ(reinterpret_cast<win::HANDLE>(r.wParam), task);
  ASSERT_EQ(WSAGETASYNCERROR(r.lParam), 0);
  auto* he = reinterpret_cast<win::hostent*>(buf);
  ASSERT_NE(he->h_addr_list[0], nullptr);
  EXPECT_EQ(he->h_length, 4);
  EXPECT_EQ(static_cast<unsigned char>(he->h_addr_list[0][0]), 127);
}

TEST_F(WinsockTest, HostLookupErrorsAndShortBuffers) {
  char buf[MAXGETHOSTSTRUCT];
  win::WSAAsyncGetHostByName(window, kSockMsg + 1, "no-such-host.invalid", buf, sizeof buf);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg + 1) > 0; }, 30s));
  int error = WSAGETASYNCERROR(received.back().lParam);
  EXPECT_TRUE(error == WSAHOST_NOT_FOUND || error == WSATRY_AGAIN || error == WSANO_DATA) << error;

  received.clear();
  char small[8];
  std::memset(small, 0x5A, sizeof small);
  win::WSAAsyncGetHostByName(window, kSockMsg + 1, "localhost", small, sizeof small);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg + 1) > 0; }));
  EXPECT_EQ(WSAGETASYNCERROR(received.back().lParam), WSAENOBUFS);
  EXPECT_GT(WSAGETASYNCBUFLEN(received.back().lParam), sizeof small);
  for (char c : small)
    EXPECT_EQ(c, 0x5A);
}

// IPv6 sockets are registered and notified as IPv4 ones are.
TEST_F(WinsockTest, Ipv6ConnectReadAndCloseFollowTheSameRules) {
  LoopbackPeer peer(PeerScript().Send("abc").Close(), testsupport::Family::V6);
  win::SOCKET s = NewSocket(FD_READ | FD_CONNECT | FD_CLOSE, AF_INET6);
  StartConnect6(s, peer.Port());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_READ) > 0; }));
  ASSERT_EQ(Count(kSockMsg, FD_CONNECT), 1);
  EXPECT_EQ(Find(kSockMsg, FD_CONNECT)->wParam, s);
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CONNECT)->lParam), 0);
  ASSERT_TRUE(peer.WaitDone());
  PumpFor(50ms);
  EXPECT_EQ(Count(kSockMsg, FD_CLOSE), 0) << "data is still unread";
  char buf[8];
  EXPECT_EQ(win::recv(s, buf, sizeof buf, 0), 3);
  EXPECT_EQ(std::string(buf, 3), "abc");
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CLOSE) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CLOSE)->lParam), 0);
  EXPECT_EQ(Count(kSockMsg, FD_READ), 1);
}

TEST_F(WinsockTest, Ipv6RefusedConnectCarriesTheErrorInTheHighWord) {
  testsupport::RefusingPort refusing(testsupport::Family::V6);
  win::SOCKET s = NewSocket(FD_CONNECT, AF_INET6);
  StartConnect6(s, refusing.Port());
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CONNECT) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CONNECT)->lParam), WSAECONNREFUSED);
  // An IPv6 socket takes no IPv4 address.
  win::sockaddr_in v4 = Loopback(refusing.Port());
  win::SOCKET other = NewSocket(FD_CONNECT, AF_INET6);
  EXPECT_EQ(win::connect(other, reinterpret_cast<win::sockaddr*>(&v4), sizeof v4), SOCKET_ERROR);
  EXPECT_NE(win::WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(WinsockTest, Ipv6ListenerAcceptsAndNamesBothEnds) {
  win::SOCKET listener = NewSocket(FD_ACCEPT, AF_INET6);
  win::sockaddr_in6 a = Loopback6(0);
  ASSERT_EQ(win::bind(listener, reinterpret_cast<win::sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(win::listen(listener, 5), 0);
  int len = sizeof a;
  ASSERT_EQ(win::getsockname(listener, reinterpret_cast<win::sockaddr*>(&a), &len), 0);
  EXPECT_EQ(len, static_cast<int>(sizeof a));
  EXPECT_EQ(a.sin6_family, AF_INET6);
  EXPECT_EQ(a.sin6_addr.u.Byte[15], 1);

  win::SOCKET client = NewSocket(FD_CONNECT, AF_INET6);
  StartConnect6(client, win::ntohs(a.sin6_port));
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_ACCEPT) > 0; }));
  win::sockaddr_in6 peerAddr{};
  int peerLen = sizeof peerAddr;
  win::SOCKET accepted =
      win::accept(listener, reinterpret_cast<win::sockaddr*>(&peerAddr), &peerLen);
  ASSERT_NE(accepted, INVALID_SOCKET);
  sockets.push_back(accepted);
  EXPECT_EQ(peerAddr.sin6_family, AF_INET6);
  EXPECT_EQ(peerAddr.sin6_addr.u.Byte[15], 1);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CONNECT) > 0; }));
  EXPECT_EQ(WSAGETSELECTERROR(Find(kSockMsg, FD_CONNECT)->lParam), 0);
}
