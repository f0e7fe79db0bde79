#include "platform/msgbox.h"
#include "platform/text.h"

namespace win {

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  if (const auto& hook = platform::CurrentMessageBoxHook())
    return hook(hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType);
  // A box without an owner is modal to nothing; task-modal keeps every window of the program
  // still while it is open, as the installer's boxes must.
  if (!hWnd) uType |= MB_TASKMODAL;
  return ::MessageBoxW(hWnd, platform::Utf8ToWide(lpText ? lpText : "").c_str(),
                       lpCaption ? platform::Utf8ToWide(lpCaption).c_str() : nullptr, uType);
}

} // namespace win
