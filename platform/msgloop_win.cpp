#include "platform/msgloop.h"

#include <windows.h>

namespace platform {

namespace {

void (*exceptionHandler)() = nullptr;

// Window procedures catch their own exceptions; this is the last line for anything that still
// escapes a dispatch, so the loop goes on as the application object promises.
void Dispatch(MSG& msg) {
  try {
    // A top-level window that holds controls gets the dialog keyboard: Tab, Space, Enter.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && (GetWindowLongPtrA(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) &&
        IsDialogMessageA(root, &msg))
      return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  } catch (...) {
    if (exceptionHandler) exceptionHandler();
  }
}

} // namespace

void InitializeMessageLoop(void (*handler)()) {
  exceptionHandler = handler;
}

void ProcessMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit request for the main loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    Dispatch(msg);
  }
}

void WaitAndProcessMessages() {
  WaitMessage();
  ProcessMessages();
}

int RunMessageLoop() {
  MSG msg{};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0)
    Dispatch(msg);
  return static_cast<int>(msg.wParam);
}

void QuitMessageLoop(int exitCode) {
  PostQuitMessage(exitCode);
}

void CancelMouseCapture() {
  ReleaseCapture();
}

} // namespace platform
