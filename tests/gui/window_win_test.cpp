// The native Win32 window, read back through its window handles (under Wine and Xvfb).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <atomic>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "framework/Forms.h"
#include "installer/Cvnsetupmain.h"
#include "platform/msgloop.h"
#include "support/recording_view.h"
#include "support/testenv.h"

namespace {

using namespace form1_layout;

// This process's installer window (another program's may be open on the same desktop).
HWND Form1Window() {
  for (HWND w = FindWindowExA(nullptr, nullptr, "TForm1", nullptr); w;
       w = FindWindowExA(nullptr, w, "TForm1", nullptr)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == GetCurrentProcessId()) return w;
  }
  return nullptr;
}

HWND Control(std::string_view name) {
  for (size_t i = 0; i < std::size(Controls); ++i)
    if (name == Controls[i].Name) {
      HWND parent = Controls[i].Parent ? Control(Controls[i].Parent) : Form1Window();
      return GetDlgItem(parent, FirstControlId + static_cast<int>(i));
    }
  return nullptr;
}

std::string Text(HWND hwnd) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(hwnd)) + 1, '\0');
  text.resize(
      static_cast<size_t>(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

struct Rect {
  long left, top, width, height;
  bool operator==(const Rect&) const = default;
  friend void PrintTo(const Rect& r, std::ostream* os) {
    *os << "{" << r.left << ", " << r.top << ", " << r.width << ", " << r.height << "}";
  }
};

// Within the parent's client area.
Rect Geometry(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect ClientSize(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  return {0, 0, r.right, r.bottom};
}

LONG_PTR Style(const char* name) {
  return GetWindowLongPtrA(Control(name), GWL_STYLE);
}

LOGFONTA FontOf(HWND hwnd) {
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

int BarPosition() {
  return static_cast<int>(SendMessageA(Control("ProgressBar1"), PBM_GETPOS, 0, 0));
}

int BarMax() {
  return static_cast<int>(SendMessageA(Control("ProgressBar1"), PBM_GETRANGE, FALSE, 0));
}

// A key as the keyboard would deliver it, through the program's own message loop.
void PressKey(UINT key) {
  HWND focus = GetFocus();
  PostMessageA(focus, WM_KEYDOWN, key, 1);
  PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
  platform::ProcessMessages();
}

// The name a screen reader reads for a window (its client object's accName), or why there is none.
std::wstring AccessibleName(HWND hwnd) {
  static const auto fromWindow =
      reinterpret_cast<decltype(&AccessibleObjectFromWindow)>(reinterpret_cast<void*>(
          GetProcAddress(LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32),
                         "AccessibleObjectFromWindow")));
  IAccessible* accessible = nullptr;
  if (!fromWindow || FAILED(fromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                       reinterpret_cast<void**>(&accessible))))
    return L"(no accessible object)";
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  const HRESULT hr = accessible->get_accName(self, &name);
  accessible->Release();
  std::wstring text = hr == S_OK && name ? std::wstring(name) : L"(no name)";
  SysFreeString(name);
  return text;
}

class WinWindowTest : public ::testing::Test {
protected:
  WinWindowTest() : view_(CreatePlatformView()) {}

  std::unique_ptr<TInstallerView> view_;
};

} // namespace

TEST_F(WinWindowTest, StoredLayoutAt96Dpi) {
  ASSERT_NE(Form1Window(), nullptr);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi != 96) GTEST_SKIP() << "the display is at " << dpi << " dpi";

  EXPECT_EQ(ClientSize(Form1Window()), (Rect{0, 0, 463, 380}));
  EXPECT_EQ(Text(Form1Window()), "CVN Installer - Updater");
  struct Expected {
    const char* name;
    Rect geometry;
    const char* parent;
    const char* cls;
  };
  const Expected expected[] = {
      {"Panel2", {0, 352, 463, 28}, nullptr, "TPanel"},
      {"ProgressBar1", {1, 0, 461, 27}, "Panel2", "msctls_progress32"},
      {"Memo1", {0, 181, 463, 171}, nullptr, "Edit"},
      {"Panel1", {0, 0, 463, 181}, nullptr, "TPanel"},
      {"Label1", {1, 1, 461, 26}, "Panel1", "Static"},
      {"CheckBox1", {24, 40, 245, 20}, "Panel1", "Button"},
      {"Label2", {24, 64, 254, 18}, "Panel1", "Static"},
      {"CheckBox2", {24, 116, 229, 20}, "Panel1", "Button"},
      {"Label3", {24, 144, 174, 18}, "Panel1", "Static"},
      {"Button1", {352, 140, 75, 25}, "Panel1", "Button"},
  };
  for (const Expected& e : expected) {
    HWND hwnd = Control(e.name);
    ASSERT_NE(hwnd, nullptr) << e.name;
    EXPECT_EQ(GetParent(hwnd), e.parent ? Control(e.parent) : Form1Window()) << e.name;
    EXPECT_TRUE(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ClassOf(hwnd).c_str(), -1, e.cls,
                               -1) == CSTR_EQUAL)
        << e.name << " is a " << ClassOf(hwnd);
    Rect g = Geometry(hwnd);
    if (std::string_view(e.cls) == "Static" && e.geometry.top > 1) {
      // Free labels grow to their text, never shrink below the stored width.
      EXPECT_GE(g.width, e.geometry.width) << e.name;
      g.width = e.geometry.width;
    }
    EXPECT_EQ(g, e.geometry) << e.name;
  }
  EXPECT_EQ(Text(Control("Label1")), "Please make your selections and click 'next'");
  EXPECT_EQ(Style("Label1") & (SS_TYPEMASK | SS_CENTERIMAGE), SS_CENTER | SS_CENTERIMAGE);
  EXPECT_EQ(Text(Control("Label2")), "This will install / update the wallet program");
  EXPECT_EQ(Text(Control("Label3")), "This will install the blockchain");
  EXPECT_EQ(Text(Control("CheckBox1")), "program");
  EXPECT_EQ(Text(Control("CheckBox2")), "blockchain");
  EXPECT_EQ(Text(Control("Button1")), "Next");
  EXPECT_EQ(Text(Control("Memo1")), "waiting...\r\n");
}

