// The installer window as the logic sees it: the view operations, and the window's stored layout.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/Classes.h"

enum class TCheckBoxId { CheckBox1, CheckBox2 };

// One implementation per toolkit (view_qt.cpp, view_win.cpp), and a recording one for tests.
class TInstallerView {
public:
  virtual ~TInstallerView() = default;

  virtual void ClearLog() = 0;
  // One call is one line, however many line breaks text contains.
  virtual void AddLogLine(const std::string& text) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  // A maximum below 0 raises EInvalidOperation "TProgressBar property out of range" and keeps
  // the range; setting the maximum the bar already has changes nothing.
  void SetProgressMax(int max);
  // Handed to the bar unchanged; the bar shows it at the nearer end of its range.
  virtual void SetProgressPosition(int position) = 0;
  virtual bool IsChecked(TCheckBoxId box) const = 0;
  virtual void SetWindowCaption(const std::string& text) = 0;
  // One OK button, no icon, modal to the application; returns IDOK however it is closed.
  virtual int ShowMessageBox(const std::string& text, const std::string& caption) = 0;

  // The window appears; on the first show it is centred on the desktop.
  virtual void Show() = 0;

  virtual int ProgressMax() const = 0;

  // Set by the form. The view calls them through Fire*, which is where an exception that leaves
  // a handler is caught and shown, so that the message loop goes on.
  std::function<void()> OnButton1Click;
  std::function<void()> OnClosed;
  // Set for an unattended run with /NOCANCEL: the window's close is refused and nothing is told.
  bool CloseIgnored = false;

  // The boxes and Next take no input while a press runs (FireButton1Click), so that what the user
  // chose is what the press installs.
  virtual void SetChoicesEnabled(bool enabled) { (void)enabled; }

protected:
  virtual void DoSetProgressMax(int max) = 0;
  void FireButton1Click();
  void FireClosed();
};

using TViewFactory = std::function<std::unique_ptr<TInstallerView>()>;

// The factory TForm1 takes its view from; returns the one it replaces.
TViewFactory SetViewFactory(TViewFactory factory);
// Raises Exception when no factory is set.
std::unique_ptr<TInstallerView> CreateInstallerView();
// The toolkit's view (view_qt.cpp or view_win.cpp).
std::unique_ptr<TInstallerView> CreatePlatformView();

// The stored layout of TForm1. Positions are left, top, width, height within the parent's
// client area, in pixels at 96 dpi.
namespace form1_layout {

enum class TAlign { None, Top, Bottom, Client };

struct TFontSpec {
  const char* Name; // nullptr: the window's default font
  int PixelHeight;
  bool Bold;
};

struct TControlSpec {
  const char* Name;
  const char* Kind;   // "Panel", "ProgressBar", "Memo", "Label", "CheckBox", "Button"
  const char* Parent; // nullptr: the window
  int Left, Top, Width, Height;
  TAlign Align;
  const char* Text;
  TFontSpec Font;
  int TabOrder; // -1: takes no focus
};

inline constexpr const char* Caption = "CVN Installer - Updater";
inline constexpr int StoredLeft = 200, StoredTop = 403;
inline constexpr int OuterWidth = 479, OuterHeight = 419;
inline constexpr int ClientWidth = 463, ClientHeight = 380;
inline constexpr uint32_t SkyBlue = 0xA6CAF0; // RGB, the panels
inline constexpr int PanelBevel = 1;
inline constexpr TFontSpec DefaultFont{"MS Sans Serif", 11, false};
inline constexpr TFontSpec OpenSans19{"Open Sans", 19, false};
inline constexpr TFontSpec OpenSans16{"Open Sans", 16, false};
inline constexpr TFontSpec OpenSans16Bold{"Open Sans", 16, true};
inline constexpr TFontSpec OpenSans13{"Open Sans", 13, false};
inline constexpr TFontSpec NoFont{nullptr, 0, false};

// In creation order: parents before their children.
inline constexpr TControlSpec Controls[] = {
    {"Panel2", "Panel", nullptr, 0, 352, 463, 28, TAlign::Bottom, "", NoFont, 0},
    {"ProgressBar1", "ProgressBar", "Panel2", 1, 0, 461, 27, TAlign::Bottom, "", NoFont, 0},
    {"Memo1", "Memo", nullptr, 0, 181, 463, 171, TAlign::Client, "waiting...", NoFont, 1},
    {"Panel1", "Panel", nullptr, 0, 0, 463, 181, TAlign::Top, "", NoFont, 2},
    {"Label1", "Label", "Panel1", 1, 1, 461, 26, TAlign::Top,
     "Please make your selections and click 'next'", OpenSans19, -1},
    {"CheckBox1", "CheckBox", "Panel1", 24, 40, 245, 20, TAlign::None, "program", OpenSans16, 0},
    {"Label2", "Label", "Panel1", 24, 64, 254, 18, TAlign::None,
     "This will install / update the wallet program", OpenSans13, -1},
    {"CheckBox2", "CheckBox", "Panel1", 24, 116, 229, 20, TAlign::None, "blockchain", OpenSans16,
     1},
    {"Label3", "Label", "Panel1", 24, 144, 174, 18, TAlign::None,
     "This will install the blockchain", OpenSans13, -1},
    {"Button1", "Button", "Panel1", 352, 140, 75, 25, TAlign::None, "Next", OpenSans16Bold, 2},
};

// The Windows view's control IDs: FirstControlId plus the control's index in Controls.
inline constexpr int FirstControlId = 100;

// ProgressBar1 at start.
inline constexpr int ProgressMin = 0, ProgressMax = 100, ProgressPosition = 0;

// What a screen reader calls the two controls that have no label beside them.
inline constexpr const char* LogName = "Log";
inline constexpr const char* ProgressName = "Progress";

} // namespace form1_layout
