// Promises the Linux stand-in makes beyond Winsock's: a closed socket's notifications and a
// given-up lookup's reply never arrive.
#include "platform/resolve.h"
#include "winapi_fixture.h"

TEST_F(WinsockTest, ClosingDropsNotificationsNotYetDelivered) {
  LoopbackPeer peer(PeerScript().StaySilent());
  win::SOCKET s = Connected(peer.Port());
  received.clear();
  // Asking a connected socket for FD_WRITE queues one at once.
  ASSERT_EQ(win::WSAAsyncSelect(s, window, kSockMsg, FD_WRITE), 0);
  win::MSG queued{};
  ASSERT_TRUE(win::PeekMessageA(&queued, window, kSockMsg, kSockMsg, PM_NOREMOVE));
  EXPECT_EQ(queued.wParam, s);
  EXPECT_EQ(win::closesocket(s), 0);
  sockets.clear();
  // Messages arrive in order: once the marker is in, the queued notification had its turn.
  constexpr win::UINT kMarker = WM_USER + 7;
  ASSERT_TRUE(win::PostMessageA(window, kMarker, 0, 0));
  ASSERT_TRUE(PumpUntil([] { return Count(kMarker) > 0; }));
  EXPECT_EQ(Count(kSockMsg), 0) << "message for a closed socket";
  EXPECT_EQ(win::closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(win::WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockTest, LookupForADestroyedWindowOrCanceledWritesNothing) {
  char gone[MAXGETHOSTSTRUCT];
  char canceled[MAXGETHOSTSTRUCT];
  char later[MAXGETHOSTSTRUCT];
  std::memset(gone, 0x5A, sizeof gone);
  std::memset(canceled, 0x5A, sizeof canceled);
  win::HWND shortLived = NewWindow();
  win::WSAAsyncGetHostByName(shortLived, kSockMsg + 1, "localhost", gone, sizeof gone);
  win::DestroyWindow(shortLived);
  win::HANDLE task =
      win::WSAAsyncGetHostByName(window, kSockMsg + 2, "localhost", canceled, sizeof canceled);
  EXPECT_EQ(win::WSACancelAsyncRequest(task), 0);
  win::WSAAsyncGetHostByName(window, kSockMsg + 1, "localhost", later, sizeof later);
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg + 1) > 0; }));
  PumpFor(100ms);
  EXPECT_EQ(Count(kSockMsg + 2), 0);
  for (char c : gone)
    ASSERT_EQ(c, 0x5A);
  for (char c : canceled)
    ASSERT_EQ(c, 0x5A);
}

TEST_F(WinsockTest, CanceledAddressLookupPostsNothing) {
  win::HANDLE canceled = platform::StartLookup(window, kSockMsg + 2, "localhost");
  platform::CancelLookup(canceled);
  win::HANDLE later = platform::StartLookup(window, kSockMsg + 1, "localhost");
  ASSERT_TRUE(PumpUntil([] { return Count(kSockMsg + 1) > 0; }));
  platform::TakeLookupResult(later);
  PumpFor(100ms);
  EXPECT_EQ(Count(kSockMsg + 2), 0);
}
