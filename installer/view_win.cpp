// The native Win32 view of the installer window.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/Forms.h"
#include "installer/view.h"
#include "platform/text.h"
#include "platform/win32.h"

namespace {

using namespace form1_layout;

constexpr wchar_t FormClass[] = L"TForm1";
constexpr wchar_t PanelClass[] = L"TPanel";
constexpr int DesignDpi = 96;
constexpr size_t ControlCount = std::size(Controls);

COLORREF SkyBlueColour() {
  return RGB((SkyBlue >> 16) & 0xFF, (SkyBlue >> 8) & 0xFF, SkyBlue & 0xFF);
}

template <class Fn> Fn User32Function(const char* name) {
  // Looked up at run time: older systems lack the per-monitor DPI calls.
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

UINT DpiOf(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn getDpiForWindow = User32Function<Fn>("GetDpiForWindow");
  if (getDpiForWindow && hwnd)
    if (UINT dpi = getDpiForWindow(hwnd)) return dpi;
  HDC dc = GetDC(nullptr);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : DesignDpi;
}

void AdjustForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
  using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const Fn adjust = User32Function<Fn>("AdjustWindowRectExForDpi");
  if (!adjust || !adjust(&rect, style, FALSE, exStyle, dpi))
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

// Only a scalable font counts: where "MS Sans Serif" is the old bitmap font, it shows letters
// outside Western Europe as "?".
int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD type, LPARAM found) {
  if (!(type & TRUETYPE_FONTTYPE)) return 1;
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FontInstalled(const char* face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, platform::Utf8ToWide(face).c_str(), LF_FACESIZE);
  bool found = false;
  HDC dc = GetDC(nullptr);
  EnumFontFamiliesExW(dc, &query, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, dc);
  return found;
}

// The stored face when it is installed, else the system's message font at the stored height.
HFONT MakeFont(const TFontSpec& stored, UINT dpi) {
  LOGFONTW font{};
  font.lfHeight = -MulDiv(stored.PixelHeight, static_cast<int>(dpi), DesignDpi);
  font.lfWeight = stored.Bold ? FW_BOLD : FW_NORMAL;
  const bool isDefault = stored.Name == DefaultFont.Name;
  font.lfCharSet = isDefault ? DEFAULT_CHARSET : ANSI_CHARSET;
  if (FontInstalled(stored.Name)) {
    lstrcpynW(font.lfFaceName, platform::Utf8ToWide(stored.Name).c_str(), LF_FACESIZE);
  } else {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
      lstrcpynW(font.lfFaceName, metrics.lfMessageFont.lfFaceName, LF_FACESIZE);
    font.lfCharSet = DEFAULT_CHARSET;
  }
  return CreateFontIndirectW(&font);
}

class TWinInstallerView : public TInstallerView {
public:
  TWinInstallerView();
  ~TWinInstallerView() override;

  void ClearLog() override { SetWindowTextW(Memo(), L""); }

