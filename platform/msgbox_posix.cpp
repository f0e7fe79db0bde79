#include <cstdio>

#include "platform/msgbox.h"
#include "platform/widgets_posix.h"

namespace win {

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  const std::string text = lpText ? lpText : "";
  const std::string caption = lpCaption ? lpCaption : "Error";
  if (const auto& hook = platform::CurrentMessageBoxHook()) return hook(hWnd, text, caption, uType);
  if (const auto box = platform::detail::Widgets().messageBox) return box(text, caption, uType);
  // Without a GUI there is nobody to click: the text still has to reach the user.
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  return IDOK;
}

} // namespace win
