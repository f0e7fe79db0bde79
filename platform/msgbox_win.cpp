#include "platform/msgbox.h"

namespace win {

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  if (const auto& hook = platform::CurrentMessageBoxHook())
    return hook(hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType);
  return ::MessageBoxA(hWnd, lpText, lpCaption, uType);
}

} // namespace win