TEST_F(WinWindowTest, InitialStateOfTheControls) {
  EXPECT_EQ(BarMax(), 100);
  EXPECT_EQ(SendMessageA(Control("ProgressBar1"), PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(BarPosition(), 0);
  EXPECT_TRUE(Style("ProgressBar1") & WS_VISIBLE);
  EXPECT_TRUE(Style("ProgressBar1") & PBS_SMOOTH);
  EXPECT_FALSE(Style("ProgressBar1") & PBS_VERTICAL);

  const LONG_PTR memo = Style("Memo1");
  EXPECT_TRUE(memo & ES_MULTILINE);
  EXPECT_TRUE(memo & WS_VSCROLL);
  EXPECT_FALSE(memo & (WS_HSCROLL | ES_AUTOHSCROLL)) << "long lines wrap";
  EXPECT_FALSE(memo & ES_READONLY);
  EXPECT_TRUE(GetWindowLongPtrA(Control("Memo1"), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);

  for (const char* name : {"CheckBox1", "CheckBox2"}) {
    EXPECT_EQ(Style(name) & BS_TYPEMASK, BS_AUTOCHECKBOX) << name;
    EXPECT_EQ(SendMessageA(Control(name), BM_GETCHECK, 0, 0), BST_UNCHECKED) << name;
  }
  EXPECT_EQ(Style("Button1") & BS_TYPEMASK, BS_PUSHBUTTON) << "not the default button";
}

TEST_F(WinWindowTest, FontsAndColours) {
  struct Expected {
    const char* name;
    const char* face;
    LONG height;
    bool bold;
  };
  for (const Expected& e :
       {Expected{"Label1", "Open Sans", -19, false}, Expected{"CheckBox1", "Open Sans", -16, false},
        Expected{"CheckBox2", "Open Sans", -16, false}, Expected{"Label2", "Open Sans", -13, false},
        Expected{"Label3", "Open Sans", -13, false}, Expected{"Button1", "Open Sans", -16, true},
        Expected{"Memo1", "MS Sans Serif", -11, false}}) {
    const LOGFONTA font = FontOf(Control(e.name));
    // Debian's fonts-open-sans reaches Wine through fontconfig; the window's default font is
    // whatever the system gives for its name.
    if (std::string_view(e.face) == "Open Sans") {
      EXPECT_STREQ(font.lfFaceName, e.face) << e.name;
    }
    EXPECT_EQ(font.lfHeight, e.height) << e.name;
    EXPECT_EQ(font.lfWeight >= FW_BOLD, e.bold) << e.name;
  }

  EXPECT_EQ(GetClassLongPtrA(Form1Window(), GCLP_HBRBACKGROUND),
            static_cast<ULONG_PTR>(COLOR_BTNFACE + 1));
  // The panels paint sky blue inside a one-pixel raised bevel.
  for (const char* name : {"Panel1", "Panel2"}) {
    const Rect size = ClientSize(Control(name));
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, size.width, size.height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    SendMessageA(Control(name), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    EXPECT_EQ(GetPixel(dc, 0, 0), GetSysColor(COLOR_BTNHIGHLIGHT)) << name;
    EXPECT_EQ(GetPixel(dc, size.width - 1, size.height - 1), GetSysColor(COLOR_BTNSHADOW)) << name;
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(166, 202, 240)) << name;
    EXPECT_EQ(GetPixel(dc, size.width / 2, size.height / 2), RGB(166, 202, 240)) << name;
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
  }
  // Labels and check boxes show the panel through.
  HDC dc = GetDC(nullptr);
  for (const char* name : {"Label2", "CheckBox1"}) {
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(Control(name)), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(Control(name))));
    LOGBRUSH logBrush{};
    ASSERT_TRUE(GetObjectA(brush, sizeof logBrush, &logBrush)) << name;
    EXPECT_EQ(logBrush.lbColor, RGB(166, 202, 240)) << name;
    EXPECT_EQ(GetBkColor(dc), RGB(166, 202, 240)) << name;
  }
  ReleaseDC(nullptr, dc);
}

TEST_F(WinWindowTest, KeyboardMovesThroughMemoBoxesAndButton) {
  int clicks = 0;
  view_->OnButton1Click = [&] { ++clicks; };
  view_->Show();
  SetForegroundWindow(Form1Window());
  platform::ProcessMessages();
  ASSERT_EQ(GetFocus(), Control("Memo1")) << "the first control in tab order has the focus";

  std::vector<HWND> order;
  for (int i = 0; i < 4; ++i) {
    PressKey(VK_TAB);
    order.push_back(GetFocus());
  }
  EXPECT_EQ(order, (std::vector<HWND>{Control("CheckBox1"), Control("CheckBox2"),
                                      Control("Button1"), Control("Memo1")}));

  PressKey(VK_TAB);
  PressKey(VK_SPACE);
  EXPECT_TRUE(view_->IsChecked(TCheckBoxId::CheckBox1));
  PressKey(VK_RETURN); // Enter on a check box presses nothing
  PressKey(VK_TAB);
  PressKey(VK_TAB);
  ASSERT_EQ(GetFocus(), Control("Button1"));
  PressKey(VK_ESCAPE);
  EXPECT_EQ(clicks, 0) << "Escape never presses Next";
  PressKey(VK_RETURN);
  EXPECT_EQ(clicks, 1);
  PressKey(VK_SPACE);
  EXPECT_EQ(clicks, 2);
  EXPECT_TRUE(IsWindowVisible(Form1Window()));
}

// The log has the focus when the window opens; the title bar's close (WM_CLOSE) still closes.
TEST_F(WinWindowTest, EscapeClosesNothingFromAnyControl) {
  int closes = 0;
  view_->OnClosed = [&] { ++closes; };
  view_->Show();
  SetForegroundWindow(Form1Window());
  platform::ProcessMessages();
  for (const char* name : {"Memo1", "CheckBox1", "CheckBox2", "Button1"}) {
    SetFocus(Control(name));
    PressKey(VK_ESCAPE);
    PostMessageA(Control(name), WM_CHAR, 0x1B, 1);
    platform::ProcessMessages();
    EXPECT_EQ(closes, 0) << name;
    EXPECT_TRUE(IsWindowVisible(Form1Window())) << name;
  }
  SendMessageA(Form1Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(closes, 1);
}

// The log and the progress bar have no label beside them: a screen reader reads their names.
TEST_F(WinWindowTest, ScreenReadersNameTheLogAndTheProgressBar) {
  view_->Show();
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    // Whether the system reads back a name given through its annotations at all.
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, Form1Window(), nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    IAccPropServices* services = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IAccPropServices, reinterpret_cast<void**>(&services)),
              S_OK);
    const HRESULT set = services->SetHwndPropStr(probe, static_cast<DWORD>(OBJID_CLIENT),
                                                 CHILDID_SELF, PROPID_ACC_NAME, L"probe");
    const bool readBack = AccessibleName(probe) == L"probe";
    services->ClearHwndProps(probe, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                             &PROPID_ACC_NAME, 1);
    services->Release();
    DestroyWindow(probe);
    if (!readBack) {
      CoUninitialize();
      SKIP_ON_WINE("oleacc's annotations (IAccPropServices::SetHwndPropStr answered 0x"
                   << std::hex << static_cast<unsigned long>(set)
                   << ") give no name to get_accName");
    }
  }
  EXPECT_EQ(AccessibleName(Control("Memo1")), L"Log");
  EXPECT_EQ(AccessibleName(Control("ProgressBar1")), L"Progress");
  CoUninitialize();
}

