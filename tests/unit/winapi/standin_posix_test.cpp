// Promises the Linux stand-in makes beyond Winsock's: a closed socket's notifications and a
// given-up lookup's reply never arrive.
#include "winapi_fixture.h"

TEST_F(WinsockTest, ClosingDropsNotificationsNotYetDelivered) {
  LoopbackPeer peer(PeerScript().Send("data").StaySilent());
  win::SOCKET s = NewSocket();
  StartConnect(s, peer.Port());
  // Give the notifications time to be posted, then close before processing them.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(win::closesocket(s), 0);
  sockets.clear();
  PumpFor(50ms);
  for (auto& r : received)
    EXPECT_NE(r.wParam, s) << "message for a closed socket";
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