  void AddLogLine(const std::string& text) override {
    HWND memo = Memo();
    const int end = GetWindowTextLengthW(memo);
    SendMessageW(memo, EM_SETSEL, end, end);
    const std::wstring line = platform::Utf8ToWide(text + "\r\n");
    SendMessageW(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(memo, EM_SCROLLCARET, 0, 0);
  }

  void SetProgressVisible(bool visible) override {
    ShowWindow(Handle("ProgressBar1"), visible ? SW_SHOW : SW_HIDE);
  }

  void SetProgressPosition(int position) override {
    // The control keeps a position outside its range at the nearer end.
    SendMessageW(Handle("ProgressBar1"), PBM_SETPOS, static_cast<WPARAM>(position), 0);
  }

  bool IsChecked(TCheckBoxId box) const override {
    HWND handle = Handle(box == TCheckBoxId::CheckBox1 ? "CheckBox1" : "CheckBox2");
    return SendMessageW(handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }

  void SetWindowCaption(const std::string& text) override {
    SetWindowTextW(window_, platform::Utf8ToWide(text).c_str());
  }

  int ShowMessageBox(const std::string& text, const std::string& caption) override {
    // Wine answers IDCANCEL when the box is closed from its title bar; OK is the only answer.
    win::MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
    return IDOK;
  }

  void Show() override;

  int ProgressMax() const override { return max_; }

  void SetChoicesEnabled(bool enabled) override {
    // A disabled control loses the keyboard: the log holds it meanwhile and gives it back.
    HWND focus = GetFocus();
    for (const char* name : {"CheckBox1", "CheckBox2", "Button1"}) {
      if (!enabled && focus == Handle(name)) {
        pressedFrom_ = focus;
        SetFocus(Memo());
      }
      EnableWindow(Handle(name), enabled);
    }
    if (enabled && pressedFrom_) {
      if (GetFocus() == Memo()) SetFocus(pressedFrom_);
      pressedFrom_ = nullptr;
    }
  }

protected:
  void DoSetProgressMax(int max) override {
    max_ = max;
    SendMessageW(Handle("ProgressBar1"), PBM_SETRANGE32, ProgressMin, max);
  }

private:
  static LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                   DWORD_PTR data);
  static void RegisterClasses();
  LRESULT HandleFormMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandlePanelMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  void HandleCommand(WPARAM wParam, LPARAM lParam);

  void Build();
  void CreateFonts();
  void Layout();
  void Arrange(HWND parent);
  void SetTabOrder();
  void NameForScreenReaders();

  static size_t IndexOf(const char* name);
  HWND Handle(const char* name) const { return controls_[IndexOf(name)]; }
  HWND Memo() const { return Handle("Memo1"); }
  HWND ParentOf(const TControlSpec& item) const {
    return item.Parent ? Handle(item.Parent) : window_;
  }
  int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), DesignDpi); }

  HWND window_ = nullptr;
  HWND controls_[ControlCount] = {};
  HFONT fonts_[ControlCount] = {};
  HFONT windowFont_ = nullptr;
  HBRUSH skyBrush_ = CreateSolidBrush(SkyBlueColour());
  HWND lastFocus_ = nullptr;
  HWND pressedFrom_ = nullptr;
  // Names the log and the progress bar for screen readers; null where the system has no such
  // service.
  IAccPropServices* accessibility_ = nullptr;
  bool comStarted_ = false;
  UINT dpi_ = DesignDpi;
  int max_ = form1_layout::ProgressMax;
  bool shown_ = false;
};

size_t TWinInstallerView::IndexOf(const char* name) {
  for (size_t i = 0; i < ControlCount; ++i)
    if (std::string_view(Controls[i].Name) == name) return i;
  throw Exception(std::string("No control ") + name);
}

void TWinInstallerView::RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);

  WNDCLASSEXW form{};
  form.cbSize = sizeof form;
  form.lpfnWndProc = FormProc;
  form.hInstance = instance;
  form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  form.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  // The program's own icon when the build has put one in, else the system's.
  form.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  if (!form.hIcon) form.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  form.lpszClassName = FormClass;

  WNDCLASSEXW panel{};
  panel.cbSize = sizeof panel;
  panel.style = CS_HREDRAW | CS_VREDRAW;
  panel.lpfnWndProc = PanelProc;
  panel.hInstance = instance;
  panel.hCursor = form.hCursor;
  panel.lpszClassName = PanelClass;

  if (!RegisterClassExW(&form) || !RegisterClassExW(&panel))
    throw Exception("Cannot register the installer window's classes");
  registered = true;
}

TWinInstallerView::TWinInstallerView() {
  RegisterClasses();
  Build();
}