// A press reads the boxes once: while it runs they and Next take no input, then come back with
// the keyboard where it was.
TEST_F(WinWindowTest, BoxesAndNextAreDisabledWhileAPressRuns) {
  std::vector<BOOL> during;
  view_->OnButton1Click = [&] {
    for (const char* name : {"CheckBox1", "CheckBox2", "Button1"})
      during.push_back(IsWindowEnabled(Control(name)));
  };
  view_->Show();
  SetForegroundWindow(Form1Window());
  SetFocus(Control("Button1"));
  PressKey(VK_SPACE);
  EXPECT_EQ(during, (std::vector<BOOL>{FALSE, FALSE, FALSE}));
  for (const char* name : {"CheckBox1", "CheckBox2", "Button1"})
    EXPECT_TRUE(IsWindowEnabled(Control(name))) << name;
  EXPECT_EQ(GetFocus(), Control("Button1"));
}

TEST_F(WinWindowTest, ResizeGivesAllHeightToTheLog) {
  view_->Show();
  SetWindowPos(Form1Window(), nullptr, 0, 0, 760, 640, SWP_NOMOVE | SWP_NOZORDER);
  const Rect client = ClientSize(Form1Window());
  const long w = client.width, h = client.height;
  ASSERT_GT(w, 463);
  ASSERT_GT(h, 380);
  EXPECT_EQ(Geometry(Control("Panel1")), (Rect{0, 0, w, 181}));
  EXPECT_EQ(Geometry(Control("Panel2")), (Rect{0, h - 28, w, 28}));
  EXPECT_EQ(Geometry(Control("Memo1")), (Rect{0, 181, w, h - 181 - 28}));
  EXPECT_EQ(Geometry(Control("Label1")), (Rect{1, 1, w - 2, 26}));
  EXPECT_EQ(Geometry(Control("ProgressBar1")), (Rect{1, 0, w - 2, 27}));
  EXPECT_EQ(Geometry(Control("Button1")), (Rect{352, 140, 75, 25}));
  EXPECT_EQ(Geometry(Control("CheckBox2")), (Rect{24, 116, 229, 20}));
}

