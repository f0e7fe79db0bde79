// Runs a function once from the message loop after a delay, on a window timer of its own, as a
// button handler would run during a wait.
#pragma once

#include <chrono>
#include <functional>

#include "platform/win32.h"

namespace testsupport {

class RunLater {
public:
  RunLater(std::chrono::milliseconds delay, std::function<void()> fn);
  ~RunLater();
  RunLater(const RunLater&) = delete;
  RunLater& operator=(const RunLater&) = delete;

private:
  static win::LRESULT CALLBACK Proc(win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp);
  win::HWND window_ = nullptr;
  std::function<void()> fn_;
};

} // namespace testsupport
