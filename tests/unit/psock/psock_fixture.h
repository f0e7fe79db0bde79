// Shared set-up of the socket component tests: a component wired to record its events and
// status words, and small helpers around the message queue.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/Forms.h"
#include "netcomp/Psock.h"
#include "support/loopback_peer.h"
#include "support/run_later.h"
#include "support/testenv.h"

using namespace std::chrono_literals;
using testsupport::LoopbackPeer;
using testsupport::PeerScript;

// The component with its notification window in reach of the tests.
struct TestSock : TPowersock {
  using TPowersock::SocketWindow;
  using TPowersock::TPowersock;
};

// Holds back the replies of host lookups to a component, as a name server that does not answer
// would: its window procedure is wrapped while this lives.
class HeldLookups {
public:
  explicit HeldLookups(TestSock& s) : window_(s.SocketWindow) {
    original = reinterpret_cast<win::WNDPROC>(
        win::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<win::LONG_PTR>(&Proc)));
  }
  ~HeldLookups() { Release(); }
  void Release() {
    if (window_)
      win::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<win::LONG_PTR>(original));
    window_ = nullptr;
  }

private:
  static win::LRESULT CALLBACK Proc(win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
    if (msg == TPowersock::HostLookupMessage) return 0;
    return win::CallWindowProcA(original, w, msg, wp, lp);
  }
  static inline win::WNDPROC original = nullptr;
  win::HWND window_;
};

class PsockTest : public ::testing::Test {
protected:
  std::unique_ptr<TestSock> NewSock(const std::string& host, uint16_t port) {
    auto s = std::make_unique<TestSock>(nullptr);
    s->Host = host;
    s->Port = port;
    s->ReportLevel = 8;
    s->OnStatus = [this](TObject*, const std::string& text) { status.push_back(text); };
    s->OnConnect = [this](TObject*) { events.push_back("connect"); };
    s->OnDisconnect = [this](TObject*) { events.push_back("disconnect"); };
    s->OnHostResolved = [this](TObject*) { events.push_back("resolved"); };
    s->OnConnectionFailed = [this](TObject*) { events.push_back("failed"); };
    return s;
  }

  // Runs Cancel on the component from the message loop after the delay, as a button would.
  void CancelLater(TPowersock& s, std::chrono::milliseconds delay) {
    later.push_back(std::make_unique<testsupport::RunLater>(delay, [&s] { s.Cancel(); }));
  }

  static bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 5s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Application->ProcessMessages();
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // Status words from the first occurrence of first on.
  std::vector<std::string> StatusFrom(const std::string& first) const {
    for (size_t i = 0; i < status.size(); ++i)
      if (status[i] == first) return {status.begin() + static_cast<long>(i), status.end()};
    return {};
  }

  // The message of the exception of type E that fn raises; "" when it raises none.
  template <class E> static std::string Raised(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const E& e) {
      return e.Message;
    }
    return "";
  }

  std::vector<std::string> status;
  std::vector<std::string> events;
  std::vector<std::unique_ptr<testsupport::RunLater>> later;
};