TWinInstallerView::~TWinInstallerView() {
  if (accessibility_) {
    for (const char* name : {"Memo1", "ProgressBar1"})
      accessibility_->ClearHwndProps(Handle(name), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                     &PROPID_ACC_NAME, 1);
    accessibility_->Release();
  }
  if (comStarted_) CoUninitialize();
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    for (HWND control : controls_)
      if (control) SetWindowLongPtrW(control, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (HFONT font : fonts_)
    if (font && font != windowFont_) DeleteObject(font);
  if (windowFont_) DeleteObject(windowFont_);
  DeleteObject(skyBrush_);
}

void TWinInstallerView::Build() {
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, FormClass, platform::Utf8ToWide(Caption).c_str(),
                            style, StoredLeft, StoredTop, ClientWidth, ClientHeight, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) throw Exception("Cannot create the installer window");
  dpi_ = DpiOf(window_);

  for (size_t i = 0; i < ControlCount; ++i) {
    const TControlSpec& item = Controls[i];
    const std::string_view kind = item.Kind;
    const wchar_t* cls = L"STATIC";
    DWORD childStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    if (kind == "Panel") {
      cls = PanelClass;
      childStyle |= WS_CLIPCHILDREN;
      exStyle = WS_EX_CONTROLPARENT;
    } else if (kind == "ProgressBar") {
      cls = PROGRESS_CLASSW;
      childStyle |= PBS_SMOOTH;
    } else if (kind == "Memo") {
      cls = L"EDIT";
      childStyle |= WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
      exStyle = WS_EX_CLIENTEDGE;
    } else if (kind == "Label") {
      childStyle |= SS_NOPREFIX |
                    (item.Align == TAlign::Top ? SS_CENTER | SS_CENTERIMAGE : SS_LEFTNOWORDWRAP);
    } else if (kind == "CheckBox") {
      cls = L"BUTTON";
      childStyle |= WS_TABSTOP | BS_AUTOCHECKBOX;
    } else if (kind == "Button") {
      cls = L"BUTTON";
      // Not the default button: Enter presses it only while it has the focus.
      childStyle |= WS_TABSTOP | BS_PUSHBUTTON;
    }
    HWND parent = ParentOf(item);
    HWND control =
        CreateWindowExW(exStyle, cls, L"", childStyle, item.Left, item.Top, item.Width, item.Height,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(FirstControlId + i)),
                        GetModuleHandleW(nullptr), nullptr);
    if (!control) throw Exception(std::string("Cannot create ") + item.Name);
    controls_[i] = control;
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  HWND memo = Memo();
  SetWindowSubclass(memo, MemoProc, 0, 0);
  // No 32 KB cap: a long install must not lose its last log lines.
  SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);
  for (size_t i = 0; i < ControlCount; ++i) {
    const std::string text = Controls[i].Kind == std::string_view("Memo")
                                 ? std::string(Controls[i].Text) + "\r\n"
                                 : Controls[i].Text;
    SetWindowTextW(controls_[i], platform::Utf8ToWide(text).c_str());
  }
  SendMessageW(Handle("ProgressBar1"), PBM_SETRANGE32, ProgressMin, form1_layout::ProgressMax);
  SendMessageW(Handle("ProgressBar1"), PBM_SETPOS, ProgressPosition, 0);

  CreateFonts();
  SetTabOrder();
  Layout();
  NameForScreenReaders();
}

// The log and the progress bar have no label beside them that a screen reader could take their
// names from: the system's accessibility annotations give them one. The service is oleacc's,
// created through COM, which loads it from where it is registered in System32.
void TWinInstallerView::NameForScreenReaders() {
  comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IAccPropServices, reinterpret_cast<void**>(&accessibility_)))) {
    accessibility_ = nullptr;
    return;
  }
  for (auto [control, name] :
       {std::pair{"Memo1", LogName}, std::pair{"ProgressBar1", ProgressName}})
    accessibility_->SetHwndPropStr(Handle(control), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   PROPID_ACC_NAME, platform::Utf8ToWide(name).c_str());
}

