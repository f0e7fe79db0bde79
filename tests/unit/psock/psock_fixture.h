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

class PsockTest : public ::testing::Test {
protected:
  std::unique_ptr<TPowersock> NewSock(const std::string& host, uint16_t port) {
    auto s = std::make_unique<TPowersock>(nullptr);
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
