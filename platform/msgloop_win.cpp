#include "platform/msgloop.h"

#include <windows.h>

namespace platform {

namespace {

void (*exceptionHandler)() = nullptr;

// A quit request taken off the queue by a wait, kept for the main loop. Posting it again would
// make the next wait return at once, so waits after a quit would spin.
bool quitPending = false;
int quitCode = 0;

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
      quitPending = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    Dispatch(msg);
  }
}

void WaitAndProcessMessages() {
  // Unlike WaitMessage, this also returns for input that a peek has seen but left queued.
  MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  ProcessMessages();
}

int RunMessageLoop() {
  MSG msg{};
  while (!quitPending && GetMessageA(&msg, nullptr, 0, 0) > 0)
    Dispatch(msg);
  if (quitPending) {
    quitPending = false;
    return quitCode;
  }
  return static_cast<int>(msg.wParam);
}

void QuitMessageLoop(int exitCode) {
  PostQuitMessage(exitCode);
}

void CancelMouseCapture() {
  ReleaseCapture();
}

} // namespace platform