void TWinInstallerView::CreateFonts() {
  HFONT oldWindowFont = windowFont_;
  HFONT old[ControlCount];
  std::copy(std::begin(fonts_), std::end(fonts_), old);
  windowFont_ = MakeFont(DefaultFont, dpi_);
  for (size_t i = 0; i < ControlCount; ++i) {
    const TControlSpec& item = Controls[i];
    if (item.Kind == std::string_view("ProgressBar")) continue;
    fonts_[i] = item.Font.Name ? MakeFont(item.Font, dpi_) : windowFont_;
    SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[i]), TRUE);
  }
  for (HFONT font : old)
    if (font && font != oldWindowFont) DeleteObject(font);
  if (oldWindowFont) DeleteObject(oldWindowFont);
}

// Every control at its stored place scaled to the window's DPI; docked ones are then arranged.
void TWinInstallerView::Layout() {
  RECT outer{0, 0, Scale(ClientWidth), Scale(ClientHeight)};
  AdjustForDpi(outer, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)),
               static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)), dpi_);
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  for (size_t i = 0; i < ControlCount; ++i) {
    const TControlSpec& item = Controls[i];
    int width = Scale(item.Width);
    // Labels size themselves to their text, so a substitute font's wider glyphs do not clip it.
    if (item.Kind == std::string_view("Label") && item.Align == TAlign::None) {
      HDC dc = GetDC(controls_[i]);
      HGDIOBJ previous = SelectObject(dc, fonts_[i]);
      SIZE extent{};
      const std::wstring text = platform::Utf8ToWide(item.Text);
      if (GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent))
        width = std::max(width, static_cast<int>(extent.cx));
      SelectObject(dc, previous);
      ReleaseDC(controls_[i], dc);
    }
    MoveWindow(controls_[i], Scale(item.Left), Scale(item.Top), width, Scale(item.Height), TRUE);
  }
  Arrange(window_);
  for (size_t i = 0; i < ControlCount; ++i)
    if (Controls[i].Kind == std::string_view("Panel")) Arrange(controls_[i]);
}

// Docked controls share their parent's client area: top and bottom ones keep their height and
// follow the width, the client one takes what is left. Undocked ones keep their place.
void TWinInstallerView::Arrange(HWND parent) {
  RECT area;
  GetClientRect(parent, &area);
  if (parent != window_) InflateRect(&area, -PanelBevel, -PanelBevel);
  for (TAlign pass : {TAlign::Top, TAlign::Bottom, TAlign::Client}) {
    for (size_t i = 0; i < ControlCount; ++i) {
      const TControlSpec& item = Controls[i];
      if (item.Align != pass || ParentOf(item) != parent) continue;
      const int width = std::max(0L, area.right - area.left);
      const int height = Scale(item.Height);
      switch (pass) {
      case TAlign::Top:
        MoveWindow(controls_[i], area.left, area.top, width, height, TRUE);
        area.top += height;
        break;
      case TAlign::Bottom:
        MoveWindow(controls_[i], area.left, area.bottom - height, width, height, TRUE);
        area.bottom -= height;
        break;
      default:
        MoveWindow(controls_[i], area.left, area.top, width, std::max(0L, area.bottom - area.top),
                   TRUE);
        break;
      }
    }
  }
}

