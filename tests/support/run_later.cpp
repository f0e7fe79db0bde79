#include "support/run_later.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {
const char kClass[] = "TestRunLaterClass";
}

RunLater::RunLater(std::chrono::milliseconds delay, std::function<void()> fn) : fn_(std::move(fn)) {
  win::HINSTANCE instance = win::GetModuleHandleA(nullptr);
  win::WNDCLASSA cls{};
  if (!win::GetClassInfoA(instance, kClass, &cls)) {
    cls.lpfnWndProc = Proc;
    cls.cbWndExtra = sizeof(win::LONG_PTR);
    cls.hInstance = instance;
    cls.lpszClassName = kClass;
    win::RegisterClassA(&cls);
  }
  window_ =
      win::CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!window_) throw std::runtime_error("RunLater: no window");
  win::SetWindowLongPtrA(window_, 0, reinterpret_cast<win::LONG_PTR>(this));
  auto ms = static_cast<win::UINT>(std::max<long long>(1, delay.count()));
  if (!win::SetTimer(window_, 1, ms, nullptr)) throw std::runtime_error("RunLater: no timer");
}

RunLater::~RunLater() {
  win::DestroyWindow(window_);
}

win::LRESULT CALLBACK RunLater::Proc(win::HWND w, win::UINT msg, win::WPARAM wp, win::LPARAM lp) {
  auto* self = reinterpret_cast<RunLater*>(win::GetWindowLongPtrA(w, 0));
  if (msg != WM_TIMER || !self) return win::DefWindowProcA(w, msg, wp, lp);
  win::KillTimer(w, 1);
  if (auto fn = std::exchange(self->fn_, nullptr)) fn();
  return 0;
}

} // namespace testsupport