TEST_F(WinWindowTest, PositionsAndFontsFollowTheMonitorDpi) {
  RECT suggested{100, 50, 100 + 720, 50 + 630};
  SendMessageA(Form1Window(), WM_DPICHANGED, MAKEWPARAM(144, 144),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(Geometry(Control("Button1")), (Rect{528, 210, 113, 38}));
  EXPECT_EQ(Geometry(Control("CheckBox1")), (Rect{36, 60, 368, 30}));
  EXPECT_EQ(FontOf(Control("Button1")).lfHeight, -24);
  EXPECT_EQ(FontOf(Control("Memo1")).lfHeight, -17);
  const Rect client = ClientSize(Form1Window());
  EXPECT_EQ(Geometry(Control("Panel1")), (Rect{0, 0, client.width, 272}));
  EXPECT_EQ(Geometry(Control("Panel2")), (Rect{0, client.height - 42, client.width, 42}));
  RECT outer;
  GetWindowRect(Form1Window(), &outer);
  EXPECT_EQ((Rect{outer.left, outer.top, outer.right, outer.bottom}),
            (Rect{suggested.left, suggested.top, suggested.right, suggested.bottom}));
}

TEST_F(WinWindowTest, CentredOnTheDesktopWhenFirstShown) {
  view_->Show();
  RECT r;
  GetWindowRect(Form1Window(), &r);
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(r.left, (sw - (r.right - r.left)) / 2);
  EXPECT_EQ(r.top, (sh - (r.bottom - r.top)) / 2);
  EXPECT_TRUE(IsWindowVisible(Form1Window()));
}

TEST_F(WinWindowTest, LogLines) {
  HWND memo = Control("Memo1");
  view_->ClearLog();
  EXPECT_EQ(Text(memo), "");
  view_->AddLogLine("ticker is cvn");
  view_->AddLogLine("");
  view_->AddLogLine("first\r\nsecond");
  EXPECT_EQ(Text(memo), "ticker is cvn\r\n\r\nfirst\r\nsecond\r\n");
  DWORD start = 0, end = 0;
  SendMessageA(memo, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end, static_cast<DWORD>(Text(memo).size()))
      << "the insertion point ends after the last line";

  // A long install keeps every line, beyond the edit control's default 32 KB, and shows the last.
  const std::string line(99, 'x');
  for (int i = 0; i < 500; ++i)
    view_->AddLogLine(line);
  view_->AddLogLine("Done.");
  const std::string text = Text(memo);
  EXPECT_EQ(text.size(), 32u + 500 * 101 + 7);
  EXPECT_EQ(text.substr(text.size() - 7), "Done.\r\n");
  const auto lines = SendMessageA(memo, EM_GETLINECOUNT, 0, 0);
  EXPECT_GT(SendMessageA(memo, EM_GETFIRSTVISIBLELINE, 0, 0), lines - 20);
}

TEST_F(WinWindowTest, ProgressRange) {
  try {
    view_->SetProgressMax(-1);
    ADD_FAILURE() << "a negative maximum was accepted";
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message, "TProgressBar property out of range");
  }
  EXPECT_EQ(BarMax(), 100);

  EXPECT_NO_THROW(view_->SetProgressMax(0));
  EXPECT_NO_THROW(view_->SetProgressPosition(0));
  EXPECT_EQ(BarMax(), 0);
  EXPECT_EQ(BarPosition(), 0);

  view_->SetProgressMax(6'000'000);
  view_->SetProgressPosition(3'000'000);
  EXPECT_EQ(BarMax(), 6'000'000);
  EXPECT_EQ(BarPosition(), 3'000'000);

  view_->SetProgressMax(1000);
  view_->SetProgressPosition(5000); // past the end: a full bar
  EXPECT_EQ(BarPosition(), 1000);
  view_->SetProgressPosition(-3);
  EXPECT_EQ(BarPosition(), 0);

  view_->SetProgressVisible(false);
  EXPECT_FALSE(Style("ProgressBar1") & WS_VISIBLE);
  EXPECT_TRUE(Style("Panel2") & WS_VISIBLE);
  view_->SetProgressVisible(true);
  EXPECT_TRUE(Style("ProgressBar1") & WS_VISIBLE);
}

