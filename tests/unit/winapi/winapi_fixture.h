// Shared set-up of the Windows API tests: a recording window procedure, a socket fixture and
// message-pumping helpers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "platform/msgloop.h"
#include "platform/win32.h"
#include "support/loopback_peer.h"

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::PeerScript;

namespace winapitest {

struct Received {
  win::HWND window;
  win::UINT msg;
  win::WPARAM wParam;
  win::LPARAM lParam;
};
inline std::vector<Received> received;

inline win::LRESULT CALLBACK RecordingProc(win::HWND w, win::UINT msg, win::WPARAM wp,
                                           win::LPARAM lp) {
  if (msg >= WM_USER || msg == WM_TIMER) {
    received.push_back({w, msg, wp, lp});
    return 0;
  }
  return win::DefWindowProcA(w, msg, wp, lp);
}

inline const char* kClass = "WinapiTestClass";

inline win::HWND NewWindow() {
  win::WNDCLASSA cls{};
  if (!win::GetClassInfoA(win::GetModuleHandleA(nullptr), kClass, &cls)) {
    cls.lpfnWndProc = RecordingProc;
    cls.cbWndExtra = sizeof(win::LONG_PTR);
    cls.hInstance = win::GetModuleHandleA(nullptr);
    cls.lpszClassName = kClass;
    EXPECT_NE(win::RegisterClassA(&cls), 0);
  }
  // Message-only, as the component's windows: they exist without a desktop.
  return win::CreateWindowExA(WS_EX_TOOLWINDOW, kClass, "", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, win::GetModuleHandleA(nullptr), nullptr);
}

// Processes messages until pred holds or the limit passes.
inline bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5s) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    platform::ProcessMessages();
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

inline void PumpFor(std::chrono::milliseconds d) {
  PumpUntil([] { return false; }, d);
}

inline int Count(win::UINT msg, int event = -1) {
  int n = 0;
  for (auto& r : received)
    if (r.msg == msg && (event < 0 || WSAGETSELECTEVENT(r.lParam) == event)) ++n;
  return n;
}

inline const Received* Find(win::UINT msg, int event) {
  for (auto& r : received)
    if (r.msg == msg && WSAGETSELECTEVENT(r.lParam) == event) return &r;
  return nullptr;
}

constexpr win::UINT kSockMsg = WM_USER + 101;

class WinsockTest : public ::testing::Test {
protected:
  void SetUp() override {
    received.clear();
    ASSERT_EQ(win::WSAStartup(MAKEWORD(1, 1), &data), 0);
    window = NewWindow();
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    for (win::SOCKET s : sockets)
      win::closesocket(s);
    win::DestroyWindow(window);
    win::WSACleanup();
  }
  win::SOCKET NewSocket(long events = FD_READ | FD_CONNECT | FD_CLOSE | FD_ACCEPT,
                        int family = AF_INET) {
    win::SOCKET s = win::socket(family, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(win::WSAAsyncSelect(s, window, kSockMsg, events), 0);
    sockets.push_back(s);
    return s;
  }
  static win::sockaddr_in Loopback(uint16_t port) {
    win::sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = win::htons(port);
    a.sin_addr.s_addr = win::inet_addr("127.0.0.1");
    return a;
  }
  // [::1]:port.
  static win::sockaddr_in6 Loopback6(uint16_t port) {
    win::sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = win::htons(port);
    a.sin6_addr.u.Byte[15] = 1;
    return a;
  }
  void StartConnect6(win::SOCKET s, uint16_t port) {
    win::sockaddr_in6 a = Loopback6(port);
    EXPECT_EQ(win::connect(s, reinterpret_cast<win::sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), WSAEWOULDBLOCK);
  }
  // Starts a non-blocking connect, which always reports WSAEWOULDBLOCK.
  void StartConnect(win::SOCKET s, uint16_t port) {
    win::sockaddr_in a = Loopback(port);
    EXPECT_EQ(win::connect(s, reinterpret_cast<win::sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(win::WSAGetLastError(), WSAEWOULDBLOCK);
  }
  win::SOCKET Connected(uint16_t port) {
    win::SOCKET s = NewSocket();
    StartConnect(s, port);
    EXPECT_TRUE(PumpUntil([] { return Count(kSockMsg, FD_CONNECT) > 0; }));
    return s;
  }

  win::WSADATA data{};
  win::HWND window = nullptr;
  std::vector<win::SOCKET> sockets;
};

} // namespace winapitest

using namespace winapitest;
