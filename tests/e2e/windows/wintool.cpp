// Reads the installer's window from outside, as the end-to-end test under Wine needs:
//   wintool log            prints the log pane's text as stored (lines end with CR LF)
//   wintool box CAPTION    prints the message box's text and buttons, then presses OK
//   wintool ping MS        tells whether the installer's window answers a message within MS
//                          milliseconds (what Windows asks before it calls a window "Not
//                          responding"): prints "answered" or "hung"
//   wintool hold [window]  opens the desktop, prints "ready" and stays on it until killed, so
//                          that Wine does not close the desktop between two test programs (it
//                          does so a second after its last user leaves, and a window made just
//                          then fails). With "window" it first makes a top-level window and
//                          exits with 3 when it cannot: a desktop whose explorer was slow to
//                          start on a loaded machine leaves the process that opened it without
//                          a display driver for good, and the caller then starts another
// Texts are printed in UTF-8. Exits with 1 when the window is not there (ping: or did not answer).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string TextOf(HWND hwnd) {
  const auto length = SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(
      SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return Utf8(text);
}

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

BOOL CALLBACK FindEdit(HWND child, LPARAM found) {
  if (lstrcmpiA(ClassOf(child).c_str(), "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

int PrintLog() {
  HWND window = FindWindowA(nullptr, "Corvane Installer - Updater");
  HWND edit = nullptr;
  if (window) EnumChildWindows(window, FindEdit, reinterpret_cast<LPARAM>(&edit));
  if (!edit) return 1;
  const std::string text = TextOf(edit);
  fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int Ping(const char* milliseconds) {
  HWND window = FindWindowA(nullptr, "Corvane Installer - Updater");
  if (!window) return 1;
  DWORD_PTR result = 0;
  const bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                            static_cast<UINT>(atoi(milliseconds)), &result) != 0;
  puts(answered ? "answered" : "hung");
  return answered ? 0 : 1;
}

int PressOk(const char* caption) {
  HWND box = FindWindowA("#32770", caption);
  if (!box) return 1;
  HWND ok = nullptr;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string cls = ClassOf(child), text = TextOf(child);
    if (lstrcmpiA(cls.c_str(), "Button") == 0) {
      printf("button %s\n", text.c_str());
      if (text == "OK") ok = child;
    } else if (lstrcmpiA(cls.c_str(), "Static") == 0 && !text.empty()) {
      printf("text %s\n", text.c_str());
    }
  }
  fflush(stdout);
  if (!ok) return 1;
  PostMessageA(ok, BM_CLICK, 0, 0);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc == 2 && strcmp(argv[1], "log") == 0) return PrintLog();
  if (argc == 3 && strcmp(argv[1], "box") == 0) return PressOk(argv[2]);
  if (argc == 3 && strcmp(argv[1], "ping") == 0) return Ping(argv[2]);
  if ((argc == 2 || (argc == 3 && strcmp(argv[2], "window") == 0)) &&
      strcmp(argv[1], "hold") == 0) {
    if (!GetDesktopWindow()) return 1;
    if (argc == 3) {
      HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
      if (!probe) {
        fprintf(stderr, "no top-level window: error %lu\n", GetLastError());
        return 3;
      }
      DestroyWindow(probe);
    }
    puts("ready");
    fflush(stdout);
    Sleep(INFINITE);
  }
  fprintf(stderr, "usage: wintool log | wintool box CAPTION | wintool ping MS | wintool hold [window]\n");
  return 2;
}