TEST_F(WinWindowTest, ChecksAndCaption) {
  SendMessageA(Control("CheckBox2"), BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_FALSE(view_->IsChecked(TCheckBoxId::CheckBox1));
  EXPECT_TRUE(view_->IsChecked(TCheckBoxId::CheckBox2));
  view_->SetWindowCaption("Corvane Installer - Updater");
  EXPECT_EQ(Text(Form1Window()), "Corvane Installer - Updater");
}

TEST_F(WinWindowTest, MessageBoxHasOneOkButtonAndNoIcon) {
  std::atomic<int> buttons{-1}, icons{-1};
  std::string buttonText;
  std::thread closer([&] {
    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i, Sleep(20))
      box = FindWindowA("#32770", "Corvane");
    if (!box) return;
    int b = 0, ic = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
      if (ClassOf(child) == "Button" && IsWindowVisible(child)) {
        ++b;
        buttonText = Text(child);
      } else if ((style & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0)) {
        ++ic;
      }
    }
    buttons = b;
    icons = ic;
    PostMessageA(box, WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(view_->ShowMessageBox("Download failed", "Corvane"), IDOK);
  closer.join();
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(buttonText, "OK");
  EXPECT_EQ(icons, 0);
}

TEST_F(WinWindowTest, ButtonAndCloseReachTheForm) {
  int clicks = 0, closes = 0;
  view_->OnButton1Click = [&] {
    ++clicks;
    throw Exception("Cannot create file C:\\Corvane\\cvnloader.exe");
  };
  view_->OnClosed = [&] { ++closes; };
  testview::ScopedMessageBoxRecorder boxes;
  Application->Title = "Corvane Setup";
  view_->Show();
  SendMessageA(Control("Button1"), BM_CLICK, 0, 0);
  SendMessageA(Control("Button1"), BM_CLICK, 0, 0); // the window goes on after an error
  EXPECT_EQ(clicks, 2);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text, "Cannot create file C:\\Corvane\\cvnloader.exe.");
  EXPECT_EQ(boxes.boxes[0].caption, "Corvane Setup");
  SendMessageA(Form1Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(IsWindowVisible(Form1Window()));
}

TEST(WinWindowStartUp, TheUserSeesTheStartUpLogAndTheCaption) {
  testenv::TempDir appData;
  testenv::ScopedEnv env("APPDATA", appData.path());
  TViewFactory previous = SetViewFactory(CreatePlatformView);
  {
    TForm1 form(nullptr);
    ASSERT_NE(Form1Window(), nullptr);
    EXPECT_EQ(Text(Form1Window()), "Corvane Installer - Updater");
    const std::string log = Text(Control("Memo1"));
    EXPECT_EQ(log.rfind("ticker is cvn\r\ninipath is Corvane\r\n", 0), 0u) << log;
    EXPECT_EQ(log.find("waiting..."), std::string::npos);
  }
  EXPECT_EQ(Form1Window(), nullptr); // the window goes with its form
  SetViewFactory(std::move(previous));
}