// Dialog navigation follows the sibling order: each parent's focusable controls go in their
// stored tab order.
void TWinInstallerView::SetTabOrder() {
  std::vector<size_t> order;
  for (size_t i = 0; i < ControlCount; ++i)
    if (Controls[i].TabOrder >= 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [](size_t a, size_t b) { return Controls[a].TabOrder < Controls[b].TabOrder; });
  for (size_t i : order)
    SetWindowPos(controls_[i], HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void TWinInstallerView::Show() {
  if (!shown_) {
    shown_ = true;
    RECT rect;
    GetWindowRect(window_, &rect);
    HMONITOR monitor = MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT desktop{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (GetMonitorInfoW(monitor, &info)) desktop = info.rcMonitor;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    SetWindowPos(window_, nullptr, desktop.left + (desktop.right - desktop.left - width) / 2,
                 desktop.top + (desktop.bottom - desktop.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

void TWinInstallerView::HandleCommand(WPARAM wParam, LPARAM lParam) {
  HWND button = Handle("Button1");
  const bool clicked = reinterpret_cast<HWND>(lParam) == button && HIWORD(wParam) == BN_CLICKED;
  // The dialog manager reports Enter as IDOK when no default button is set; it presses Button1
  // only while Button1 has the focus.
  const bool enter = LOWORD(wParam) == IDOK && HIWORD(wParam) == 0 && GetFocus() == button;
  if (clicked || enter) FireButton1Click();
}

LRESULT CALLBACK TWinInstallerView::FormProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<TWinInstallerView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!view) return DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return view->HandleFormMessage(hwnd, msg, wParam, lParam);
  } catch (...) {
    Application->HandleException(nullptr);
    return 0;
  }
}

LRESULT TWinInstallerView::HandleFormMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_SIZE:
    if (controls_[ControlCount - 1]) Arrange(hwnd);
    return 0;
  case WM_COMMAND:
    HandleCommand(wParam, lParam);
    return 0;
  case WM_ACTIVATE:
    // Focus leaves with the window and comes back to the control that had it.
    if (LOWORD(wParam) == WA_INACTIVE) {
      HWND focus = GetFocus();
      if (focus && IsChild(hwnd, focus)) lastFocus_ = focus;
    } else {
      HWND target =
          lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : GetNextDlgTabItem(hwnd, nullptr, FALSE);
      if (target) SetFocus(target);
    }
    return 0;
  case WM_NEXTDLGCTL: {
    // A multi-line edit passes Tab on to its parent this way.
    HWND target = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                                 : GetNextDlgTabItem(hwnd, GetFocus(), wParam != 0);
    if (target) SetFocus(target);
    return 0;
  }
  case WM_DPICHANGED: {
    dpi_ = HIWORD(wParam);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    CreateFonts();
    Layout();
    SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
  }
  case WM_CLOSE:
    if (CloseIgnored) return 0;
    // The form decides what closing means; the window goes with the view.
    ShowWindow(hwnd, SW_HIDE);
    FireClosed();
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

// A multi-line edit in a window with the dialog keyboard sends WM_CLOSE to its parent on Escape,
// which would close the installer and cancel its install. Escape does nothing here.
LRESULT CALLBACK TWinInstallerView::MemoProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR, DWORD_PTR) {
  if ((msg == WM_KEYDOWN || msg == WM_KEYUP) && wParam == VK_ESCAPE) return 0;
  if (msg == WM_CHAR && wParam == 0x1B) return 0;
  if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, MemoProc, 0);
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK TWinInstallerView::PanelProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* view = reinterpret_cast<TWinInstallerView*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!view) return DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return view->HandlePanelMessage(hwnd, msg, wParam, lParam);
  } catch (...) {
    Application->HandleException(nullptr);
    return 0;
  }
}

LRESULT TWinInstallerView::HandlePanelMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
  case WM_ERASEBKGND: {
    RECT rect;
    GetClientRect(hwnd, &rect);
    FillRect(reinterpret_cast<HDC>(wParam), &rect, skyBrush_);
    return 1;
  }
  case WM_PAINT: {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT rect;
    GetClientRect(hwnd, &rect);
    DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
    EndPaint(hwnd, &paint);
    return 0;
  }
  case WM_PRINTCLIENT: {
    RECT rect;
    GetClientRect(hwnd, &rect);
    FillRect(reinterpret_cast<HDC>(wParam), &rect, skyBrush_);
    DrawEdge(reinterpret_cast<HDC>(wParam), &rect, BDR_RAISEDINNER, BF_RECT);
    return 0;
  }
  case WM_CTLCOLORSTATIC: {
    // Labels and check boxes show the panel through.
    HDC dc = reinterpret_cast<HDC>(wParam);
    SetBkColor(dc, SkyBlueColour());
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(skyBrush_);
  }
  case WM_SIZE:
    Arrange(hwnd);
    return 0;
  case WM_COMMAND:
    HandleCommand(wParam, lParam);
    return 0;
  default:
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

} // namespace

std::unique_ptr<TInstallerView> CreatePlatformView() {
  return std::make_unique<TWinInstallerView>();
}
