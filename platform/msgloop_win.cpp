#include "platform/msgloop.h"

#include <windows.h>

namespace platform {

namespace {

void (*exceptionHandler)() = nullptr;

// A quit request taken off the queue by a wait, kept for the main loop. Posting it again would
// make the next wait return at once, so waits after a quit would spin.
bool quitPending = false;
int quitCode = 0;

int inputSuspensions = 0;

bool IsInput(UINT message) {
  return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

BOOL CALLBACK DisableWindow(HWND hwnd, LPARAM list) {
  if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
    EnableWindow(hwnd, FALSE);
    reinterpret_cast<std::vector<void*>*>(list)->push_back(hwnd);
  }
  return TRUE;
}

// Window procedures catch their own exceptions; this is the last line for anything that still
// escapes a dispatch, so the loop goes on as the application object promises.
void Dispatch(MSG& msg) {
  try {
    // A top-level window that holds controls gets the dialog keyboard: Tab, Space, Enter.
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && (GetWindowLongPtrA(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) &&
        IsDialogMessageW(root, &msg))
      return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
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
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quitPending = true;
      quitCode = static_cast<int>(msg.wParam);
      continue;
    }
    if (inputSuspensions > 0 && IsInput(msg.message)) continue;
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
  while (!quitPending && GetMessageW(&msg, nullptr, 0, 0) > 0)
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

InputSuspension::InputSuspension() {
  EnumThreadWindows(GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&disabled_));
  ++inputSuspensions;
}

InputSuspension::~InputSuspension() {
  // What the user did meanwhile is not played back once the windows take input again.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) ||
         PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  --inputSuspensions;
  for (void* hwnd : disabled_)
    if (IsWindow(static_cast<HWND>(hwnd))) EnableWindow(static_cast<HWND>(hwnd), TRUE);
}

void CancelMouseCapture() {
  ReleaseCapture();
}

} // namespace platform
